// The reader object against simulated network converters and the ordinary events of a LAN: a
// converter that closes right after a card line, a link that drops while the reader is in binary
// mode, one garbled identification, line noise before every binary reply, and a flood with the
// traffic log on.
#include "Messages.h"
#include "FramedTestRig.h"
#include "PortTestUtil.h"
#include "res/ReaderStrings.h"

#include <gtest/gtest.h>

using namespace readertest;
using simctl::SimReaderConfig;
using simctl::JsonFields;

namespace {

const DWORD WaitMs = 8000;
const char EmLine[] = "Em-Marine[1A2B] 045,12345\r\n";
const std::vector<uint8_t> Uid1K = {0x04, 0xA1, 0xB2, 0xC3};

} // namespace

class ReaderNetwork : public testing::Test
{
protected:
    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
};

// The converter sends a card line and closes the connection at once, five times: every card is
// reported before the disconnection, and the reader connects again each time.
TEST_F(ReaderNetwork, ACardLineRightBeforeTheConvertersCloseIsReported)
{
    SimReader s(sim, UnpacedSim(), 0);
    Timings t;
    t.ConnectPeriod = 300;
    auto reader = StartReader(sink, s.Port(), t);
    const size_t rounds = 5;
    for (size_t round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(sink.WaitCount(EventKind::Connect, round + 1, WaitMs));
        sim.SendText(s.Id(), EmLine, false);
        sim.Disconnect(s.Id());
        ASSERT_TRUE(sink.WaitCount(EventKind::Disconnect, round + 1, WaitMs));
    }
    sink.WaitCount(EventKind::TracksData, rounds, 1000);
    printf("%zu of %zu cards, %lld connections\n", sink.Count(EventKind::TracksData), rounds,
           static_cast<long long>(sim.Info(s.Id())["connections"].AsInt()));
    EXPECT_EQ(rounds, sink.Count(EventKind::TracksData));
    // Each card came before the disconnection that followed it.
    size_t cards = 0, drops = 0;
    for (const auto& e : sink.Events()) {
        if (e.Kind == EventKind::TracksData)
            ++cards;
        if (e.Kind == EventKind::Disconnect) {
            EXPECT_EQ(++drops, cards) << "a disconnection before its card";
        }
    }
}

// A Mifare reader in binary mode keeps its mode when the TCP link drops (closed or reset): the
// switch back at the disconnection could not reach it. The reconnection finds it all the same.
TEST_F(ReaderNetwork, AReaderLeftInBinaryModeComesBackAfterTheLinkDrops)
{
    for (bool abort : {false, true}) {
        SCOPED_TRACE(abort ? "reset" : "close");
        sink.Clear();
        SimReader s(sim, MifareSim(4), 0);
        Timings t;
        t.ConnectPeriod = 500;
        auto reader = StartReader(sink, s.Port(), t, ReaderFlagBinary);
        ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
        ASSERT_EQ("binary", sim.Info(s.Id())["mode"].AsString());
        const DWORD dropped = GetTickCount();
        sim.Disconnect(s.Id(), abort);
        ASSERT_TRUE(sink.WaitCount(EventKind::Disconnect, 1, WaitMs));
        ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, WaitMs)) << "the reader never came back";
        printf("back after %lu ms, %lld connections\n", static_cast<unsigned long>(GetTickCount() - dropped),
               static_cast<long long>(sim.Info(s.Id())["connections"].AsInt()));
        EXPECT_EQ("binary", sim.Info(s.Id())["mode"].AsString());
        sim.Present(s.Id(), Card("M1K", Uid1K));
        ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
        EXPECT_EQ(Uid1K, Bytes(sink.Events(EventKind::TracksData)[0].Key));
    }
}

// A converter that can no longer answer (restarted while the link was down, its old connection gone
// without a FIN or RST) never closes the connection: the system gives up on it and reports FD_CLOSE
// with an error. A text reader, which sends nothing while it waits for cards, is then disconnected
// with that error and connected again, and reads on.
TEST_F(ReaderNetwork, AConnectionTheSystemGaveUpOnIsDroppedAndMadeAgain)
{
    for (int error : {WSAECONNABORTED, WSAETIMEDOUT}) {
        SCOPED_TRACE(error);
        sink.Clear();
        porttest::CGivenUpCalls calls;
        CCallSeamScope<CTcpCalls> scope(calls);
        SimReader s(sim, UnpacedSim(), 0);
        Timings t;
        t.ConnectPeriod = 300;
        auto reader = StartReader(sink, s.Port(), t);
        ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
        calls.error = error;
        sim.SendText(s.Id(), "\r\n", false);   // something for the reader's wait to see the end by
        ASSERT_TRUE(sink.WaitCount(EventKind::Disconnect, 1, WaitMs)) << "the dead connection was kept";
        EXPECT_EQ(1, calls.played.load());
        ASSERT_GE(sink.Count(EventKind::DriverError), 1u);
        EXPECT_EQ(error == WSAECONNABORTED ? PE_PORT_DISCONNECTED : HRESULT_FROM_WIN32(WSAETIMEDOUT),
                  sink.Events(EventKind::DriverError)[0].Code);
        ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, WaitMs)) << "never connected again";
        sim.PresentLine(s.Id(), "Em-Marine[1A2B] 045,12345");
        ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
        reader.reset();   // before the seam goes
    }
}

// One identification that names an unknown device code (a garbled line) is a failed attempt:
// the next one, at the connection period, connects.
TEST_F(ReaderNetwork, OneGarbledIdentificationIsRetried)
{
    SimReader s(sim, UnpacedSim(), 0);
    sim.Override(s.Id(), "i",
                 "Kora USB S/N: 5150\r\nDevice code: [9301]\r\nPort speed: 9600\r\nMode: text\r\n"
                 "Software version: 1.0\r\n",
                 1);
    Timings t;
    t.ConnectPeriod = 500;
    const DWORD start = GetTickCount();
    auto reader = StartReader(sink, s.Port(), t);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs)) << "one garbled identification stopped the reader";
    printf("connected after %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));
    EXPECT_EQ(1u, sink.Count(EventKind::DriverError));
    EXPECT_FALSE(sink.HasLogLine(L"[156]"));
    sim.PresentLine(s.Id(), "Em-Marine[1A2B] 045,12345");
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
}

// A converter that puts a stray start byte before every binary reply: the hunt for the frame goes
// on at the byte after the false header, so every request is answered and every card seen.
TEST_F(ReaderNetwork, AStrayStartByteBeforeEveryBinaryReplyLosesNoCard)
{
    SimReader s(sim, MifareSim(4), 0);
    sim.Set(s.Id(), JsonFields().Add("frame_noise_hex", "02"));
    auto reader = StartReader(sink, s.Port(), Timings(), ReaderFlagBinary);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    const std::vector<std::vector<uint8_t>> uids = {Uid1K, {0x04, 0x01, 0x02, 0x03}, {0x04, 0x09, 0x08, 0x07}};
    for (size_t i = 0; i < uids.size(); ++i) {
        sim.Present(s.Id(), Card("M1K", uids[i]));
        ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, i + 1, WaitMs)) << "card " << i;
        sim.Remove(s.Id());
        ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, i + 1, WaitMs));
    }
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
    EXPECT_EQ(1u, sink.Count(EventKind::Connect));
}

// A converter that floods its connection with the traffic log on: the received bytes logged stay
// within the per-second budget, and one line per second says how many were left out.
TEST_F(ReaderNetwork, AFloodFillsTheTrafficLogOnlyUpToItsBudget)
{
    SimReader s(sim, UnpacedSim(), 0);
    auto reader = StartReader(sink, s.Port());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    sink.Clear();
    const DWORD start = GetTickCount();
    sim.Call("flood", JsonFields().Add("id", s.Id()).Add("on", "now"));
    Sleep(3000);
    sim.Call("flood", JsonFields().Add("id", s.Id()).Add("on", "off"));
    const int64_t flooded = sim.Call("flood", JsonFields().Add("id", s.Id()))["bytes"].AsInt();
    Sleep(1200);
    reader.reset();   // the end of the connection tells what its last second left out
    const DWORD seconds = (GetTickCount() - start + 999) / 1000;

    size_t logged = 0, omittedLines = 0;
    for (const std::wstring& line : sink.LogLines()) {
        if (line.rfind(L"[144] < ", 0) == 0)
            logged += line.size() - 8;
        if (line.rfind(L"[158] ", 0) == 0)
            ++omittedLines;
    }
    printf("%lld bytes flooded, %zu logged in %lu s, %zu lines on what was left out\n",
           static_cast<long long>(flooded), logged, static_cast<unsigned long>(seconds), omittedLines);
    ASSERT_GT(flooded, 1000000) << "the flood did not run";
    EXPECT_LE(logged, (seconds + 1) * 4096u);
    EXPECT_GE(omittedLines, 2u);
    EXPECT_LE(omittedLines, seconds + 1);
}
