// Serial opens whose owner must not wait for the driver: an open with a time-out gives up in time
// and leaves the driver to end alone, the port counts as busy until then (another open is refused
// without asking the driver, and nobody waits behind it), an open in the background announces its
// end on the owner's event, and a handle that the driver gives after its owner gave up is closed,
// never leaked, without a word to that owner.
#include "ComPort.h"
#include "PortTestUtil.h"
#include "SimControl.h"
#include "SimReaderScope.h"
#include "SlowOpenComCalls.h"
#include "StallingSetupComCalls.h"
#include "WaitUntil.h"
#include "WindowsComModel.h"

#include <gtest/gtest.h>

using namespace porttest;

namespace {

const DWORD WaitMs = 5000;

// What an open returned, and how long it took in ms.
struct Opened
{
    Opened(CZPort* port, DWORD timeoutMs)
        : start(GetTickCount()), result(port->Open(timeoutMs)), took(GetTickCount() - start)
    {
    }
    const DWORD start;
    const HRESULT result;
    const DWORD took;
};

} // namespace

TEST(ComOpen, AnOpenWithATimeOutGivesUpInTimeAndThePortStaysBusyUntilTheDriverAnswers)
{
    CSlowOpenComCalls calls(8000);
    CCallSeamScope<CComCalls> scope(calls);
    PortEvents events;
    PortRef first(MakePort(L"COM64", events));

    const Opened given(first.Get(), 500);
    EXPECT_EQ(COM_OPEN_TIMED_OUT, given.result);
    EXPECT_GE(given.took, 450u);
    EXPECT_LE(given.took, 1000u);
    EXPECT_FALSE(first->IsOpen());
    EXPECT_EQ(0u, first->GetState());
    EXPECT_TRUE(ComOpenInProgress(L"com64")) << "port names are compared as the system does";

    // While the driver is still at it, no open of the port asks it again or waits for it.
    PortEvents others;
    PortRef second(MakePort(L"COM64", others));
    for (DWORD timeoutMs : {0u, 300u, INFINITE}) {
        const Opened busy(second.Get(), timeoutMs);
        EXPECT_EQ(PE_PORT_BUSY, busy.result) << timeoutMs;
        EXPECT_LE(busy.took, 200u) << timeoutMs;
        EXPECT_EQ(0u, second->GetState()) << timeoutMs;
    }
    EXPECT_EQ(PE_PORT_BUSY, first->Open(500));
    EXPECT_EQ(1, calls.Opens());

    // The driver gives up at last: the port is free, and the next open asks the driver.
    calls.Release();
    EXPECT_TRUE(WaitUntil([] { return !ComOpenInProgress(L"COM64"); }, WaitMs));
    EXPECT_EQ(0, calls.Inside());
    EXPECT_EQ(PE_PORT_DISCONNECTED, second->Open(INFINITE)) << "a Bluetooth semaphore time-out is a port gone";
    EXPECT_EQ(2, calls.Opens());
}

TEST(ComOpen, TheOwnersStopEndsTheWaitForTheDriver)
{
    CSlowOpenComCalls calls(8000);
    CCallSeamScope<CComCalls> scope(calls);
    PortEvents events;
    PortRef port(MakePort(L"COM64", events));
    DelayedSet stop(events.stop.Get(), 200);
    const Opened stopped(port.Get(), 5000);
    EXPECT_EQ(E_ABORT, stopped.result);
    EXPECT_LE(stopped.took, 1000u);
    calls.Release();
    EXPECT_TRUE(WaitUntil([] { return !ComOpenInProgress(L"COM64"); }, WaitMs));
}

// The open is the device's line set-up as well: a driver that opens the device at once and then
// stalls in the set-up holds the owner no longer than an open that stalls, and the device it set up
// late is closed.
TEST(ComOpen, ADriverThatStallsInTheLineSetUpHoldsTheOwnerNoLonger)
{
    simctl::CSimControl sim;
    simctl::CSimReaderScope reader(sim, 68);
    const std::wstring name(reader.Port());
    CStallingSetupComCalls calls(name);
    CCallSeamScope<CComCalls> scope(calls);
    PortEvents events;
    PortRef port(MakePort(name, events));

    const Opened given(port.Get(), 500);
    EXPECT_EQ(COM_OPEN_TIMED_OUT, given.result);
    EXPECT_LE(given.took, 1000u);
    EXPECT_EQ(1, calls.Inside());
    EXPECT_TRUE(ComOpenInProgress(name));

    calls.Release();
    EXPECT_TRUE(WaitUntil([&] { return !ComOpenInProgress(name); }, WaitMs));
    EXPECT_EQ(1, calls.Closes()) << "the device set up after its owner gave up was not closed";
    EXPECT_TRUE(reader.WaitPeerOpen(false, WaitMs));
}

// Under Windows' semantics, with a driver that opens in 300 ms: an open without waiting reports
// that it is connecting, and its end comes as the comm event, after which OnCommEvent finishes it.
TEST(ComOpen, AnOpenInTheBackgroundAnnouncesItsEndOnTheOwnersEvent)
{
    CWindowsComModel model;
    model.noDeviceBehind = true;
    model.openDelayMs = 300;
    CCallSeamScope<CComCalls> scope(model);
    PortEvents events;
    PortRef port(MakePort(L"COM65", events));

    const Opened started(port.Get(), 0);
    EXPECT_EQ(S_OK, started.result);
    EXPECT_LE(started.took, 150u);
    EXPECT_EQ(static_cast<DWORD>(ZPORT_CONNECTING), port->GetState());
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(S_OK, port->OnCommEvent()) << "not answered yet";
    EXPECT_EQ(static_cast<DWORD>(ZPORT_CONNECTING), port->GetState());

    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(events.comm.Get(), WaitMs));
    EXPECT_EQ(S_OK, port->OnCommEvent());
    EXPECT_TRUE(port->IsOpen());
    EXPECT_EQ(0u, port->GetState());
    EXPECT_FALSE(ComOpenInProgress(L"COM65"));
    EXPECT_EQ(1u, model.Count(CWindowsComModel::SetState)) << "the line is set up once the device is open";

    // An open with a time-out that the driver answers in time is an ordinary open.
    PortRef other(MakePort(L"COM66", events));
    const Opened waited(other.Get(), 3000);
    EXPECT_EQ(S_OK, waited.result);
    EXPECT_GE(waited.took, 250u);
    EXPECT_TRUE(other->IsOpen());
    port->Close();
    other->Close();
    EXPECT_FALSE(model.AnyOpen());
}

// The port is let go of before the owner hears that its open in the background ended: an owner
// that opens the port again at once (after a failed open, say) is never told "Port is busy.". The
// race is short, so it is run many times.
TEST(ComOpen, APortIsFreeOnceItsOwnerHearsThatItsOpenInTheBackgroundEnded)
{
    CWindowsComModel model;
    model.noDeviceBehind = true;
    CCallSeamScope<CComCalls> scope(model);
    int busy = 0;
    for (int round = 0; round < 60; ++round) {
        PortEvents events;
        PortRef port(MakePort(L"COM65", events));
        ASSERT_EQ(S_OK, port->Open(0));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(events.comm.Get(), WaitMs));
        busy += ComOpenInProgress(L"COM65") ? 1 : 0;
        port->OnCommEvent();
        port->Close();
    }
    EXPECT_EQ(0, busy) << "rounds of 60 in which the port was still busy when its owner was told";
    EXPECT_FALSE(model.AnyOpen());
}

TEST(ComOpen, AHandleTheDriverGivesAfterTheOwnerGaveUpIsClosed)
{
    CWindowsComModel model;
    model.noDeviceBehind = true;
    model.openDelayMs = 600;
    CCallSeamScope<CComCalls> scope(model);
    for (DWORD timeoutMs : {0u, 200u}) {
        SCOPED_TRACE(timeoutMs);
        model.ResetCounts();
        PortEvents events;
        {
            PortRef port(MakePort(L"COM65", events));
            const Opened opened(port.Get(), timeoutMs);
            EXPECT_EQ(timeoutMs == 0 ? S_OK : COM_OPEN_TIMED_OUT, opened.result);
            const DWORD start = GetTickCount();
            port->Close();  // at once: the open in the driver is given up
            EXPECT_LE(GetTickCount() - start, 100u);
            EXPECT_EQ(0u, port->GetState());
            ResetEvent(events.comm.Get());
        }
        EXPECT_TRUE(ComOpenInProgress(L"COM65"));
        EXPECT_TRUE(WaitUntil([] { return !ComOpenInProgress(L"COM65"); }, WaitMs));
        EXPECT_EQ(1u, model.Count(CWindowsComModel::Create));
        EXPECT_EQ(1u, model.Count(CWindowsComModel::Close)) << "the driver's late handle was not closed";
        EXPECT_FALSE(model.AnyOpen());
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(events.comm.Get(), 0))
            << "an open given up on set its owner's event";
    }
}
