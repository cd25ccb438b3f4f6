// The command slot against simulated readers: Ultralight reads and writes over the text and the
// binary protocol, Mifare Classic reads and writes with each key, the signal patterns and the
// idle indication, the failures of each kind, and a command ended by a break, by a newer command
// or by stopping the reader.
#include "Messages.h"
#include "FramedTestRig.h"

#include <gtest/gtest.h>

using namespace readertest;
using simctl::SimReaderConfig;

namespace {

const std::vector<uint8_t> Uid1K = {0x04, 0xA1, 0xB2, 0xC3};
const std::vector<uint8_t> UidUL = {0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};

// One binary-mode reader for a whole test, over TCP or over a COM port.
class Commands : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        SimReaderConfig config = MifareSim();
        config.storedKeys = {"FFFFFFFFFFFF", "A0A1A2A3A4A5", "3C7A91E5B20D"};
        s = std::make_unique<SimReader>(sim, config, std::string(GetParam()) == "com" ? 86 : 0);
        reader = StartReader(sink, s->Port(), Timings(), ReaderFlagBinary);
        ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, FramedWaitMs));
    }
    void TearDown() override
    {
        reader.reset();
        s.reset();
    }
    // The frames heard since the last call, with the poll's and the indication's left out.
    std::vector<std::string> CardFrames()
    {
        std::vector<std::string> out;
        for (const auto& hex : HeardFrames(sim, s->Id(), true)) {
            std::string cmd = hex.substr(0, 2);
            if (cmd == "50" || cmd == "51" || cmd == "52" || cmd == "53")
                out.push_back(hex);
        }
        return out;
    }
    std::string ClassicBlocks() { return sim.Info(s->Id())["unit"]["card"]["classic"]["blocks"].AsString(); }

    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
    std::unique_ptr<SimReader> s;
    std::unique_ptr<CReader> reader;
};

INSTANTIATE_TEST_SUITE_P(Transport, Commands, testing::Values("tcp", "com"));

// The signal frames (command 0x20) among frames heard.
std::vector<std::string> SignalFrames(const std::vector<simctl::CSimControl::Frame>& frames)
{
    std::vector<std::string> out;
    for (const auto& f : frames)
        if (f.hex.compare(0, 2, "20") == 0)
            out.push_back(f.hex);
    return out;
}

} // namespace

TEST(CommandSlot, EmptySlotAndPlacingWithoutAThread)
{
    CReader reader;
    ReaderCommandSnapshot snap = Snapshot(reader);
    EXPECT_FALSE(snap.HasCommand);
    EXPECT_EQ(S_OK, snap.Status);
    EXPECT_EQ(0u, snap.Code);
    EXPECT_EQ(0xFFFFFFFFu, snap.Answer);

    auto read = UlCommand(READER_CMD_READ_UL, 4, 2);
    read->Progress = 7;
    reader.PlaceCommand(read);
    snap = Snapshot(reader);
    EXPECT_TRUE(snap.HasCommand);
    EXPECT_EQ(E_PENDING, snap.Status);
    EXPECT_EQ(1u, snap.Code);
    EXPECT_EQ(0u, snap.Progress);
    EXPECT_EQ(2u, snap.Total);
    reader.BreakCommand();
    EXPECT_EQ(E_ABORT, reader.GetCommandStatus());
    EXPECT_EQ(read, reader.GetCommand());
}

TEST_P(Commands, UltralightPagesAreReadAndWritten)
{
    sim.Present(s->Id(), Card("UL", UidUL));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
    CardFrames();
    auto read = UlCommand(READER_CMD_READ_UL, 4, 6);
    ASSERT_EQ(S_OK, RunCommand(*reader, sink, read));
    ReaderCommandSnapshot snap = Snapshot(*reader);
    EXPECT_EQ(UltralightPages(4, 24), snap.Data);
    EXPECT_EQ(6u, snap.Progress);
    EXPECT_EQ(6u, snap.Total);
    EXPECT_EQ(std::vector<std::string>({"5104", "5108"}), CardFrames());

    // Five bytes for two pages: the second page is padded with zero bytes.
    auto write = UlCommand(READER_CMD_WRITE_UL, 6, 2, {1, 2, 3, 4, 5});
    ASSERT_EQ(S_OK, RunCommand(*reader, sink, write));
    EXPECT_EQ(2u, Snapshot(*reader).Progress);
    EXPECT_EQ(std::vector<std::string>({"530601020304", "530705000000"}), CardFrames());
    std::string memory = sim.Info(s->Id())["unit"]["card"]["memory"].AsString();
    EXPECT_EQ("0102030405000000", memory.substr(6 * 8, 16));

    // A locked page and a page beyond the card are refused by the reader.
    EXPECT_EQ(PE_READER_ERROR, RunCommand(*reader, sink, UlCommand(READER_CMD_WRITE_UL, 1, 1, {0, 0, 0, 0})));
    EXPECT_EQ(PE_READER_ERROR, RunCommand(*reader, sink, UlCommand(READER_CMD_READ_UL, 16, 1)));
    // A page range beyond what one byte addresses never reaches the reader.
    CardFrames();
    EXPECT_EQ(E_INVALIDARG, RunCommand(*reader, sink, UlCommand(READER_CMD_READ_UL, 250, 10)));
    EXPECT_TRUE(CardFrames().empty());
    EXPECT_EQ(5u, sink.Count(EventKind::Command));
}

TEST_P(Commands, ClassicBlocksSkipTrailersAndAuthenticatePerSector)
{
    sim.Present(s->Id(), Card("M1K", Uid1K));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
    CardFrames();
    auto read = McCommand(READER_CMD_READ_MC, 1, 2, 5);
    read->SkipTrailers = 1;
    ASSERT_EQ(S_OK, RunCommand(*reader, sink, read));
    ReaderCommandSnapshot snap = Snapshot(*reader);
    std::vector<uint8_t> expected;
    for (unsigned block : {6u, 8u, 9u, 10u, 12u}) {
        auto b = ClassicBlock(block);
        expected.insert(expected.end(), b.begin(), b.end());
    }
    EXPECT_EQ(expected, snap.Data);
    EXPECT_EQ(5u, snap.Progress);
    EXPECT_EQ(0xFFFFFFFFu, snap.Answer);
    const std::string key = "0DB2E5917A3C"; // the default key, least significant byte first
    EXPECT_EQ(std::vector<std::string>({"500206" + key, "5106", "500208" + key, "5108", "5109", "510A",
                                        "50020C" + key, "510C"}),
              CardFrames());

    // Twenty bytes to two blocks: the second is the last four bytes and twelve zero bytes.
    std::vector<uint8_t> data;
    for (uint8_t i = 1; i <= 20; ++i)
        data.push_back(i);
    auto write = McCommand(READER_CMD_WRITE_MC, 0, 1, 2, data);
    ASSERT_EQ(S_OK, RunCommand(*reader, sink, write));
    EXPECT_EQ("0102030405060708090A0B0C0D0E0F10" "11121314000000000000000000000000",
              ClassicBlocks().substr(32, 64));

    // Keys stored in the reader: the answer word names the key that fitted; key B by flag.
    CardFrames();
    auto stored = McCommand(READER_CMD_READ_MC, 3, 0, 1);
    stored->KeyFlags = READER_CMD_KEY_STORED | READER_CMD_KEY_B;
    stored->KeyMask = 0x6;
    ASSERT_EQ(S_OK, RunCommand(*reader, sink, stored));
    snap = Snapshot(*reader);
    EXPECT_EQ(2u, snap.Answer);
    EXPECT_EQ(ClassicBlock(12), snap.Data);
    EXPECT_EQ("50010C06000000", CardFrames().front().substr(0, 14));
}

TEST_P(Commands, FailuresCompleteWithTheirCodes)
{
    struct Case
    {
        const char* name;
        std::shared_ptr<ReaderCommand> command;
        HRESULT status;
    };
    auto badKey = McCommand(READER_CMD_READ_MC, 1, 0, 1);
    badKey->Key = 0x010203040506ULL;
    auto unknown = std::make_shared<CReader::_CMD_MUL_INFO>(9);
    auto mismatch = std::make_shared<CReader::_CMD_SIGN_INFO>();
    mismatch->Code = READER_CMD_READ_MC;

    // No card at all.
    CardFrames();
    EXPECT_EQ(PE_NO_KEY, RunCommand(*reader, sink, McCommand(READER_CMD_READ_MC, 1, 0, 1)));
    EXPECT_EQ(PE_NO_KEY, RunCommand(*reader, sink, UlCommand(READER_CMD_READ_UL, 4, 1)));
    EXPECT_TRUE(CardFrames().empty());

    sim.Present(s->Id(), Card("M1K", Uid1K));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
    Case cases[] = {
        {"not an Ultralight", UlCommand(READER_CMD_READ_UL, 4, 1), PE_NO_KEY},
        {"sector 16 of a 1K", McCommand(READER_CMD_READ_MC, 16, 0, 1), E_INVALIDARG},
        {"block 4 of a small sector", McCommand(READER_CMD_READ_MC, 2, 4, 1), E_INVALIDARG},
        {"wrong key", badKey, PE_KEY_AUTH},
        {"unknown code", unknown, E_NOTIMPL},
        {"record of another kind", mismatch, E_INVALIDARG},
        {"bad pattern", SignalCommand(L"1 2 x 100", 0), E_INVALIDARG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.status, RunCommand(*reader, sink, c.command));
    }

    // The exchange's own codes reach the command.
    struct Reply
    {
        const char* match;
        int status;
        std::vector<uint8_t> answer;
        HRESULT code;
    } replies[] = {
        {"5105", 6, {}, PE_NO_KEY},
        {"5105", 3, {}, PE_READER_ERROR},
        {"5105", 0x55, {1, 2, 3}, PE_BAD_REPLY},
        {"23", 0x07, {}, PE_READER_ERROR},
        {"45", 0x55, {0x04, 0x00}, PE_BAD_REPLY},
    };
    for (const Reply& r : replies) {
        SCOPED_TRACE(std::string(r.match) + " " + std::to_string(r.status));
        // Until cleared: the poll may send the same request first.
        sim.OverrideFrame(s->Id(), r.match, r.status, r.answer);
        EXPECT_EQ(r.code, RunCommand(*reader, sink, McCommand(READER_CMD_READ_MC, 1, 1, 1)));
        sim.ClearOverrides(s->Id());
    }
    sim.OverrideFrameRaw(s->Id(), "5105", {});
    EXPECT_EQ(PE_READ_TIMEOUT, RunCommand(*reader, sink, McCommand(READER_CMD_READ_MC, 1, 1, 1)));
    sim.ClearOverrides(s->Id());
    EXPECT_EQ(S_OK, RunCommand(*reader, sink, McCommand(READER_CMD_READ_MC, 1, 1, 1)));
    EXPECT_EQ(READER_STATE_CONNECTED, reader->GetState(NO_BUS_ADDRESS));
}

// A frame with the request's sequence number and a success status counts only when it names the
// request's command: a read reply, a key event or a signal reply under that number is no answer.
TEST_P(Commands, ReplyCountsOnlyWithTheCommandItAnswers)
{
    sim.Present(s->Id(), Card("M1K", Uid1K));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
    const std::string blocks = ClassicBlocks();
    auto foreign = [&](const char* match, int command, const std::vector<uint8_t>& answer) {
        sim.Call("override", simctl::JsonFields()
                                 .Add("id", s->Id())
                                 .Add("match", std::string("frame:") + match)
                                 .Add("status", 0x55)
                                 .AddHex("answer_hex", answer)
                                 .Add("reply_command", command));
    };
    const std::vector<uint8_t> sixteen(16, 0xEE);
    std::vector<uint8_t> data(16, 0x77);
    struct Case
    {
        const char* name;
        const char* match;
        int command;
        std::vector<uint8_t> answer;
        std::shared_ptr<ReaderCommand> run;
        HRESULT status;
    } cases[] = {
        {"write answered by a read reply", "5205", 0x51, sixteen, McCommand(READER_CMD_WRITE_MC, 1, 1, 1, data),
         PE_READ_TIMEOUT},
        {"write answered by a key event", "5205", 0x45, {0x00, 0x04, 0x08, 1, 2, 3, 4}, McCommand(READER_CMD_WRITE_MC, 1, 1, 1, data),
         PE_READ_TIMEOUT},
        {"read answered by a signal reply", "5105", 0x20, sixteen, McCommand(READER_CMD_READ_MC, 1, 1, 1),
         PE_READ_TIMEOUT},
        {"authentication answered by a scan reply", "5002", 0x23, {}, McCommand(READER_CMD_READ_MC, 1, 1, 1),
         PE_KEY_AUTH},
        {"signal answered by a read reply", "2043", 0x51, {0x00}, SignalCommand(L"1 100", 0), PE_READ_TIMEOUT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        foreign(c.match, c.command, c.answer);
        EXPECT_EQ(c.status, RunCommand(*reader, sink, c.run));
        sim.ClearOverrides(s->Id());
    }
    EXPECT_EQ(blocks, ClassicBlocks()); // nothing was written
    EXPECT_EQ(S_OK, RunCommand(*reader, sink, McCommand(READER_CMD_READ_MC, 1, 1, 1)));
    EXPECT_EQ(ClassicBlock(5), Snapshot(*reader).Data);
}

// Replies that are not the reader's answer to the request, each against a reader of its own.
class CardReplies : public testing::Test
{
protected:
    simctl::CSimControl sim;
    ReadKeysGuard keys;
    CRecordingSink sink;
};

// A broken frame whose header claims 255 bytes uses up one try, not every try of the request.
TEST_F(CardReplies, EveryTryStartsAFreshFrameHunt)
{
    SimReader s(sim, MifareSim(), 0);
    sim.Present(s.Id(), Card("M1K", Uid1K), -1, false);
    Timings t;
    t.ReqTries = 2;
    auto reader = StartReader(sink, s.Port(), t, ReaderFlagBinary);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, FramedWaitMs));
    sim.OverrideFrameRaw(s.Id(), "5105", {0x02, 0x00, 0xFF}, 1);
    EXPECT_EQ(S_OK, RunCommand(*reader, sink, McCommand(READER_CMD_READ_MC, 1, 1, 1)));
    EXPECT_EQ(ClassicBlock(5), Snapshot(*reader).Data);
}

TEST_P(Commands, SignalPatternsAndTheIdleIndication)
{
    HeardFrames(sim, s->Id(), true);
    ASSERT_EQ(S_OK, RunCommand(*reader, sink, SignalCommand(L"2 1 3 250", 0)));
    ASSERT_TRUE(WaitHeard(sim, s->Id(), "20AB00", 2000));
    auto frames = sim.Frames(s->Id(), true);
    double stepAt = -1, idleAt = -1;
    for (const auto& f : frames) {
        if (f.hex == "205E04")
            stepAt = f.ms;
        if (f.hex == "20AB00" && idleAt < 0)
            idleAt = f.ms;
    }
    ASSERT_GE(stepAt, 0);
    EXPECT_GE(idleAt - stepAt, 230.0);
    EXPECT_LT(idleAt - stepAt, 900.0);

    // The first step with the first-step flag, then the others; an empty step plays nothing.
    ASSERT_EQ(S_OK, RunCommand(*reader, sink, SignalCommand(L"111 100; 2 2 2 100;", 1)));
    ASSERT_TRUE(WaitHeard(sim, s->Id(), "20AB00", 2000));
    EXPECT_EQ(std::vector<std::string>({"20FF01", "206A01", "20AB00"}),
              SignalFrames(sim.Frames(s->Id(), true)));

    // An answer with both high bits ends the pattern.
    sim.OverrideFrame(s->Id(), "20", 0x55, {0xC0}, 1);
    ASSERT_EQ(S_OK, RunCommand(*reader, sink, SignalCommand(L"1 1 1 100;2 2 2 100", 0)));
    ASSERT_TRUE(WaitHeard(sim, s->Id(), "20AB00", 2000));
    EXPECT_EQ(std::vector<std::string>({"207F01", "20AB00"}), SignalFrames(sim.Frames(s->Id(), true)));

    // An empty pattern is the idle indication at once.
    ASSERT_EQ(S_OK, RunCommand(*reader, sink, SignalCommand(L"", 1)));
    EXPECT_EQ(std::vector<std::string>({"20AB00"}), SignalFrames(sim.Frames(s->Id(), true)));
    // A failing step is the command's failure.
    sim.OverrideFrame(s->Id(), "20", 0x02, {}, 1);
    EXPECT_EQ(PE_READER_ERROR, RunCommand(*reader, sink, SignalCommand(L"1 0", 1)));
}

TEST_P(Commands, BreakNewerCommandAndStopEndAPendingCommand)
{
    simctl::SimCard card = Card("UL", UidUL);
    card.pages = 256;
    sim.Present(s->Id(), card);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
    sim.Set(s->Id(), simctl::JsonFields().Add("reply_delay_ms", 60));

    // A break during a long read: E_ABORT stays, no event, the read stops.
    auto longRead = UlCommand(READER_CMD_READ_UL, 0, 200);
    size_t events = sink.Count(EventKind::Command);
    reader->PlaceCommand(longRead);
    ASSERT_TRUE(WaitUntil([&] { return longRead->Progress >= 8; }, FramedWaitMs));
    reader->BreakCommand();
    Sleep(400);
    uint32_t stopped = longRead->Progress;
    Sleep(300);
    EXPECT_EQ(stopped, longRead->Progress.load());
    EXPECT_LT(stopped, 40u);
    EXPECT_EQ(E_ABORT, reader->GetCommandStatus());
    EXPECT_EQ(events, sink.Count(EventKind::Command));

    // A newer command ends the pending one; only the newer one completes.
    auto second = UlCommand(READER_CMD_READ_UL, 0, 200);
    reader->PlaceCommand(second);
    ASSERT_TRUE(WaitUntil([&] { return second->Progress >= 4; }, FramedWaitMs));
    reader->BreakCommand();
    EXPECT_EQ(S_OK, RunCommand(*reader, sink, SignalCommand(L"", 1)));
    Sleep(300);
    EXPECT_EQ(events + 1, sink.Count(EventKind::Command));
    EXPECT_LT(second->Progress.load(), 40u);
    ReaderCommandSnapshot snap = Snapshot(*reader);
    EXPECT_EQ(READER_CMD_SIGNAL, snap.Code);
    EXPECT_EQ(S_OK, snap.Status);

    // Stopping the reader with a command pending returns at once and ends the command.
    sim.Set(s->Id(), simctl::JsonFields().Add("reply_delay_ms", 2000));
    Timings t;
    reader->SetTimings(t.ConnectTimeout, t.ConnectPeriod, t.RxPeriod, 5000, 1);
    reader->PlaceCommand(UlCommand(READER_CMD_READ_UL, 0, 200));
    Sleep(300);
    DWORD start = GetTickCount();
    reader->Stop();
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(E_ABORT, reader->GetCommandStatus());
    EXPECT_EQ(events + 2, sink.Count(EventKind::Command));
}

// --- Where the commands are not carried --------------------------------------------------

TEST(CommandReaders, CommandsOfOtherProtocolsAndModels)
{
    simctl::CSimControl sim;
    ReadKeysGuard keys;
    struct Case
    {
        const char* name;
        SimReaderConfig config;
        uint32_t flags;
        std::shared_ptr<ReaderCommand> command;
        HRESULT status;
    } cases[] = {
        {"Classic in text mode", MifareSim(), 0, McCommand(READER_CMD_READ_MC, 1, 0, 1), PE_NOT_SUPPORTED},
        {"signal in text mode", MifareSim(), 0, SignalCommand(L"", 1), PE_NOT_SUPPORTED},
        {"Lintra Plus in binary mode", MifareSim(8), ReaderFlagBinary, UlCommand(READER_CMD_READ_UL, 4, 1),
         PE_NOT_SUPPORTED},
        {"Pelto", PeltoSim(), 0, UlCommand(READER_CMD_READ_UL, 4, 1), PE_NOT_SUPPORTED},
        // Only Kora USB, Lintra Multi and Kora USB MF write pages over text.
        {"Kora Duo over text", SimReaderConfig(), 0, UlCommand(READER_CMD_WRITE_UL, 4, 1, {1, 2, 3, 4}),
         PE_NOT_SUPPORTED},
        {"Kora USB over text", SimReaderConfig(), 0, UlCommand(READER_CMD_READ_UL, 4, 6), S_OK},
    };
    cases[4].config.identity.model = 6;
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.config.pace = 0;
        CRecordingSink sink;
        SimReader s(sim, c.config, 0);
        if (c.config.protocol != "pelto")
            sim.Present(s.Id(), Card("UL", UidUL), -1, false);
        auto reader = StartReader(sink, s.Port(), Timings(), c.flags);
        ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, FramedWaitMs));
        EXPECT_EQ(c.status, RunCommand(*reader, sink, c.command));
        if (c.status == S_OK) {
            EXPECT_EQ(UltralightPages(4, 24), Snapshot(*reader).Data);
        }
    }
}

// Over text, a key line that the reader prints before its reply to a page write is no reply:
// the write's own answer decides, and the key is reported after it.
TEST(CommandReaders, KeyLineAheadOfATextReplyIsNoReplyToTheWrite)
{
    simctl::CSimControl sim;
    ReadKeysGuard keys;
    CRecordingSink sink;
    SimReaderConfig config = UnpacedSim();
    SimReader s(sim, config, 0);
    sim.Present(s.Id(), Card("UL", UidUL), -1, false);
    auto reader = StartReader(sink, s.Port());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, FramedWaitMs));
    sim.Override(s.Id(), "put", "Em-Marine[1A2B] 045,12345\r\nERR: page lock\r\n", 1);
    EXPECT_EQ(PE_KEY_LOCKED, RunCommand(*reader, sink, UlCommand(READER_CMD_WRITE_UL, 4, 1, {1, 2, 3, 4})));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
    EXPECT_EQ(KEY_TYPE_EM_MARINE, sink.Events(EventKind::TracksData)[0].KeyType);
}

// Over text, a page write succeeds only on the reader's report of the written page, and a page
// read only with the pages asked and values that are bytes.
TEST_F(CardReplies, TextPageRepliesThatAreNotTheReadersFail)
{
    SimReader s(sim, UnpacedSim(), 0);
    sim.Present(s.Id(), Card("UL", UidUL), -1, false);
    auto reader = StartReader(sink, s.Port());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, FramedWaitMs));
    auto memory = [&] { return sim.Info(s.Id())["unit"]["card"]["memory"].AsString(); };
    const std::string before = memory();
    struct Case
    {
        const char* name;
        const char* match;
        std::string reply;
        std::shared_ptr<ReaderCommand> run;
        HRESULT status;
    } cases[] = {
        {"write answered by junk", "put", "zzz\r\n", UlCommand(READER_CMD_WRITE_UL, 4, 1, {1, 2, 3, 4}), PE_BAD_REPLY},
        {"write answered by a page line", "put", "04: 10 11 12 13\r\n", UlCommand(READER_CMD_WRITE_UL, 4, 1, {1, 2, 3, 4}),
         PE_BAD_REPLY},
        {"read answered with other pages", "get",
         "44: 10 11 12 13\r\n45: 14 15 16 17\r\n46: 18 19 1A 1B\r\n47: 1C 1D 1E 1F\r\nOK\r\n",
         UlCommand(READER_CMD_READ_UL, 4, 4), PE_BAD_REPLY},
        {"read with a value over 0xFF", "get",
         "04: 10 11 12 13\r\n05: 14 15 16 17\r\n06: 18 119 1A 1B\r\n07: 1C 1D 1E 1F\r\nOK\r\n",
         UlCommand(READER_CMD_READ_UL, 4, 4), PE_BAD_REPLY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim.Override(s.Id(), c.match, c.reply, 1);
        EXPECT_EQ(c.status, RunCommand(*reader, sink, c.run));
        sim.ClearOverrides(s.Id());
    }
    EXPECT_EQ(before, memory());
    // The reader's own replies still do.
    EXPECT_EQ(S_OK, RunCommand(*reader, sink, UlCommand(READER_CMD_WRITE_UL, 4, 1, {1, 2, 3, 4})));
    EXPECT_EQ(S_OK, RunCommand(*reader, sink, UlCommand(READER_CMD_READ_UL, 4, 1)));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4}), Snapshot(*reader).Data);
}

TEST(CommandReaders, CommandOnAReaderThatCannotConnectFailsWithTheConnectionsError)
{
    CRecordingSink sink;
    Timings t;
    t.ConnectPeriod = READER_PERIOD_NEVER;
    auto reader = std::make_unique<CReader>();
    reader->Init(&sink, L"127.0.0.1:1");
    reader->SetTimings(t.ConnectTimeout, t.ConnectPeriod, t.RxPeriod, t.ReqTimeout, t.ReqTries);
    reader->Start();
    HRESULT status = RunCommand(*reader, sink, SignalCommand(L"", 1));
    EXPECT_TRUE(FAILED(status));
    EXPECT_NE(E_PENDING, status);
    ASSERT_EQ(1u, sink.Count(EventKind::DriverError));
    EXPECT_EQ(status, sink.Events(EventKind::DriverError)[0].Code);
}
