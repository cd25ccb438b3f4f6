// The reader object's use of its port: what the line really runs with, the event character that
// follows the protocol in use, and how fast stopping is whatever the port is doing.
#include "ReaderTestRig.h"
#include "ReaderTestSink.h"
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
    SimReaderConfig config;
    config.pace = 0;
    SimReader s(sim, config, 70);
    auto reader = StartWithStopBits(sink, s.Port(), ONE5STOPBITS);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    EXPECT_TRUE(sink.HasLogLine(L"[148] Port \"" + s.Port() + L"\": 1.5 stop bits are not possible"));
    EXPECT_TRUE(sink.HasLogLine(L"[140] Open port \"" + s.Port() + L"\" (9600,N,8,2)."));
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
}
