// The reader object against simulated Mifare readers in binary mode, over TCP and over a pty
// mapped as a COM port: the switch into binary mode and back, the poll with keys of several
// types and the indication, data read after detection with each kind of key, bad replies and
// error statuses, and the line speed set by the framed command.
#include "Messages.h"
#include "FramedTestRig.h"

#include <gtest/gtest.h>

using namespace readertest;
using simctl::SimReaderConfig;

namespace {

const std::vector<uint8_t> Uid1K = {0x04, 0xA1, 0xB2, 0xC3};
const std::vector<uint8_t> UidUL = {0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
const std::vector<uint8_t> UidDF = {0x04, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76};
const std::vector<uint8_t> Uid4K = {0x0A, 0x0B, 0x0C, 0x0D};

} // namespace

// A simulated Mifare reader and a reader object connected to it in binary mode; over TCP unless
// a test asks for the COM port.
class ReaderBinaryTcp : public testing::Test
{
protected:
    virtual bool Serial() const { return false; }
    std::unique_ptr<SimReader> Sim(SimReaderConfig config = MifareSim())
    {
        return std::make_unique<SimReader>(sim, config, Serial() ? 80 : 0);
    }
    std::unique_ptr<CReader> Start(SimReader& s, const Timings& t = Timings())
    {
        auto reader = StartReader(sink, s.Port(), t, ReaderFlagBinary);
        EXPECT_TRUE(sink.WaitCount(EventKind::Connect, 1, FramedWaitMs));
        return reader;
    }

    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
};

// The same over both lines.
class ReaderBinary : public ReaderBinaryTcp, public testing::WithParamInterface<const char*>
{
protected:
    bool Serial() const override { return std::string(GetParam()) == "com"; }
};

INSTANTIATE_TEST_SUITE_P(Transport, ReaderBinary, testing::Values("tcp", "com"));

TEST_P(ReaderBinary, PollReportsKeysOfSeveralTypesAndTheirDeparture)
{
    auto s = Sim();
    sim.Present(s->Id(), Card("M1K", Uid1K)); // in the field at connection: not reported
    auto reader = Start(*s);
    EXPECT_EQ("binary", sim.Info(s->Id())["mode"].AsString());
    EXPECT_EQ(1, reader->PresentKeyCount());
    // The initial indication: a key is present, none arrived.
    ASSERT_TRUE(WaitHeard(sim, s->Id(), "208E01", FramedWaitMs));
    EXPECT_FALSE(Heard(sim, s->Id(), "20BE01"));

    sim.Present(s->Id(), Card("UL", UidUL, true));
    sim.Present(s->Id(), Card("DF", UidDF, true));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 2, FramedWaitMs));
    auto reads = sink.Events(EventKind::TracksData);
    ASSERT_EQ(2u, reads.size());
    EXPECT_EQ(KEY_TYPE_MIFARE_UL, reads[0].KeyType);
    EXPECT_EQ(UidUL, Bytes(reads[0].Key));
    EXPECT_EQ(KEY_TYPE_DESFIRE, reads[1].KeyType);
    EXPECT_EQ(UidDF, Bytes(reads[1].Key));
    EXPECT_EQ(s->Port(), reads[0].Source);
    EXPECT_TRUE(sink.HasLogLine(L"[154] Read key UL 66554433221104"));
    // A key arrived: present code, its arrival form and the sound.
    ASSERT_TRUE(WaitHeard(sim, s->Id(), "202001", FramedWaitMs));
    EXPECT_TRUE(Heard(sim, s->Id(), "208E01"));
    EXPECT_TRUE(Heard(sim, s->Id(), "20BE01"));

    uint32_t type;
    KeyData key;
    std::wstring text;
    reader->GetLastKey(NO_BUS_ADDRESS, 2, type, key, text);
    EXPECT_EQ(KEY_TYPE_DESFIRE, type);
    EXPECT_EQ(reads[1].Text, text);

    sim.RemoveKey(s->Id(), UidUL);
    ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, FramedWaitMs));
    ReaderEvent gone = sink.Events(EventKind::NoCard)[0];
    EXPECT_EQ(KEY_TYPE_MIFARE_UL, gone.KeyType);
    EXPECT_EQ(reads[0].Text, gone.Text);
    sim.Remove(s->Id());
    ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 3, FramedWaitMs));
    EXPECT_EQ(0, reader->PresentKeyCount());
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));

    // Stopping signals the end and leaves the reader in text mode at 9600 Bd.
    reader.reset();
    ASSERT_TRUE(WaitHeard(sim, s->Id(), "2F0000", 2000));
    EXPECT_TRUE(Heard(sim, s->Id(), "209501"));
    ASSERT_TRUE(WaitUntil([&] { return sim.Info(s->Id())["mode"].AsString() == "text"; }, 2000));
}

TEST_F(ReaderBinaryTcp, ClassicBlockIsReadWithEachKindOfKey)
{
    const uint64_t keyA = 0x112233445566ULL, keyB = 0xB0B1B2B3B4B5ULL;
    struct Case
    {
        const char* name;
        const char* type;
        uint32_t flags, mask, sector, block;
        uint64_t key;
        HRESULT error;  // S_OK: the block is the key
        unsigned number; // the block read
    } cases[] = {
        {"key A", "M1K", 0, 0, 2, 1, keyA, S_OK, 9},
        {"key B", "M1K", 1, 0, 2, 1, keyB, S_OK, 9},
        {"stored key A", "M1K", 2, 0x2, 2, 1, 0, S_OK, 9},
        {"stored key B", "M1K", 3, 0x4, 0, 2, 0, S_OK, 2},
        {"4K sector 33 block 5", "M4K", 0, 0, 33, 5, keyA, S_OK, 149},
        {"wrong key", "M1K", 0, 0, 2, 1, keyB, PE_KEY_AUTH, 0},
        {"stored keys not selected", "M1K", 2, 0x1, 2, 1, 0, PE_KEY_AUTH, 0},
        {"1K sector 20", "M1K", 0, 0, 20, 1, keyA, E_INVALIDARG, 0},
        {"negative block", "M1K", 0, 0, 1, 0xFFFFFFFF, keyA, E_INVALIDARG, 0},
    };
    SimReaderConfig config = MifareSim(5);
    config.storedKeys = {"FFFFFFFFFFFF", "112233445566", "B0B1B2B3B4B5"};
    auto s = Sim(config);
    auto reader = Start(*s);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sink.Clear();
        ReadMfSettings mf;
        mf.Enabled = 1;
        mf.Flags = c.flags;
        mf.Mask = c.mask;
        mf.Passw = c.key;
        mf.Sect = c.sector;
        mf.Block = c.block;
        CurrentReadKeys().SetReadMf(mf);
        simctl::SimCard card = Card(c.type, std::string(c.type) == "M4K" ? Uid4K : Uid1K);
        card.keyA = "112233445566";
        card.keyB = "B0B1B2B3B4B5";
        sim.Present(s->Id(), card);
        if (c.error == S_OK) {
            ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
            ReaderEvent read = sink.Events(EventKind::TracksData)[0];
            EXPECT_EQ(ClassicBlock(c.number, 15), Bytes(read.Key));
            sim.Remove(s->Id());
            ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, FramedWaitMs));
            EXPECT_EQ(ClassicBlock(c.number, 15), Bytes(sink.Events(EventKind::NoCard)[0].Key));
        } else {
            ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, 1, FramedWaitMs));
            EXPECT_EQ(c.error, sink.Events(EventKind::DriverError)[0].Code);
            EXPECT_EQ(1, reader->PresentKeyCount()); // present, though not announced as a key
            sim.Remove(s->Id());
            ASSERT_TRUE(WaitUntil([&] { return reader->PresentKeyCount() == 0; }, FramedWaitMs));
            EXPECT_EQ(0u, sink.Count(EventKind::NoCard));
            EXPECT_EQ(0u, sink.Count(EventKind::TracksData));
        }
    }
}

TEST_F(ReaderBinaryTcp, UltralightPagesReadAfterDetectionAreTheKey)
{
    auto s = Sim();
    auto reader = Start(*s);
    struct Case
    {
        uint32_t page, count;
        size_t length;
    } cases[] = {{4, 4, 15}, {6, 2, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        sink.Clear();
        ReadULSettings ul;
        ul.Enabled = 1;
        ul.Page = c.page;
        ul.Count = c.count;
        CurrentReadKeys().SetReadUL(ul);
        sim.Present(s->Id(), Card("UL", UidUL));
        ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
        EXPECT_EQ(UltralightPages(c.page, c.length), Bytes(sink.Events(EventKind::TracksData)[0].Key));
        sim.Remove(s->Id());
        ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, FramedWaitMs));
    }
}

// Only Mifare key types are scanned; the seventeenth card of one scan and cards of key types not
// read are not seen, and a scan without any wanted type sends no frame at all.
TEST_F(ReaderBinaryTcp, ScanIsLimitedByKeyTypesAndToSixteenCards)
{
    auto s = Sim(MifareSim(4));
    auto reader = Start(*s);
    CurrentReadKeys().KeyTypes = 1u << KEY_TYPE_MIFARE_1K;
    sim.Present(s->Id(), Card("UL", UidUL));
    for (uint8_t i = 1; i <= 16; ++i)
        sim.Present(s->Id(), Card("M1K", {0x10, 0x20, 0x30, i}, true));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 15, FramedWaitMs));
    Sleep(500);
    auto reads = sink.Events(EventKind::TracksData);
    ASSERT_EQ(15u, reads.size()); // the Ultralight took the first place of the scan
    EXPECT_EQ(std::vector<uint8_t>({0x10, 0x20, 0x30, 15}), Bytes(reads.back().Key));

    CurrentReadKeys().KeyTypes = 1u << KEY_TYPE_EM_MARINE;
    ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 15, FramedWaitMs));
    Sleep(400);
    HeardFrames(sim, s->Id(), true);
    Sleep(800);
    EXPECT_TRUE(HeardFrames(sim, s->Id()).empty());
}

TEST_F(ReaderBinaryTcp, BadRepliesAndErrorStatusesKeepTheConnection)
{
    auto s = Sim();
    // The time-outs below follow one another; only a connection period of them loses a reader.
    Timings t;
    t.ConnectPeriod = 60000;
    auto reader = Start(*s, t);
    struct Case
    {
        const char* name;
        std::string match;
        int status;            // -1: raw bytes
        std::vector<uint8_t> bytes;
        HRESULT error;
        int seqDelta;
    } cases[] = {
        {"select answer too short", "45", 0x55, {0x04}, PE_BAD_REPLY, 0},
        {"select error status", "45", 0x07, {}, PE_READER_ERROR, 0},
        {"another sequence number only", "23", 0x55, {}, PE_READ_TIMEOUT, 128},
        {"bad sum", "23", -1, {0x02, 0x01, 0x07, 0x23, 0x55, 0x00, 0x00}, PE_READ_TIMEOUT, 0},
        {"length past the frame", "23", -1, {0x02, 0x05, 0xFF, 0x23}, PE_READ_TIMEOUT, 0},
        {"garbage", "23", -1, {0xFF, 0x02, 0x00, 0x02, 0x03, 0x02}, PE_READ_TIMEOUT, 0},
        {"scan start refused", "23", 0x01, {}, PE_READER_ERROR, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.status < 0)
            sim.OverrideFrameRaw(s->Id(), c.match, c.bytes);
        else
            sim.OverrideFrame(s->Id(), c.match, c.status, c.bytes, -1, c.seqDelta);
        reader->SetError(S_OK, L"");
        HRESULT code = S_OK;
        std::wstring text;
        EXPECT_TRUE(WaitUntil([&] {
            reader->GetLastError(NO_BUS_ADDRESS, code, text);
            return code != S_OK;
        }, 2000));
        EXPECT_EQ(c.error, code);
        sim.ClearOverrides(s->Id());
    }
    EXPECT_EQ(READER_STATE_CONNECTED, reader->GetState(NO_BUS_ADDRESS));
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError)); // a failed poll reports nothing
    EXPECT_EQ(1u, sink.Count(EventKind::Connect));
    // A reply with another sequence number is dropped and the right one taken.
    sim.OverrideFrame(s->Id(), "45", 0x55, {0x04, 0x00, 0x08, 0xEE, 0xEE, 0xEE, 0xEE}, -1, -1, true);
    sim.Present(s->Id(), Card("M1K", Uid1K));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
    EXPECT_EQ(Uid1K, Bytes(sink.Events(EventKind::TracksData)[0].Key));
}

TEST_F(ReaderBinaryTcp, DataReadStatusesMapToTheirCodes)
{
    struct Case
    {
        const char* match;
        int status;
        HRESULT error;
    } cases[] = {
        {"5002", 5, PE_NO_KEY},    {"5002", 8, PE_KEY_AUTH}, {"5002", 3, PE_READER_ERROR},
        {"5109", 6, PE_NO_KEY},    {"5109", 4, PE_READER_ERROR},
    };
    auto s = Sim();
    auto reader = Start(*s);
    ReadMfSettings mf;
    mf.Enabled = 1;
    mf.Sect = 2;
    mf.Block = 1;
    CurrentReadKeys().SetReadMf(mf);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.match) + " " + std::to_string(c.status));
        sink.Clear();
        sim.OverrideFrame(s->Id(), c.match, c.status, {}, 1);
        sim.Present(s->Id(), Card("M1K", Uid1K));
        ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, 1, FramedWaitMs));
        EXPECT_EQ(c.error, sink.Events(EventKind::DriverError)[0].Code);
        sim.Remove(s->Id());
        ASSERT_TRUE(WaitUntil([&] { return reader->PresentKeyCount() == 0; }, FramedWaitMs));
        sim.ClearOverrides(s->Id());
    }
}

// A reconnection request finds the reader in binary mode; it is put back into text mode first,
// or it could not be identified again.
TEST_P(ReaderBinary, ReconnectionSwitchesBackBeforeIdentifying)
{
    auto s = Sim();
    auto reader = Start(*s);
    reader->Reconnect(NO_BUS_ADDRESS);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, FramedWaitMs));
    EXPECT_EQ(1u, sink.Count(EventKind::Disconnect));
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
    // The Binary setting off: served in text after the switch back.
    reader->SetConnection(0, 0, 0, 0, TRUE);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 3, FramedWaitMs));
    EXPECT_EQ("text", sim.Info(s->Id())["mode"].AsString());
    sim.PresentKey(s->Id(), "M1K", Uid1K);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
    EXPECT_EQ(Uid1K, Bytes(sink.Events(EventKind::TracksData)[0].Key));
}

// Newer firmware changes its rate on the framed command and the port follows it; the first
// request at the new rate resynchronises.
TEST(ReaderBinarySpeed, RateFollowsTheSpeedSettingAndIsPutBackAtTheEnd)
{
    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
    SimReader s(sim, MifareSim(3, "1.8"), 81);
    auto reader = std::make_unique<CReader>();
    reader->Init(&sink, s.Port().c_str());
    reader->SetConnection(0, ReaderFlagBinary, 0, 57600, FALSE);
    Timings t;
    reader->SetTimings(t.ConnectTimeout, t.ConnectPeriod, t.RxPeriod, t.ReqTimeout, t.ReqTries);
    reader->Reconnect(NO_BUS_ADDRESS);
    reader->Start();
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, FramedWaitMs));
    EXPECT_TRUE(Heard(sim, s.Id(), "2F0103"));
    EXPECT_EQ(57600, sim.Info(s.Id())["speed"].AsInt());
    EXPECT_EQ(57600, sim.Info(s.Id())["port_baud"].AsInt());
    sim.Present(s.Id(), Card("M1K", Uid1K));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));

    // A speed change while connected: the reader is switched without a reconnection.
    reader->SetConnection(0, ReaderFlagBinary, 0, 19200, TRUE);
    ASSERT_TRUE(WaitHeard(sim, s.Id(), "2F0101", FramedWaitMs));
    ASSERT_TRUE(WaitUntil([&] { return sim.Info(s.Id())["port_baud"].AsInt() == 19200; }, 2000));
    sim.Remove(s.Id());
    ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, FramedWaitMs));
    EXPECT_EQ(1u, sink.Count(EventKind::Connect));

    reader.reset();
    ASSERT_TRUE(WaitUntil([&] { return sim.Info(s.Id())["speed"].AsInt() == 9600; }, 2000));
    EXPECT_EQ("text", sim.Info(s.Id())["mode"].AsString());
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
}

// A reader that stops answering behind a port that stays open is taken for lost once its polls
// have timed out for a connection period, not at the first missed poll; it is then tried again
// as after an unplug and connected anew once it answers.
TEST_P(ReaderBinary, SilentReaderIsLostAndReconnectedWhenItAnswersAgain)
{
    auto s = Sim();
    auto reader = Start(*s);
    sim.OverrideSilent(s->Id(), "frame:23", 1);
    Sleep(1500);
    EXPECT_EQ(0u, sink.Count(EventKind::Disconnect));

    sim.Silent(s->Id(), true);
    DWORD start = GetTickCount();
    ASSERT_TRUE(sink.WaitCount(EventKind::Disconnect, 1, FramedWaitMs));
    EXPECT_GE(GetTickCount() - start, 900u); // the connection period, less the clock's grain
    EXPECT_TRUE(sink.HasLogLine(L"[155] Disconnected reader: Timeout response data from the port."));
    ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, 1, FramedWaitMs));
    EXPECT_EQ(PE_READ_TIMEOUT, sink.Events(EventKind::DriverError)[0].Code);

    // Restarted, it is found in text mode and switched into binary mode again.
    sim.Silent(s->Id(), false);
    sim.Set(s->Id(), simctl::JsonFields().Add("powered", false));
    sim.Set(s->Id(), simctl::JsonFields().Add("powered", true));
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, FramedWaitMs));
    EXPECT_EQ("binary", sim.Info(s->Id())["mode"].AsString());
    sim.PresentKey(s->Id(), "M1K", Uid1K);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
}
