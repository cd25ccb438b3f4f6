// The reader object against simulated text-protocol readers, over TCP and over a pty mapped as a
// COM port: connection, key lines, departures, filtering, unrecognised lines, silence, a peer
// that goes away, stopping, and the texts the reader builds.
#include "CodePage.h"
#include "Messages.h"
#include "ModuleState.h"
#include "ReaderTestRig.h"
#include "Settings.h"
#include "ReaderTestSink.h"
#include "res/ReaderStrings.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>

using namespace readertest;
using simctl::SimReaderConfig;

namespace {

const DWORD WaitMs = 5000;

const std::vector<uint8_t> EmKey = {0x39, 0x30, 45, 0x2B, 0x1A}; // 045,12345 with [1A2B]
const char EmLine[] = "Em-Marine[1A2B] 045,12345";

// Measures how long a call takes, in ms.
template <class F>
DWORD Timed(F f)
{
    DWORD start = GetTickCount();
    f();
    return GetTickCount() - start;
}

std::string Text(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// The reader's thread, kept alive past the reader so that a test can see it has ended.
HANDLE DuplicateThread(CReader& reader)
{
    HANDLE dup = nullptr;
    DuplicateHandle(GetCurrentProcess(), reader.ThreadHandle(), GetCurrentProcess(), &dup,
                    SYNCHRONIZE, FALSE, 0);
    return dup;
}

} // namespace

// --- Control operations, without a thread ---------------------------------------------------

TEST(ReaderControl, StateOfAddressesBeforeTheThreadTakesThemOver)
{
    CRecordingSink sink;
    CReader reader;
    reader.Init(&sink, L"COM99");
    EXPECT_EQ(READER_STATE_DISCONNECTED, reader.GetState(NO_BUS_ADDRESS));
    reader.AddAddress(5);
    EXPECT_EQ(READER_STATE_DISCONNECTED, reader.GetState(5));
    EXPECT_EQ(READER_STATE_UNKNOWN, reader.GetState(6));
    reader.Reconnect(6); // unknown address: nothing to do
    EXPECT_EQ(READER_STATE_UNKNOWN, reader.GetState(6));
    reader.RemoveAddress(5);
    EXPECT_EQ(READER_STATE_UNKNOWN, reader.GetState(5));
}

TEST(ReaderControl, LastErrorWithoutTextTakesTheCodesTextAsOneLine)
{
    CReader reader;
    reader.SetError(PE_READ_TIMEOUT, nullptr);
    HRESULT code;
    std::wstring text;
    ASSERT_TRUE(reader.GetLastError(NO_BUS_ADDRESS, code, text));
    EXPECT_EQ(PE_READ_TIMEOUT, code);
    EXPECT_EQ(L"Timeout response data from the port.", text);
    reader.SetError(E_FAIL, L"own text\r\n");
    reader.GetLastError(NO_BUS_ADDRESS, code, text);
    EXPECT_EQ(L"own text", text);
}

// The reader thread follows the message language; the host process's own number formatting stays
// as the host set it.
TEST(ReaderControl, ThreadLanguageLeavesTheHostsNumberFormatAlone)
{
    const LCID saved = MessageLcid;
    MessageLcid = MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT);
    CRecordingSink sink;
    Timings t;
    t.ConnectTimeout = 500;
    // Nothing listens there: the failed connection shows that the thread has taken up its language.
    auto reader = StartReader(sink, L"127.0.0.1:1", t);
    const bool failed = sink.WaitCount(EventKind::DriverError, 1, WaitMs);
    reader->Stop();
    MessageLcid = saved;
    ASSERT_TRUE(failed);
    char printed[16] = {};
    snprintf(printed, sizeof printed, "%.1f", 1.5);
    EXPECT_STREQ("1.5", printed);
}

// The reader thread formats keys and calls the platform's ExternalEvent, whose stack needs are not
// ours to know: it reserves the 1 MB a Windows thread gets by default. Wine gives every thread at
// least 1 MB whatever it asks, so only the reservation asked for can show a smaller stack.
TEST(ReaderControl, ThreadReservesTheStackOfAWindowsThread)
{
    CReader reader;
    EXPECT_GE(reader.StackReservation(), static_cast<SIZE_T>(1024 * 1024));
}

TEST(ReaderControl, NoKeyBeforeAnyRead)
{
    CReader reader;
    uint32_t type = 7;
    KeyData key;
    key.Length = 3;
    std::wstring text = L"x";
    reader.GetLastKey(NO_BUS_ADDRESS, 0, type, key, text);
    EXPECT_EQ(0u, type);
    EXPECT_EQ(0u, key.ByteCount());
    EXPECT_TRUE(text.empty());
}

// A reader is lost after two time-outs or more in a row that span the connection period; an
// answer starts the count afresh, and a period that never elapses never loses it.
TEST(ReaderControl, PollTimeOutsLoseAReaderOnlyWhenTheySpanTheConnectionPeriod)
{
    CPollSilence silence;
    EXPECT_FALSE(silence.Note(false, 1000, 4000, 1000)); // one time-out, however long
    EXPECT_TRUE(silence.Note(false, 4000, 4100, 1000));  // counted from the first poll's start
    silence.Reset();
    EXPECT_FALSE(silence.Note(false, 1000, 1300, 1000));
    EXPECT_FALSE(silence.Note(false, 1333, 1633, 1000));
    EXPECT_FALSE(silence.Note(true, 1666, 1700, 1000));
    EXPECT_FALSE(silence.Note(false, 2000, 2300, 1000));
    EXPECT_FALSE(silence.Note(false, 2333, 2633, 1000)); // the answer began a new run
    EXPECT_TRUE(silence.Note(false, 2666, 3000, 1000));
    CPollSilence never;
    for (DWORD t = 0; t < 100000; t += 1000)
        EXPECT_FALSE(never.Note(false, t, t + 900, READER_PERIOD_NEVER));
    // The tick count wraps around.
    CPollSilence wrap;
    EXPECT_FALSE(wrap.Note(false, 0xFFFFFF00, 0xFFFFFFF0, 1000));
    EXPECT_TRUE(wrap.Note(false, 0xFFFFFFF0, 0x00000300, 1000));
}

// Every log message takes the same arguments in English and Russian, so the reader's one call
// fits both.
TEST(ReaderControl, LogTextsTakeTheSameArgumentsInBothLanguages)
{
    auto format = [](LCID lcid, UINT id, ...) {
        LCID saved = MessageLcid;
        MessageLcid = lcid;
        std::wstring out;
        va_list args;
        va_start(args, id);
        FormatStringV(out, LoadResString(id).c_str(), args);
        va_end(args);
        MessageLcid = saved;
        return out;
    };
    const LCID english = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
    const LCID russian = MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT);
    for (LCID lcid : {english, russian}) {
        std::wstring open = format(lcid, IDS_LOG_PORT_OPEN_FAILED, L"COM7", 9600, L'N', 8, 2,
                                   0x80040211u, L"Port not exists.");
        EXPECT_NE(std::wstring::npos, open.find(L"\"COM7\" (9600,N,8,2)")) << open;
        EXPECT_NE(std::wstring::npos, open.find(L"0x80040211): Port not exists.")) << open;
        std::wstring config = format(lcid, IDS_LOG_PORT_CONFIG_FAILED, 115200, L'N', 8, L"1.5",
                                     0x80040213u, L"gone");
        EXPECT_NE(std::wstring::npos, config.find(L"115200,N,8,1.5")) << config;
        EXPECT_NE(std::wstring::npos, config.find(L"0x80040213): gone")) << config;
        std::wstring givenUp = format(lcid, IDS_LOG_MODEL_GIVEN_UP, 0x1234u, 3u);
        EXPECT_NE(std::wstring::npos, givenUp.find(L"0x1234")) << givenUp;
        EXPECT_NE(std::wstring::npos, givenUp.find(L" 3 ")) << givenUp;
        std::wstring omitted = format(lcid, IDS_LOG_TRAFFIC_OMITTED, 123456u, 1000u);
        EXPECT_NE(std::wstring::npos, omitted.find(L"123456")) << omitted;
        EXPECT_NE(std::wstring::npos, omitted.find(L"1000")) << omitted;
        std::wstring connected = format(lcid, IDS_LOG_CONNECTED, L"Kora USB", 77, L"1.8");
        EXPECT_NE(std::wstring::npos, connected.find(L"Kora USB")) << connected;
        EXPECT_NE(std::wstring::npos, connected.find(L"1.8")) << connected;
    }
    EXPECT_EQ(L"Failed to open port \"COM7\" (9600,N,8,1) (code 0x80040211): Port not exists.",
              format(english, IDS_LOG_PORT_OPEN_FAILED, L"COM7", 9600, L'N', 8, 1, 0x80040211u,
                     L"Port not exists."));
}

// --- Text protocol over TCP and COM --------------------------------------------------------

// Over TCP, over COM, and over COM polled every 200 ms (RxPeriod) besides the line events.
class ReaderText : public testing::TestWithParam<const char*>
{
protected:
    bool Serial() const { return std::string(GetParam()) != "tcp"; }
    // The timings every test starts from.
    Timings Base() const
    {
        Timings t;
        if (std::string(GetParam()) == "compolled")
            t.RxPeriod = 200;
        return t;
    }
    std::unique_ptr<SimReader> Sim(SimReaderConfig config = SimReaderConfig())
    {
        config.pace = 0;
        return std::make_unique<SimReader>(sim, config, Serial() ? 61 : 0);
    }

    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
};

INSTANTIATE_TEST_SUITE_P(Transport, ReaderText, testing::Values("tcp", "com", "compolled"));

TEST_P(ReaderText, ConnectsReadsAKeyAndReportsItsDeparture)
{
    SimReaderConfig config;
    config.identity.serial = 4242;
    auto s = Sim(config);
    auto reader = StartReader(sink, s->Port(), Base());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    EXPECT_EQ(s->Port(), sink.Events(EventKind::Connect)[0].Source);
    EXPECT_EQ(READER_STATE_CONNECTED, reader->GetState(NO_BUS_ADDRESS));
    uint32_t model, serial, version;
    std::wstring info;
    reader->GetReaderInfo(NO_BUS_ADDRESS, model, serial, version, info);
    EXPECT_EQ(1u, model);
    EXPECT_EQ(4242u, serial);
    EXPECT_NE(std::wstring::npos, info.find(L"S/N: 4242"));

    sim.PresentLine(s->Id(), EmLine);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
    ReaderEvent read = sink.Events(EventKind::TracksData)[0];
    EXPECT_EQ(1u, read.KeyType);
    EXPECT_EQ(EmKey, Bytes(read.Key));
    EXPECT_EQ(s->Port(), read.Source);
    uint32_t type;
    KeyData key;
    std::wstring text;
    // The key's text is the sink's answer to the event: the reader stores it once that call has
    // returned, a moment after the event was recorded.
    EXPECT_TRUE(WaitUntil([&] {
        reader->GetLastKey(NO_BUS_ADDRESS, 0, type, key, text);
        return !text.empty();
    }, WaitMs));
    EXPECT_EQ(1u, type);
    EXPECT_EQ(EmKey, Bytes(key));
    EXPECT_EQ(read.Text, text);

    sim.Remove(s->Id());
    ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, WaitMs));
    ReaderEvent gone = sink.Events(EventKind::NoCard)[0];
    EXPECT_EQ(1u, gone.KeyType);
    EXPECT_EQ(EmKey, Bytes(gone.Key));
    EXPECT_EQ(read.Text, gone.Text);
    EXPECT_EQ(0, reader->PresentKeyCount());
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
    EXPECT_TRUE(sink.HasLogLine(L"[154] Read key EM [1A2B] 045,12345"));
}

TEST_P(ReaderText, KeyTypeOutsideTheKeyTypesToReadGivesNoEvent)
{
    auto s = Sim();
    auto reader = StartReader(sink, s->Port(), Base());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    CurrentReadKeys().KeyTypes = KEY_TYPES_ALL & ~(1u << KEY_TYPE_EM_MARINE);
    sim.PresentLine(s->Id(), EmLine);
    sim.PresentKey(s->Id(), "DS", {1, 2, 3, 4, 5, 6});
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
    Sleep(200);
    auto reads = sink.Events(EventKind::TracksData);
    ASSERT_EQ(1u, reads.size());
    EXPECT_EQ(KEY_TYPE_DALLAS, reads[0].KeyType);
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
}

TEST_P(ReaderText, LineIsReportedOnlyOnceItsLineFeedArrives)
{
    auto s = Sim();
    Timings t = Base();
    t.RxPeriod = 100; // polls without a port event as well
    auto reader = StartReader(sink, s->Port(), t);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    sim.SendText(s->Id(), std::string(EmLine) + "\r");
    Sleep(400);
    EXPECT_EQ(0u, sink.Count(EventKind::TracksData));
    sim.SendText(s->Id(), "\n");
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
    EXPECT_EQ(EmKey, Bytes(sink.Events(EventKind::TracksData)[0].Key));
}

TEST_P(ReaderText, UnrecognisedLinesAreReportedOncePerReaderLife)
{
    auto s = Sim();
    auto reader = StartReader(sink, s->Port(), Base());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    sim.SendText(s->Id(), "garbage here\r\n");
    sim.SendText(s->Id(), "Unknown[12] x\r\nmore: junk\r\n");
    ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, 1, WaitMs));
    Sleep(300);
    auto errors = sink.Events(EventKind::DriverError);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(PE_UNRECOGNIZED, errors[0].Code);
    EXPECT_EQ(L"The reader message was not recognized. Probably not factory firmware.", errors[0].Text);

    // A reconnection does not re-arm the report.
    reader->Reconnect(NO_BUS_ADDRESS);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, WaitMs));
    EXPECT_EQ(1u, sink.Count(EventKind::Disconnect));
    EXPECT_TRUE(sink.HasLogLine(L"[155] Disconnected reader: on command."));
    sim.SendText(s->Id(), "still garbage\r\n");
    sim.PresentLine(s->Id(), EmLine); // a barrier: handled after the garbage
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
    EXPECT_EQ(1u, sink.Count(EventKind::DriverError));
}

// A card line that comes right behind the reply to the connection's card request, in the same
// read, is reported although no later byte wakes the reader.
TEST_P(ReaderText, KeyLineRightBehindAReplyIsReported)
{
    auto s = Sim();
    sim.Override(s->Id(), "r", std::string("No card\r\n") + EmLine + "\r\n", 1);
    auto reader = StartReader(sink, s->Port(), Base());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, 2000));
    EXPECT_EQ(EmKey, Bytes(sink.Events(EventKind::TracksData)[0].Key));
}

TEST_P(ReaderText, SilentReaderIsReportedAndRetriedEveryConnectPeriod)
{
    auto s = Sim();
    sim.Silent(s->Id(), true);
    Timings t = Base();
    t.ConnectPeriod = 800;
    t.ReqTimeout = 150;
    auto reader = StartReader(sink, s->Port(), t);
    ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, 3, 6000));
    auto errors = sink.Events(EventKind::DriverError);
    for (const auto& e : errors) {
        EXPECT_EQ(PE_READ_TIMEOUT, e.Code);
        EXPECT_EQ(L"Unable to connect to the reader. Timeout response data from the port.", e.Text);
    }
    for (size_t i = 1; i < 3; ++i) {
        DWORD gap = errors[i].Tick - errors[i - 1].Tick;
        EXPECT_GE(gap, 600u);
        EXPECT_LE(gap, 1700u);
    }
    EXPECT_EQ(READER_STATE_DISCONNECTED, reader->GetState(NO_BUS_ADDRESS));
    EXPECT_EQ(0u, sink.Count(EventKind::Connect));

    sim.Silent(s->Id(), false);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
}

// A reader that answers "i" with its serial line and then goes on printing other lines is given up
// within a bounded time (or as soon as the text outgrows any identification) and retried, as a
// silent one is.
TEST_P(ReaderText, IdentificationThatNeverEndsFailsAndIsRetried)
{
    struct Case
    {
        const char* name;
        std::string drip;
        int dripMs;
        HRESULT code;
    } cases[] = {
        {"a line every 100 ms", "Port speed: 9600\r\n", 100, PE_READ_TIMEOUT},
        {"long lines at once", std::string(200, 'x') + "\r\n", 5, PE_BAD_REPLY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sink.Clear();
        auto s = Sim();
        sim.Call("override", simctl::JsonFields()
                                 .Add("id", s->Id())
                                 .Add("match", "i")
                                 .Add("reply", "Kora USB S/N: 1234\r\n")
                                 .Add("drip", c.drip)
                                 .Add("drip_ms", c.dripMs)
                                 .Add("drip_count", 20000 / c.dripMs));
        Timings t = Base();
        t.ConnectPeriod = 300;
        t.ReqTimeout = 300;
        auto reader = StartReader(sink, s->Port(), t, 0, 1); // a Kora USB: one identification
        ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, 2, 5000));
        auto errors = sink.Events(EventKind::DriverError);
        EXPECT_EQ(c.code, errors[0].Code);
        // A later try may meet the rest of the drip first, which is no identification either.
        EXPECT_TRUE(errors[1].Code == PE_READ_TIMEOUT || errors[1].Code == PE_BAD_REPLY);
        EXPECT_EQ(0u, sink.Count(EventKind::Connect));
        EXPECT_NE(READER_STATE_CONNECTED, reader->GetState(NO_BUS_ADDRESS)); // or trying again
    }
}

TEST_P(ReaderText, PeerGoingAwayDisconnectsAndTheReaderReconnectsWhenItIsBack)
{
    auto s = Sim();
    Timings t = Base();
    t.ConnectPeriod = 500;
    t.RxPeriod = 200; // a hung-up line is noticed by the poll as well as by port events
    auto reader = StartReader(sink, s->Port(), t);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    if (!Serial())
        sim.Silent(s->Id(), true); // the converter takes the next connection but says nothing
    sim.Disconnect(s->Id());
    ASSERT_TRUE(sink.WaitCount(EventKind::Disconnect, 1, WaitMs));
    EXPECT_EQ(READER_STATE_DISCONNECTED, reader->GetState(NO_BUS_ADDRESS));
    ASSERT_TRUE(sink.WaitFor([](const std::vector<ReaderEvent>& events) {
        for (const auto& e : events)
            if (e.Kind == EventKind::DriverError && e.Text.find(L"Unable to connect") == 0)
                return true;
        return false;
    }, WaitMs));
    auto errors = sink.Events(EventKind::DriverError);
    if (!Serial()) {
        EXPECT_EQ(PE_PORT_DISCONNECTED, errors[0].Code);
    }

    if (Serial())
        sim.Plug(s->Id());
    else
        sim.Silent(s->Id(), false);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, WaitMs));
    sim.PresentLine(s->Id(), EmLine);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
}

// The port failure that ends a connection reaches the owner in the message language even when the
// code page for non-Unicode programs cannot hold it (1252 under a Russian user).
TEST_P(ReaderText, PortFailureTextKeepsItsLanguageUnderAWesternCodePage)
{
    if (Serial())
        GTEST_SKIP() << "the TCP peer's going away is the failure that arrives as an exception";
    struct LanguageScope
    {
        LCID saved = MessageLcid;
        LanguageScope() { MessageLcid = MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT); }
        ~LanguageScope() { MessageLcid = saved; }
    } russian;
    CAnsiCodePageScope western(1252);
    auto s = Sim();
    Timings t;
    t.ConnectPeriod = 500;
    auto reader = StartReader(sink, s->Port(), t);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    sim.Silent(s->Id(), true);
    sim.Disconnect(s->Id());
    ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, 1, WaitMs));
    reader->Stop();
    const ReaderEvent failure = sink.Events(EventKind::DriverError)[0];
    EXPECT_EQ(PE_PORT_DISCONNECTED, failure.Code);
    EXPECT_TRUE(std::any_of(failure.Text.begin(), failure.Text.end(),
                            [](wchar_t c) { return c >= 0x0400 && c <= 0x04FF; })) << WideToAnsi(failure.Text);
    EXPECT_EQ(std::wstring::npos, failure.Text.find(L'?'));
}

TEST_P(ReaderText, StopDuringAConnectionAttemptReturnsAtOnce)
{
    auto s = Sim();
    sim.Silent(s->Id(), true);
    Timings t = Base();
    t.ReqTimeout = 10000;
    t.ReqTries = 3;
    auto reader = StartReader(sink, s->Port(), t);
    ASSERT_TRUE(sim.WaitReceivedText(s->Id(), "i", WaitMs));
    Sleep(100); // the reader now waits for the reply
    HANDLE thread = DuplicateThread(*reader);
    EXPECT_LT(Timed([&] { reader->Stop(); }), 1000u);
    reader.reset();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));
    CloseHandle(thread);
    // A stop is no error to announce.
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
    EXPECT_TRUE(sink.HasLogLine(L"[151] Failed to connect to reader:"));
}

TEST_P(ReaderText, StopWhileConnectedDisconnectsAndEndsTheThread)
{
    auto s = Sim();
    auto reader = StartReader(sink, s->Port(), Base());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    HANDLE thread = DuplicateThread(*reader);
    EXPECT_LT(Timed([&] { reader.reset(); }), 1000u);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));
    CloseHandle(thread);
    EXPECT_EQ(1u, sink.Count(EventKind::Disconnect));
}

// A departure that the reader prints while the add-in waits for a reply is still reported.
TEST_P(ReaderText, NoCardArrivingBeforeAReplyGoesToTheKeyHandling)
{
    SimReaderConfig config;
    config.identity.serial = 5150;
    auto s = Sim(config);
    auto reader = StartReader(sink, s->Port(), Base());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    sim.PresentLine(s->Id(), EmLine);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
    std::string ident = "Kora USB S/N: 5150\r\nDevice code: [0301]\r\nPort speed: 9600\r\n"
                        "Mode: text\r\nSoftware version: 1.0\r\n";
    sim.Override(s->Id(), "i", "No card\r\n" + ident, 1);
    sim.Remove(s->Id(), -1, false); // the card leaves without a line of its own
    reader->Reconnect(NO_BUS_ADDRESS);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, WaitMs));
    auto gone = sink.Events(EventKind::NoCard);
    ASSERT_EQ(1u, gone.size());
    EXPECT_EQ(1u, gone[0].KeyType);
    EXPECT_EQ(sink.Events(EventKind::TracksData)[0].Text, gone[0].Text);
}

TEST_P(ReaderText, UltralightPagesReadAfterDetectionAreTheKey)
{
    struct Case
    {
        uint32_t page, count;
        size_t length; // 0: the read is refused
    } cases[] = {{4, 4, 15}, {5, 1, 4}, {16, 1, 0}};
    auto s = Sim();
    auto reader = StartReader(sink, s->Port(), Base());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        sink.Clear();
        ReadULSettings ul;
        ul.Enabled = 1;
        ul.Page = c.page;
        ul.Count = c.count;
        CurrentReadKeys().SetReadUL(ul);
        sim.PresentKey(s->Id(), "UL", {0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66});
        if (!c.length) {
            ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, 1, WaitMs));
            EXPECT_EQ(E_INVALIDARG, sink.Events(EventKind::DriverError)[0].Code);
        } else {
            ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
            ReaderEvent read = sink.Events(EventKind::TracksData)[0];
            EXPECT_EQ(KEY_TYPE_MIFARE_UL, read.KeyType);
            std::vector<uint8_t> expected;
            for (size_t i = 0; i < c.length; ++i)
                expected.push_back(static_cast<uint8_t>(c.page * 4 + i));
            EXPECT_EQ(expected, Bytes(read.Key));
        }
        sim.Remove(s->Id());
        Sleep(100);
    }
}

// Lines that came in behind an Ultralight key line are kept while its pages are read, and
// handled after the read, in the order they came.
TEST_P(ReaderText, LinesBehindAnUltralightKeyLineSurviveItsDataRead)
{
    auto s = Sim();
    auto reader = StartReader(sink, s->Port(), Base());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    ReadULSettings ul;
    ul.Enabled = 1;
    ul.Page = 4;
    ul.Count = 1;
    CurrentReadKeys().SetReadUL(ul);
    simctl::SimCard card;
    card.type = "UL";
    card.key = {0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    std::string ulLine = sim.Present(s->Id(), card, -1, false); // the pages come from this card
    sink.Clear();
    sim.SendText(s->Id(), ulLine + "\r\nNo card\r\n" + EmLine + "\r\n");
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 2, WaitMs));
    auto events = sink.Events();
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ(EventKind::TracksData, events[0].Kind);
    EXPECT_EQ(KEY_TYPE_MIFARE_UL, events[0].KeyType);
    EXPECT_EQ((std::vector<uint8_t>{16, 17, 18, 19}), Bytes(events[0].Key));
    EXPECT_EQ(EventKind::NoCard, events[1].Kind);
    EXPECT_EQ(events[0].Text, events[1].Text);
    EXPECT_EQ(EventKind::TracksData, events[2].Kind);
    EXPECT_EQ(EmKey, Bytes(events[2].Key));

    // A departure printed while the reader waits for the page reply is no reply to it.
    sim.Remove(s->Id());
    ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 2, WaitMs));
    sink.Clear();
    sim.Override(s->Id(), "get",
                 "No card\r\n04: 10 11 12 13\r\n05: 14 15 16 17\r\n06: 18 19 1A 1B\r\n"
                 "07: 1C 1D 1E 1F\r\nOK\r\n", 1);
    sim.Present(s->Id(), card);
    ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, WaitMs));
    events = sink.Events();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(EventKind::TracksData, events[0].Kind);
    EXPECT_EQ((std::vector<uint8_t>{16, 17, 18, 19}), Bytes(events[0].Key));
    EXPECT_EQ(EventKind::NoCard, events[1].Kind);
    EXPECT_EQ(events[0].Text, events[1].Text);
}

// A key line that comes before the reply to the identification request neither derails the
// identification nor is reported before the connection; it is reported after it, with its
// pages read, and its departure carries the text the key got.
TEST_P(ReaderText, KeyLineBeforeTheIdentificationIsReportedAfterTheConnection)
{
    struct Case
    {
        const char* type;
        std::vector<uint8_t> key;
        std::vector<uint8_t> reported;
    } cases[] = {
        {"UL", {0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, {16, 17, 18, 19}},
        {"EM", EmKey, EmKey},
    };
    ReadULSettings ul;
    ul.Enabled = 1;
    ul.Page = 4;
    ul.Count = 1;
    CurrentReadKeys().SetReadUL(ul);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        sink.Clear();
        SimReaderConfig config;
        config.identity.serial = 5150;
        auto s = Sim(config);
        simctl::SimCard card;
        card.type = c.type;
        card.key = c.key;
        std::string line = sim.Present(s->Id(), card, -1, false);
        sim.Override(s->Id(), "i", line + "\r\nKora USB S/N: 5150\r\nDevice code: [0301]\r\n"
                     "Port speed: 9600\r\nMode: text\r\nSoftware version: 1.0\r\n", 1);
        auto reader = StartReader(sink, s->Port(), Base());
        ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
        sim.Remove(s->Id());
        ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, WaitMs));
        auto events = sink.Events();
        ASSERT_EQ(3u, events.size());
        EXPECT_EQ(EventKind::Connect, events[0].Kind);
        EXPECT_EQ(EventKind::TracksData, events[1].Kind);
        EXPECT_EQ(c.reported, Bytes(events[1].Key));
        EXPECT_EQ(EventKind::NoCard, events[2].Kind);
        EXPECT_EQ(events[1].Text, events[2].Text);
        EXPECT_FALSE(sink.HasLogLine(L"115200"));
    }
}

// An identification line with "[" and no ":" is part of the identification, not a key line.
TEST_P(ReaderText, IdentificationLineWithABracketAndNoColonIsNoKeyLine)
{
    SimReaderConfig config;
    config.identity.identLines = {"Kora USB S/N: 5150", "Kora USB [0301]", "Port speed 9600",
                                  "Mode text", "Software version: 1.2"};
    auto s = Sim(config);
    auto reader = StartReader(sink, s->Port(), Base());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    uint32_t model, serial, version;
    std::wstring info;
    reader->GetReaderInfo(NO_BUS_ADDRESS, model, serial, version, info);
    EXPECT_EQ(1u, model);
    EXPECT_EQ(5150u, serial);
    EXPECT_EQ(0x0201u, version);
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
}

// --- Control operations on a running reader ---------------------------------------------------

// New connection values reconnect only when the connection depends on them: stop bits, model
// and the Binary setting always, the Wiegand setting only on the Kora Base that prints its
// cards by it; the speed alone and unchanged values do not.
TEST(ReaderControlLive, NewConnectionValuesReconnectOnlyWhenTheConnectionDependsOnThem)
{
    struct Step
    {
        const char* name;
        BYTE stopBits;
        uint32_t flags, model, speed;
        bool reconnects;
    };
    struct Case
    {
        int model;
        std::vector<Step> steps;
    } cases[] = {
        {1,
         {{"unchanged", 0, 0, 0, 0, false},
          {"speed", 0, 0, 0, 9600, false},
          {"Wiegand on a Kora USB", 0, SETTINGS_FLAG_WIEGAND, 0, 9600, false},
          {"stop bits", 2, SETTINGS_FLAG_WIEGAND, 0, 9600, true},
          {"model", 2, SETTINGS_FLAG_WIEGAND, 1, 9600, true},
          {"Binary", 2, SETTINGS_FLAG_WIEGAND | SETTINGS_FLAG_BINARY, 1, 9600, true}}},
        {7, {{"Wiegand on a Kora Base", 0, SETTINGS_FLAG_WIEGAND, 0, 0, true},
             {"Wiegand off again", 0, 0, 0, 0, true}}},
    };
    simctl::CSimControl sim;
    ReadKeysGuard keys;
    for (const Case& c : cases) {
        CRecordingSink sink;
        SimReaderConfig config = UnpacedSim();
        config.identity.model = c.model;
        SimReader s(sim, config, 0);
        auto reader = StartReader(sink, s.Port());
        ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
        size_t connects = 1;
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.name);
            sim.Received(s.Id(), true);
            reader->SetConnection(step.stopBits, step.flags, step.model, step.speed, TRUE);
            if (step.reconnects) {
                ASSERT_TRUE(sink.WaitCount(EventKind::Connect, ++connects, WaitMs));
                EXPECT_EQ(connects - 1, sink.Count(EventKind::Disconnect));
            } else {
                Sleep(400);
                EXPECT_EQ(connects - 1, sink.Count(EventKind::Disconnect));
                EXPECT_EQ(std::string::npos, Text(sim.Received(s.Id())).find('i'));
            }
        }
        if (c.model == 7) { // the output format followed the setting each time
            EXPECT_TRUE(sim.WaitReceivedText(s.Id(), "tFMTDALLAS", 1000));
        }
        EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
    }
}

// A change that needs a reconnection cancels the wait in progress; any other change only wakes
// the thread, and the wait runs to its end.
TEST(ReaderControlLive, OnlyAReconnectingChangeCancelsTheWaitInProgress)
{
    simctl::CSimControl sim;
    CRecordingSink sink;
    SimReaderConfig config = UnpacedSim();
    SimReader s(sim, config, 0);
    sim.Silent(s.Id(), true);
    Timings t;
    t.ConnectPeriod = READER_PERIOD_NEVER;
    t.ReqTimeout = 1500;
    auto reader = StartReader(sink, s.Port(), t);
    ASSERT_TRUE(sim.WaitReceivedText(s.Id(), "i", WaitMs, true));
    DWORD start = GetTickCount();
    reader->SetConnection(0, 0, 0, 9600, TRUE);
    ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, 1, WaitMs));
    EXPECT_GE(GetTickCount() - start, 1000u);
    EXPECT_EQ(PE_READ_TIMEOUT, sink.Events(EventKind::DriverError)[0].Code);

    reader->Reconnect(NO_BUS_ADDRESS);
    ASSERT_TRUE(sim.WaitReceivedText(s.Id(), "i", WaitMs, true));
    start = GetTickCount();
    reader->SetConnection(0, 0, 1, 9600, TRUE);
    // The attempt ends at once without an error of its own, and the next one begins.
    ASSERT_TRUE(sim.WaitReceivedText(s.Id(), "i", WaitMs, true));
    EXPECT_LT(GetTickCount() - start, 700u);
    EXPECT_EQ(1u, sink.Count(EventKind::DriverError));
    EXPECT_TRUE(sink.WaitLogCount(L"[151]", 2, WaitMs));
    size_t failed = 0;
    for (const auto& line : sink.LogLines())
        failed += line.find(L"[151]") == 0;
    EXPECT_EQ(2u, failed);
}

// The present key whose data read failed: its key type and text, and a zero key.
TEST(ReaderControlLive, LastKeyWhoseDataReadFailed)
{
    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
    SimReaderConfig config = UnpacedSim();
    SimReader s(sim, config, 0);
    auto reader = StartReader(sink, s.Port());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    ReadULSettings ul;
    ul.Enabled = 1;
    ul.Page = 4;
    ul.Count = 4;
    CurrentReadKeys().SetReadUL(ul);
    sim.Override(s.Id(), "get", "ERR\r\n");
    sim.PresentKey(s.Id(), "UL", {0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66});
    ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, 1, WaitMs));
    EXPECT_EQ(PE_READER_ERROR, sink.Events(EventKind::DriverError)[0].Code);
    EXPECT_EQ(1, reader->PresentKeyCount());
    uint32_t type = 0;
    KeyData key;
    key.Length = 5;
    std::wstring text = L"x";
    reader->GetLastKey(NO_BUS_ADDRESS, 0, type, key, text);
    EXPECT_EQ(KEY_TYPE_MIFARE_UL, type);
    EXPECT_EQ(0u, key.ByteCount());
    EXPECT_TRUE(text.empty());
    // Its departure raises nothing: it was never announced as a key.
    sim.Remove(s.Id());
    EXPECT_TRUE(WaitUntil([&] { return reader->PresentKeyCount() == 0; }, WaitMs));
    Sleep(100);
    EXPECT_EQ(0u, sink.Count(EventKind::NoCard));
    EXPECT_EQ(0u, sink.Count(EventKind::TracksData));
}

// --- Model-specific connection --------------------------------------------------------------

TEST(ReaderModels, KoraBaseIsProgrammedAtConnection)
{
    struct Case
    {
        uint32_t flags;
        const char* format;
        const char* args;
        uint32_t keyType;
        std::vector<uint8_t> key;
    } cases[] = {
        {1, "tFMTEm-Marine[%.2X%.2X] %.3d,%.5d\\r\\n\r\n", "tARGb4 b3 b2 w01\r\n", KEY_TYPE_EM_MARINE,
         EmKey},
        {0, "tFMTDALLAS[%.2X%.2X%.2X%.2X%.2X%.2X%.2X%.2X] 000,00000\\r\\n\r\n",
         "tARGb7 b6 b5 b4 b3 b2 b1 b0\r\n", KEY_TYPE_DALLAS, {0x30, 45, 0x2B, 0x1A, 0, 0}},
    };
    simctl::CSimControl sim;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        CRecordingSink sink;
        SimReaderConfig config = UnpacedSim();
        config.identity.model = 7;
        SimReader s(sim, config, 0);
        auto reader = StartReader(sink, s.Port(), Timings(), c.flags);
        ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
        EXPECT_TRUE(sim.WaitReceivedText(s.Id(), c.format, 1000));
        EXPECT_TRUE(sim.WaitReceivedText(s.Id(), c.args, 1000));
        EXPECT_TRUE(sim.WaitReceivedText(s.Id(), "tNOCNo card\\r\\n\r\n", 1000));
        simctl::SimCard card;
        card.key = {0x39, 0x30, 45, 0x2B, 0x1A, 0, 0, 0}; // the raw bytes b0..b7
        sim.Present(s.Id(), card);
        ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
        EXPECT_EQ(c.keyType, sink.Events(EventKind::TracksData)[0].KeyType);
        EXPECT_EQ(c.key, Bytes(sink.Events(EventKind::TracksData)[0].Key));
        sim.Remove(s.Id());
        ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, WaitMs));
    }
}

TEST(ReaderModels, AutoModelFindsAReaderLeftAtItsFastRate)
{
    simctl::CSimControl sim;
    CRecordingSink sink;
    SimReaderConfig config = UnpacedSim();
    config.speed = 115200;
    SimReader s(sim, config, 62);
    auto reader = StartReader(sink, s.Port());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    EXPECT_TRUE(sink.HasLogLine(L"[146] Configured port 115200,N,8,1."));
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
}

// A device that keeps naming a code we do not know is given up after three identifications in a
// row, and the log says so; a single garbled one is retried (the network tests show that).
TEST(ReaderModels, UnsupportedModelIsGivenUpWhenItRepeats)
{
    simctl::CSimControl sim;
    CRecordingSink sink;
    SimReaderConfig config = UnpacedSim();
    config.identity.deviceCode = 0x1234;
    SimReader s(sim, config, 0);
    Timings t;
    t.ConnectPeriod = 200;
    auto reader = StartReader(sink, s.Port(), t);
    ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, 3, WaitMs));
    EXPECT_EQ(L"Unable to connect to the reader. Reader model (0x1234) is not supported.",
              sink.Events(EventKind::DriverError)[0].Text);
    Sleep(700);
    EXPECT_EQ(3u, sink.Count(EventKind::DriverError));
    EXPECT_TRUE(sink.HasLogLine(L"[156] The reader named the unknown model code 0x1234 3 times in a row"));
    // A reconnection request tries again.
    reader->Reconnect(NO_BUS_ADDRESS);
    ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, 4, WaitMs));
}

// The Binary setting decides the protocol of a Mifare reader: text lines without it, frames
// with it (the binary protocol has its own tests).
TEST(ReaderModels, MifareReaderIsServedInTextOrBinaryByTheBinarySetting)
{
    simctl::CSimControl sim;
    for (uint32_t flags : {0u, 2u}) {
        SCOPED_TRACE(flags);
        CRecordingSink sink;
        SimReaderConfig config = UnpacedSim();
        config.identity.model = 3;
        SimReader s(sim, config, 0);
        auto reader = StartReader(sink, s.Port(), Timings(), flags);
        ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
        EXPECT_EQ(flags ? "binary" : "text", sim.Info(s.Id())["mode"].AsString());
        sim.PresentKey(s.Id(), "M1K", {0x04, 0xA1, 0xB2, 0xC3});
        ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
        EXPECT_EQ(std::vector<uint8_t>({0x04, 0xA1, 0xB2, 0xC3}), Bytes(sink.Events(EventKind::TracksData)[0].Key));
        EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
    }
}

// The Pelto is identified in text and then served in its own frames (they have their own tests).
TEST(ReaderModels, PeltoIsServedInItsFramedProtocol)
{
    simctl::CSimControl sim;
    CRecordingSink sink;
    SimReaderConfig config = UnpacedSim();
    config.identity.model = 9;
    config.protocol = "pelto";
    SimReader s(sim, config, 0);
    auto reader = StartReader(sink, s.Port());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
}
