// Readers behind every kind of network converter a site may have (a raw TCP server, a Telnet one
// that negotiates at connection, one that also asks for RFC 2217, one that only doubles 0xFF):
// a binary-protocol reader whose request numbers run through 0xFF and whose cards hold 0xFF, a
// Pelto whose keys hold it, a text reader, and the search's probe.
#include "FramedTestRig.h"
#include "Search.h"

#include <gtest/gtest.h>

using namespace readertest;

namespace {

const DWORD WaitMs = 8000;
const char* const Kinds[] = {"raw", "telnet", "rfc2217", "telnet_doubling"};

simctl::SimReaderConfig Behind(simctl::SimReaderConfig config, const std::string& kind)
{
    config.converter = kind;
    return config;
}

// The lines that say how the converter passes 0xFF (messages 135-139).
std::vector<std::wstring> WayLines(CRecordingSink& sink)
{
    std::vector<std::wstring> lines;
    for (const std::wstring& line : sink.LogLines())
        if (line.rfind(L"[13", 0) == 0 && line.size() > 4 && line[3] >= L'5' && line[3] <= L'9')
            lines.push_back(line);
    return lines;
}

// What the log says first about the converter's way, and with which of its bytes: the telnet
// kinds show it by their negotiation at once, the others by the reply to the first binary
// request (whose check sum holds 0xFF): raw as 0xFF followed by the sum's high byte, doubling as
// 0xFF 0xFF.
std::wstring ExpectedWayLine(const std::string& kind)
{
    if (kind == "raw")
        return L"[139] ";
    return L"[138] ";
}

std::wstring ExpectedShownBy(const std::string& kind)
{
    if (kind == "raw")
        return L"(it sent FF 00,";
    if (kind == "telnet_doubling")
        return L"(it sent FF FF)";
    return L"(it sent FF FB 03)";
}

// Mifare UIDs holding 0xFF: followed by a low byte, by Telnet command bytes (SB, WILL, DO, NOP),
// doubled and more, at the start and at the end.
const std::vector<std::vector<uint8_t>> CardsWithFF = {
    {0x04, 0xFF, 0x79, 0x12}, {0xFF, 0x79, 0x00, 0x01}, {0x04, 0xFF, 0xFF, 0x12}, {0xFF, 0xFF, 0xFF, 0xFF},
    {0x04, 0x12, 0xFF, 0xF5}, {0x04, 0xFF, 0xF0, 0x33}, {0x04, 0xFF, 0xFB, 0x03}, {0x04, 0xFF, 0xFD, 0x2C},
    {0x04, 0xFF, 0xFA, 0x2C}, {0x04, 0xFF, 0xF1, 0x01}, {0x12, 0x34, 0x56, 0xFF}, {0x04, 0xFF, 0x00, 0xFF},
    {0x04, 0xFF, 0xFE, 0x01}, {0xFF, 0x04, 0xFF, 0xFF}, {0x04, 0xFF, 0x02, 0x01}, {0x04, 0xFF, 0x07, 0x23},
    {0x04, 0xFF, 0xFF, 0xFF}, {0x04, 0xFF, 0xFF, 0x10, 0xFF, 0x20, 0xFF}, {0x04, 0xFF, 0xF2, 0xF3},
    {0x04, 0xAB, 0xFF, 0xCD},
};

} // namespace

class ReaderConverters : public testing::TestWithParam<const char*>
{
protected:
    std::string Kind() const { return GetParam(); }

    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
};

INSTANTIATE_TEST_SUITE_P(Kinds, ReaderConverters, testing::ValuesIn(Kinds),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// Twenty cards holding 0xFF, each within 2 s, then more than 300 requests in all, the request
// number passing 0xFF more than once: every request reaches the reader once and intact (the
// numbers it heard count up by one), none is tried again, nothing is reported as an error. The
// time-outs and tries are those a site has, so that a request lost to a 0xFF would show as a
// stall.
TEST_P(ReaderConverters, ABinaryReaderLosesNo0xFFEitherWay)
{
    SimReader s(sim, Behind(MifareSim(4), Kind()), 0);
    Timings t;
    t.ReqTimeout = 3000;
    t.ReqTries = 2;
    auto reader = StartReader(sink, s.Port(), t, ReaderFlagBinary);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));

    DWORD slowest = 0;
    for (size_t i = 0; i < CardsWithFF.size(); ++i) {
        SCOPED_TRACE(i);
        const std::vector<uint8_t>& uid = CardsWithFF[i];
        const DWORD before = GetTickCount();
        sim.Present(s.Id(), Card(uid.size() == 7 ? "UL" : "M1K", uid));
        ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, i + 1, WaitMs)) << "card " << i << " never came";
        const ReaderEvent card = sink.Events(EventKind::TracksData)[i];
        EXPECT_EQ(uid, Bytes(card.Key));
        slowest = std::max<DWORD>(slowest, card.Tick - before);
        EXPECT_LE(card.Tick - before, 2000u) << "card " << i;
    }
    // Many cards in the field make many requests per poll.
    for (size_t i = 0; i < 15; ++i)
        sim.Present(s.Id(), Card("M1K", {0xFF, static_cast<uint8_t>(0xF0 + i), 0xFF, static_cast<uint8_t>(i)}, true),
                    -1, true, false);
    ASSERT_TRUE(WaitUntil([&] { return sim.Info(s.Id())["frame_count"].AsInt() >= 320; }, 20000));
    // Taken while the reader runs: a stop may cut a request short, and its end is not the point.
    const auto frames = sim.Frames(s.Id());
    size_t wraps = 0, steps = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        wraps += frames[i - 1].seq == 0xFF;
        if (frames[i].seq != ((frames[i - 1].seq + 1) & 0xFF))
            ADD_FAILURE() << "request " << i << " numbered " << frames[i].seq << " after "
                          << frames[i - 1].seq << " (" << frames[i].hex << ")";
        else
            ++steps;
    }
    const simctl::JsonValue info = sim.Info(s.Id());
    printf("%s: %zu cards, slowest %lu ms; %zu requests, %zu in sequence, number 0xFF %zu times\n",
           Kind().c_str(), CardsWithFF.size(), static_cast<unsigned long>(slowest), frames.size(), steps, wraps);
    EXPECT_GE(frames.size(), 300u);
    EXPECT_GE(wraps, 1u);
    EXPECT_EQ(0, info["bad_frames"].AsInt()) << "a request reached the reader broken";
    EXPECT_EQ(0, info["telnet_bad"].AsInt()) << "a 0xFF reached a Telnet converter undoubled";
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
    EXPECT_EQ(1u, sink.Count(EventKind::Connect));

    const std::vector<std::wstring> lines = WayLines(sink);
    ASSERT_EQ(1u, lines.size()) << "the converter's way is logged once per connection";
    EXPECT_EQ(0u, lines[0].rfind(ExpectedWayLine(Kind()), 0)) << lines[0];
    EXPECT_NE(std::wstring::npos, lines[0].find(ExpectedShownBy(Kind()))) << lines[0];
}

// Right after the connection, before a converter has had a reason of its own to send a 0xFF: a
// card whose number holds 0xFF 0xFF 0xF5, its block read with the transport key FFFFFFFFFFFF (so
// that the authentication request holds six 0xFF).
TEST_P(ReaderConverters, RightAfterTheConnectionACardAndItsKeyHold0xFF)
{
    SimReader s(sim, Behind(MifareSim(4), Kind()), 0);
    ReadMfSettings mf;
    mf.Enabled = 1;
    mf.Passw = 0xFFFFFFFFFFFFULL;
    mf.Sect = 2;
    mf.Block = 1;
    CurrentReadKeys().SetReadMf(mf);
    Timings t;
    t.ReqTimeout = 3000;
    t.ReqTries = 2;
    auto reader = StartReader(sink, s.Port(), t, ReaderFlagBinary);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    simctl::SimCard card = Card("M1K", {0x04, 0xFF, 0xFF, 0xF5});
    card.keyA = "FFFFFFFFFFFF";
    const DWORD before = GetTickCount();
    sim.Present(s.Id(), card);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
    const ReaderEvent read = sink.Events(EventKind::TracksData)[0];
    printf("%s: the block came after %lu ms\n", Kind().c_str(), static_cast<unsigned long>(read.Tick - before));
    EXPECT_EQ(ClassicBlock(9, 15), Bytes(read.Key));
    EXPECT_LE(read.Tick - before, 2000u);
    const simctl::JsonValue info = sim.Info(s.Id());
    EXPECT_EQ(0, info["bad_frames"].AsInt());
    EXPECT_EQ(0, info["telnet_bad"].AsInt());
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
}

// A Pelto's keys holding 0xFF. Behind a raw converter the first one holds 0xFF followed by a low
// byte, which shows the converter raw; the others would be doubtful before that.
TEST_P(ReaderConverters, APeltoReadsKeysHolding0xFF)
{
    SimReader s(sim, Behind(PeltoSim(), Kind()), 0);
    auto reader = StartReader(sink, s.Port(), Timings());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    const std::vector<std::vector<uint8_t>> keys = {
        {0x12, 0xFF, 0x34, 0x56, 0x78}, {0xFF, 0xFF, 0x01, 0x02, 0x03}, {0x01, 0xFF, 0xF5, 0x02, 0xFF},
        {0xFF, 0xFB, 0x03, 0xFF, 0xFA}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    };
    for (size_t i = 0; i < keys.size(); ++i) {
        SCOPED_TRACE(i);
        sim.Present(s.Id(), Card("EM", keys[i]));
        ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, i + 1, WaitMs));
        EXPECT_EQ(keys[i], Bytes(sink.Events(EventKind::TracksData)[i].Key));
    }
    EXPECT_EQ(0, sim.Info(s.Id())["telnet_bad"].AsInt());
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
}

// A Pelto's key whose bytes look like a Telnet command (FF FD, FF FB, FF FF, FF FA), presented as
// the first key after a connection, before anything has shown the converter's way: the frame's
// check shows it. Each key comes once, with its number, within 3 s, and the connection stays. A key
// taken away is never raised again, not even once a later key has shown the converter raw.
TEST_P(ReaderConverters, APeltoReadsAKeyLookingLikeTelnetAsTheFirstAfterAConnection)
{
    SimReader s(sim, Behind(PeltoSim(), Kind()), 0);
    const std::vector<std::vector<uint8_t>> keys = {
        {0xFF, 0xFD, 0x04, 0x12, 0x34}, {0x12, 0xFF, 0xFB, 0x03, 0x56}, {0xFF, 0xFF, 0x01, 0x02, 0x03},
        {0x01, 0xFF, 0xFA, 0x2C, 0x09},
    };
    const std::vector<uint8_t> later = {0x12, 0xFF, 0x34, 0x56, 0x78};   // 0xFF and a low byte
    DWORD slowest = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
        SCOPED_TRACE(i);
        sink.Clear();
        auto reader = StartReader(sink, s.Port(), Timings());
        ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
        const DWORD presented = GetTickCount();
        sim.Present(s.Id(), Card("EM", keys[i]));
        ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs)) << "the key never came";
        const ReaderEvent key = sink.Events(EventKind::TracksData)[0];
        EXPECT_EQ(keys[i], Bytes(key.Key));
        slowest = std::max<DWORD>(slowest, key.Tick - presented);
        EXPECT_LE(key.Tick - presented, 3000u);
        if (i == 0) {
            // The log says which way the key's frame showed, with the frame as it came.
            const std::vector<std::wstring> lines = WayLines(sink);
            const bool negotiates = Kind() == "telnet" || Kind() == "rfc2217";
            ASSERT_EQ(negotiates ? 1u : 2u, lines.size());
            const wchar_t* shown = negotiates ? L"[138] " : Kind() == "raw" ? L"[135] " : L"[136] ";
            EXPECT_EQ(0u, lines.back().rfind(shown, 0)) << lines.back();
            if (Kind() == "raw") {
                EXPECT_NE(std::wstring::npos, lines.back().find(L"(a frame from the reader, 61 01 20 FF FD 04 12 34"))
                    << lines.back();
            }
        }
        sim.Remove(s.Id());
        ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, WaitMs));
        if (i + 1 == keys.size()) {
            Sleep(600);
            sim.Present(s.Id(), Card("EM", later));
            ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 2, WaitMs));
            Sleep(700);   // two more polls
        }
        const std::vector<ReaderEvent> cards = sink.Events(EventKind::TracksData);
        ASSERT_EQ(i + 1 == keys.size() ? 2u : 1u, cards.size()) << "a key came twice, or a stale one";
        if (cards.size() == 2) {
            EXPECT_EQ(later, Bytes(cards[1].Key));
        }
        EXPECT_EQ(0u, sink.Count(EventKind::Disconnect));
        EXPECT_EQ(1u, sink.Count(EventKind::Connect));
        EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
        reader->Stop();
    }
    printf("%s: slowest key after %lu ms\n", Kind().c_str(), static_cast<unsigned long>(slowest));
    EXPECT_EQ(0, sim.Info(s.Id())["telnet_bad"].AsInt());
}

// A text reader does as before behind every converter; its converter's way is logged once, at the
// connection, as far as the converter has shown it by then (a text line holds no 0xFF).
TEST_P(ReaderConverters, ATextReaderIsUnchanged)
{
    SimReader s(sim, Behind(UnpacedSim(), Kind()), 0);
    auto reader = StartReader(sink, s.Port(), Timings());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    sim.PresentLine(s.Id(), "Em-Marine[1A2B] 045,12345");
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
    EXPECT_EQ(std::wstring(L"key1"), sink.Events(EventKind::TracksData)[0].Text);
    const std::vector<std::wstring> lines = WayLines(sink);
    ASSERT_EQ(1u, lines.size());
    const bool negotiates = Kind() == "telnet" || Kind() == "rfc2217";
    EXPECT_EQ(0u, lines[0].rfind(negotiates ? L"[138] " : L"[137] ", 0)) << lines[0];
}

// The search's probe finds a reader behind every kind of converter, the negotiation coming before
// the identification where there is one.
TEST(ConverterSearch, TheProbeFindsAReaderBehindEveryKind)
{
    simctl::CSimControl sim;
    std::vector<std::unique_ptr<SimReader>> readers;
    std::vector<PortInfo> ports;
    for (const char* kind : Kinds) {
        readers.push_back(std::make_unique<SimReader>(sim, Behind(UnpacedSim(), kind), 0));
        ports.push_back({readers.back()->Port(), 0x002});
    }
    CSearchReaders search;
    search.Start(0, 0, 2000, 100, 1000, 1, 400, 1, &ports);
    size_t found = 0;
    SearchResult result;
    while (search.GetNext(result, 10000) == S_OK) {
        ++found;
        EXPECT_EQ(1u, result.model) << result.portName;
    }
    EXPECT_EQ(ports.size(), found);
}
