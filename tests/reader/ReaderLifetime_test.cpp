// A reader's owner stops it on the platform's thread, which must not hang on a driver: retiring a
// reader whose thread is stuck in the system returns within its time, the thread is cut off from
// the sink and ends alone, its port stays busy for other readers until then, and a port whose
// operations never end even after their cancel does not hold the owner either. The device test's
// stop gives up in time as well and leaves the stuck thread running. A sink call that does not
// return (the platform holds the event) does not hold the owner, and an owner may retire the
// reader from inside one of its sink calls.
#include "ComOpen.h"
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

// A reader whose deletion is seen.
class CObservedReader : public CReader
{
public:
    explicit CObservedReader(std::atomic<bool>& deleted) : m_deleted(deleted) {}
    ~CObservedReader() override { m_deleted = true; }

private:
    std::atomic<bool>& m_deleted;
};

// A sink whose driver-error call stays inside until Release, or 12 s at most: a platform that
// queues the event on its main thread, which is the owner's, busy retiring the reader.
class CHoldingSink : public CRecordingSink
{
public:
    void OnDriverError(CReader* reader, HRESULT code, const std::wstring& text) override
    {
        CRecordingSink::OnDriverError(reader, code, text);
        ++m_inside;
        WaitForSingleObject(m_release.Get(), 12000);
        --m_inside;
    }
    int Inside() const { return m_inside.load(); }
    void Release() { SetEvent(m_release.Get()); }
    // Everything the sink has heard so far.
    size_t Heard() { return Events().size() + LogLines().size(); }

private:
    CHandle m_release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<int> m_inside{0};
};

// A sink that owns its reader and retires it from inside its first driver-error call, on the
// reader's own thread, as a platform that runs the event handler there and closes the device.
class CRetiringSink : public CRecordingSink
{
public:
    explicit CRetiringSink(std::atomic<bool>& deleted) : m_deleted(deleted) {}
    void Own(std::unique_ptr<CReader> reader) { m_reader = std::move(reader); }
    void OnDriverError(CReader* reader, HRESULT code, const std::wstring& text) override
    {
        CRecordingSink::OnDriverError(reader, code, text);
        if (!m_reader)
            return;
        const DWORD start = GetTickCount();
        Ended = CReader::Retire(std::move(m_reader), 1500);
        Took = GetTickCount() - start;
        DeletedInsideTheCall = m_deleted.load();
        HeardAtRetire = Events().size() + LogLines().size();
        Retired = true;
    }

    std::atomic<bool> Retired{false};
    std::atomic<bool> Ended{true};
    std::atomic<DWORD> Took{0};
    std::atomic<bool> DeletedInsideTheCall{false};
    std::atomic<size_t> HeardAtRetire{0};

private:
    std::atomic<bool>& m_deleted;
    std::unique_ptr<CReader> m_reader;
};

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

TEST(ReaderLifetime, ASinkCallThatDoesNotReturnDoesNotHoldTheOwner)
{
    CSlowOpenComCalls calls(0); // the driver refuses every open at once: a driver error to report
    CCallSeamScope<CComCalls> scope(calls);
    CHoldingSink sink;
    auto reader = StartReader(sink, L"COM231");
    ASSERT_TRUE(WaitUntil([&] { return sink.Inside() == 1; }, WaitMs));

    const Retired retired = TimedRetire(std::move(reader), 1500);
    std::printf("Retire while the sink holds the reader's call: %lu ms\n", static_cast<unsigned long>(retired.took));
    EXPECT_FALSE(retired.ended);
    EXPECT_LE(retired.took, 2000u);
    EXPECT_TRUE(CReader::PortHeldByRetired(L"COM231"));

    // Let go, the call returns into the reader, whose thread ends and deletes it; nothing it does
    // after Retire reaches the sink.
    const size_t heard = sink.Heard();
    sink.Release();
    EXPECT_TRUE(WaitUntil([] { return !CReader::PortHeldByRetired(L"COM231"); }, WaitMs));
    EXPECT_EQ(0, sink.Inside());
    EXPECT_EQ(heard, sink.Heard());
}

TEST(ReaderLifetime, AnOwnerMayRetireTheReaderFromInsideItsSinkCall)
{
    CSlowOpenComCalls calls(0);
    CCallSeamScope<CComCalls> scope(calls);
    std::atomic<bool> deleted{false};
    CRetiringSink sink(deleted);
    auto reader = std::make_unique<CObservedReader>(deleted);
    CReader& started = *reader;
    reader->Init(&sink, L"COM232");
    reader->Reconnect(NO_BUS_ADDRESS);
    sink.Own(std::move(reader));
    started.Start();

    ASSERT_TRUE(WaitUntil([&] { return sink.Retired.load(); }, WaitMs));
    EXPECT_FALSE(sink.Ended); // left to its thread, which is inside the call
    EXPECT_LE(sink.Took.load(), 200u);
    EXPECT_FALSE(sink.DeletedInsideTheCall) << "the reader was deleted under its own sink call";
    // The thread ends once the call has returned, deletes the reader and lets go of the port;
    // nothing it did after Retire reached the sink.
    EXPECT_TRUE(WaitUntil([&] { return deleted.load(); }, WaitMs));
    EXPECT_TRUE(WaitUntil([] { return !CReader::PortHeldByRetired(L"COM232"); }, WaitMs));
    EXPECT_EQ(sink.HeardAtRetire.load(), sink.Events().size() + sink.LogLines().size());
}

// A reader left to end alone while it is stuck inside the system with its port (in the set-up of
// the line its open is making, or in a read once the port is open and no open of it is in
// progress): the reader search leaves that port out (a probe would be refused, or disturb the
// line) until the thread lets go.
void ExpectSearchLeavesOutRetiredReadersPort(int com, CStallingSetupComCalls::Stall stall)
{
    const bool stuckInOpen = stall == CStallingSetupComCalls::Stall::Setup;
    simctl::CSimControl sim;
    SimReader s(sim, UnpacedSim(), com);
    CStallingSetupComCalls calls(s.Port(), stall);
    CCallSeamScope<CComCalls> scope(calls);
    CRecordingSink sink;
    auto reader = StartReader(sink, s.Port());
    ASSERT_TRUE(WaitUntil([&] { return calls.Inside() == 1; }, WaitMs));
    EXPECT_EQ(stuckInOpen, ComOpenInProgress(s.Port()));
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

TEST(ReaderLifetime, TheSearchLeavesOutAPortThatARetiredReaderHolds)
{
    {
        SCOPED_TRACE("stuck in its open");
        ExpectSearchLeavesOutRetiredReadersPort(67, CStallingSetupComCalls::Stall::Setup);
    }
    {
        SCOPED_TRACE("stuck in a read after its open");
        ExpectSearchLeavesOutRetiredReadersPort(69, CStallingSetupComCalls::Stall::Read);
    }
}
