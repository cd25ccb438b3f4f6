// A reader's owner stops it on the platform's thread, which must not hang on a driver: retiring a
// reader whose thread is stuck in the system returns within its time, the thread is cut off from
// the sink and ends alone, its port stays busy for other readers until then, and a port whose
// operations never end even after their cancel does not hold the owner either. The device test's
// stop gives up in time as well and leaves the stuck thread running.
#include "Messages.h"
#include "ReaderTestRig.h"
#include "ReaderTestSink.h"
#include "ScriptedComCalls.h"
#include "Search.h"
#include "SlowOpenComCalls.h"
#include "StallingSetupComCalls.h"

#include <gtest/gtest.h>

using namespace readertest;

namespace {

const DWORD WaitMs = 5000;

// How long Retire took, in ms, and what it said.
struct Retired
{
    bool ended;
    DWORD took;
};

Retired TimedRetire(std::unique_ptr<CReader> reader, DWORD budgetMs)
{
    const DWORD start = GetTickCount();
    const bool ended = CReader::Retire(std::move(reader), budgetMs);
    return {ended, GetTickCount() - start};
}

} // namespace

TEST(ReaderLifetime, StuckOpenIsLeftToEndAloneCutOffFromItsSinkAndKeepsThePortBusy)
{
    CSlowOpenComCalls calls(15000);
    CCallSeamScope<CComCalls> scope(calls);
    CRecordingSink sink;
    auto reader = StartReader(sink, L"COM201");
    ASSERT_TRUE(WaitUntil([&] { return calls.Inside() == 1; }, WaitMs));
    const size_t eventsBefore = sink.Events().size();

    const Retired retired = TimedRetire(std::move(reader), 1500);
    EXPECT_FALSE(retired.ended);
    EXPECT_LE(retired.took, 2000u);
    EXPECT_TRUE(CReader::PortHeldByRetired(L"com201")); // port names are compared as the system does

    // Another reader of the port is told at once that it is busy, without asking the driver.
    CRecordingSink other;
    auto second = StartReader(other, L"COM201");
    ASSERT_TRUE(other.WaitCount(EventKind::DriverError, 1, WaitMs));
    EXPECT_EQ(PE_PORT_BUSY, other.Events(EventKind::DriverError)[0].Code);
    EXPECT_EQ(1, calls.Opens());
    EXPECT_TRUE(TimedRetire(std::move(second), 1500).ended);

    // The driver gives up at last: the thread fails its connection, stops, deletes the reader and
    // lets go of the port, and none of it reaches the sink.
    calls.Release();
    EXPECT_TRUE(WaitUntil([] { return !CReader::PortHeldByRetired(L"COM201"); }, WaitMs));
    EXPECT_EQ(0, calls.Inside());
    EXPECT_EQ(eventsBefore, sink.Events().size());

    // Free again: the next reader asks the driver.
    CRecordingSink third;
    auto next = StartReader(third, L"COM201");
    EXPECT_TRUE(WaitUntil([&] { return calls.Opens() == 2; }, WaitMs));
    EXPECT_TRUE(TimedRetire(std::move(next), 1500).ended);
}

// The device test's stop of a thread stuck in the driver gives up within its time and takes the
// stop back: the thread goes on, tries the port again once the driver lets go, and still stops
// (for good, or for the next test) when asked.
TEST(ReaderLifetime, StopForTestOfAThreadStuckInTheDriverLeavesItRunning)
{
    CSlowOpenComCalls calls(15000);
    CCallSeamScope<CComCalls> scope(calls);
    CRecordingSink sink;
    Timings t;
    t.ConnectPeriod = 300;
    auto reader = StartReader(sink, L"COM203", t);
    ASSERT_TRUE(WaitUntil([&] { return calls.Inside() == 1; }, WaitMs));

    const DWORD start = GetTickCount();
    EXPECT_FALSE(reader->StopForTest(1500));
    EXPECT_LE(GetTickCount() - start, 2000u);
    EXPECT_TRUE(reader->Started());
    EXPECT_TRUE(reader->Running());

    // The driver gives up; the thread reports it and tries again at its period, as if never asked
    // to stop.
    calls.Release();
    EXPECT_TRUE(WaitUntil([&] { return calls.Opens() >= 3; }, WaitMs)) << calls.Opens();
    EXPECT_TRUE(reader->Running());
    EXPECT_GE(sink.Count(EventKind::DriverError), 1u);

    // Nothing holds it now: the stop stands, and the thread can be started again.
    EXPECT_TRUE(reader->StopForTest(1500));
    EXPECT_FALSE(reader->Started());
    const int opens = calls.Opens();
    reader->Reconnect(NO_BUS_ADDRESS);
    reader->Start();
    EXPECT_TRUE(WaitUntil([&] { return calls.Opens() > opens; }, WaitMs));
    EXPECT_TRUE(TimedRetire(std::move(reader), 1500).ended);
}

TEST(ReaderLifetime, ThreadThatEndsInTimeIsJoinedAndDisconnects)
{
    simctl::CSimControl sim;
    SimReader s(sim, UnpacedSim(), 0);
    CRecordingSink sink;
    auto reader = StartReader(sink, s.Port());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    const Retired retired = TimedRetire(std::move(reader), 1500);
    EXPECT_TRUE(retired.ended);
    EXPECT_LE(retired.took, 1500u);
    EXPECT_EQ(1u, sink.Count(EventKind::Disconnect)); // the quiet disconnection still reports it
    EXPECT_FALSE(CReader::PortHeldByRetired(s.Port()));
}

// Reads and comm-event waits that the driver never ends, not even when they are cancelled: the
// port leaves them to the system and the owner gets its thread back within its time.
TEST(ReaderLifetime, OperationsThatNeverEndDoNotHoldTheOwner)
{
    CScriptedComCalls calls;
    calls.readsNeverEnd = true;
    calls.commWaitsNeverEnd = true;
    CCallSeamScope<CComCalls> scope(calls);
    simctl::CSimControl sim;
    SimReader s(sim, UnpacedSim(), 202);
    CRecordingSink sink;
    Timings t;
    t.ReqTimeout = 5000; // the identification waits on its read when the stop comes
    auto reader = StartReader(sink, s.Port(), t);
    ASSERT_TRUE(WaitUntil([&] { return calls.Stuck() >= 2; }, WaitMs));
    Sleep(200);
    const Retired retired = TimedRetire(std::move(reader), 1500);
    EXPECT_LE(retired.took, 2000u);
    EXPECT_TRUE(retired.ended);
}

// A reader left to end alone while it holds its open port inside the system: the reader search
// leaves that port out (a probe would be refused, or disturb the line) until the thread lets go.
TEST(ReaderLifetime, TheSearchLeavesOutAPortThatARetiredReaderHolds)
{
    simctl::CSimControl sim;
    SimReader s(sim, UnpacedSim(), 67);
    CStallingSetupComCalls calls(s.Port());
    CCallSeamScope<CComCalls> scope(calls);
    CRecordingSink sink;
    auto reader = StartReader(sink, s.Port());
    ASSERT_TRUE(WaitUntil([&] { return calls.Inside() == 1; }, WaitMs));
    EXPECT_FALSE(TimedRetire(std::move(reader), 300).ended);
    ASSERT_TRUE(CReader::PortHeldByRetired(s.Port()));

    std::vector<PortInfo> ports = {{s.Port(), MODEL_MASK_ANY}};
    CSearchReaders search;
    search.Start(0, 0, 2000, 100, 400, 1, 400, 1, &ports);
    SearchResult result;
    const DWORD start = GetTickCount();
    EXPECT_EQ(PE_NO_MORE_READERS, search.GetNext(result, 5000));
    EXPECT_LE(GetTickCount() - start, 300u);
    EXPECT_EQ(1, calls.Opens()) << "the search opened the port the retired reader holds";

    calls.Release();
    EXPECT_TRUE(WaitUntil([&] { return !CReader::PortHeldByRetired(s.Port()); }, WaitMs));
}
