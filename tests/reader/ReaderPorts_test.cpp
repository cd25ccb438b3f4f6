// The reader object's use of its port: what the line really runs with, the event character that
// follows the protocol in use, and how fast stopping is whatever the port is doing.
#include "FramedTestRig.h"
#include "ReaderTestRig.h"
#include "ReaderTestSink.h"
#include "ScriptedComCalls.h"
#include "res/ReaderStrings.h"

#include <gtest/gtest.h>

using namespace readertest;
using simctl::SimReaderConfig;

namespace {

const DWORD WaitMs = 5000;

std::unique_ptr<CReader> StartWithStopBits(IReaderEvents& sink, const std::wstring& port, BYTE stopBits)
{
    auto reader = std::make_unique<CReader>();
    reader->Init(&sink, port.c_str());
    reader->SetConnection(stopBits, 0, 0, 0, FALSE);
    Timings t;
    reader->SetTimings(t.ConnectTimeout, t.ConnectPeriod, t.RxPeriod, t.ReqTimeout, t.ReqTries);
    reader->Reconnect(NO_BUS_ADDRESS);
    reader->Start();
    return reader;
}

} // namespace

// Windows refuses 1.5 stop bits with 8 data bits (Wine takes them as 2): the line runs with 2 and
// the log says so, rather than every open failing on a real machine.
TEST(ReaderPorts, OneAndAHalfStopBitsRunAsTwoAndAreLogged)
{
    simctl::CSimControl sim;
    CRecordingSink sink;
    SimReaderConfig config = UnpacedSim();
    SimReader s(sim, config, 70);
    auto reader = StartWithStopBits(sink, s.Port(), ONE5STOPBITS);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    EXPECT_TRUE(sink.HasLogLine(L"[148] Port \"" + s.Port() + L"\": 1.5 stop bits are not possible"));
    EXPECT_TRUE(sink.HasLogLine(L"[140] Open port \"" + s.Port() + L"\" (9600,N,8,2)."));
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
}

// A driver that refuses the recommended queue sizes keeps its own, which serve as well: the reader
// connects all the same, and the log names the port, the code and the system's text.
TEST(ReaderPorts, RefusedQueueSizesAreLoggedAndTheReaderConnects)
{
    CScriptedComCalls calls;
    calls.refuseQueues = ERROR_INVALID_PARAMETER;
    CCallSeamScope<CComCalls> scope(calls);
    simctl::CSimControl sim;
    CRecordingSink sink;
    SimReader s(sim, UnpacedSim(), 77);
    auto reader = StartWithStopBits(sink, s.Port(), ONESTOPBIT);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    EXPECT_TRUE(sink.HasLogLine(L"[149] Port \"" + s.Port() + L"\": the driver refused the queue sizes (code 0x80070057): "))
        << (sink.LogLines().empty() ? L"" : sink.LogLines().front());
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
    reader->Stop();
}

// The event character follows what is spoken on the line: text lines end in a line feed, Pelto
// frames start with 0xC0, binary frames may hold any byte and so have none.
TEST(ReaderPorts, EventCharacterFollowsTheProtocol)
{
    EXPECT_EQ('\n', ProtocolEventChar(PROTOCOL_NONE));
    EXPECT_EQ('\n', ProtocolEventChar(PROTOCOL_TEXT));
    EXPECT_EQ('\n', ProtocolEventChar(PROTOCOL_BUS));
    EXPECT_EQ(0, ProtocolEventChar(PROTOCOL_BINARY));
    EXPECT_EQ(0xC0, ProtocolEventChar(PROTOCOL_PELTO));
}

// A text-mode reader changes its rate by a framed request while connected: the frame's reply is
// taken as it comes (not after the request time-out), and the reader goes on in text at the new rate.
TEST(ReaderPorts, TextReaderChangesItsRateByAFrameWithoutWaitingForATimeOut)
{
    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
    SimReaderConfig config = MifareSim(3, "1.8");
    SimReader s(sim, config, 71);
    auto reader = std::make_unique<CReader>();
    reader->Init(&sink, s.Port().c_str());
    reader->SetConnection(0, 0, 0, 9600, FALSE);
    Timings t;
    t.ReqTimeout = 3000;
    reader->SetTimings(t.ConnectTimeout, t.ConnectPeriod, t.RxPeriod, t.ReqTimeout, t.ReqTries);
    reader->Reconnect(NO_BUS_ADDRESS);
    reader->Start();
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    ASSERT_EQ("text", sim.Info(s.Id())["mode"].AsString());

    const DWORD start = GetTickCount();
    reader->SetConnection(0, 0, 0, 57600, TRUE);
    ASSERT_TRUE(WaitUntil([&] { return sim.Info(s.Id())["port_baud"].AsInt() == 57600; }, WaitMs));
    EXPECT_LT(GetTickCount() - start, t.ReqTimeout);
    EXPECT_EQ("text", sim.Info(s.Id())["mode"].AsString());
    sim.Present(s.Id(), Card("M1K", {0x04, 0xA1, 0xB2, 0xC3}));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
    EXPECT_EQ(1u, sink.Count(EventKind::Connect));
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
}

// Stopping a connected reader (as the component's Close and Done do) returns within a second,
// also for a framed reader that is put back into text mode on the way out.
TEST(ReaderPorts, StopOfAConnectedSerialReaderReturnsWithinASecond)
{
    simctl::CSimControl sim;
    ReadKeysGuard keys;
    for (uint32_t flags : {0u, ReaderFlagBinary}) {
        SCOPED_TRACE(flags);
        CRecordingSink sink;
        SimReader s(sim, MifareSim(3), 72);
        auto reader = StartReader(sink, s.Port(), Timings(), flags);
        ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
        const DWORD start = GetTickCount();
        reader->Stop();
        EXPECT_LT(GetTickCount() - start, 1000u);
        EXPECT_EQ("text", sim.Info(s.Id())["mode"].AsString());
    }
}
