// What the serial port hands the system, seen through a scripted driver on a simulated line: the
// block given to SetCommState and the line events asked for, at the open and at a change of
// parameters; and a close while the system never ends the port's operations, which must return
// within its limit and leave those operations to the I/O graveyard, which refuses new ports once
// it is full.
#include "ComLine.h"
#include "ComPort.h"
#include "PortTestUtil.h"
#include "ReaderLineCheck.h"
#include "ScriptedComCalls.h"
#include "SimReaderScope.h"

#include <gtest/gtest.h>

#include <thread>

using namespace porttest;

namespace {

// A silent simulated reader: the line carries only what the tests send.
simctl::SimReaderConfig SilentLine()
{
    simctl::SimReaderConfig config;
    config.pace = 0;
    return config;
}

// How long `port`'s Close took; INFINITE when it had not returned after 5 s (the scripted
// operations are then ended so that it can).
DWORD TimedClose(CZPort* port, CScriptedComCalls& calls)
{
    CHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const DWORD start = GetTickCount();
    DWORD took = INFINITE;
    std::thread closer([&] {
        port->Close();
        took = GetTickCount() - start;
        SetEvent(done.Get());
    });
    if (WaitForSingleObject(done.Get(), 5000) == WAIT_TIMEOUT)
        calls.EndStuck();
    closer.join();
    return WaitForSingleObject(done.Get(), 0) == WAIT_OBJECT_0 && took < 5000 ? took : INFINITE;
}

} // namespace

class ComPortCallsTest : public testing::Test
{
protected:
    simctl::CSimControl sim;
    PortEvents events;
    CScriptedComCalls calls;
    CCallSeamScope<CComCalls> scope{calls};
};

// The block handed to the system sets every field the reader depends on, whatever state the
// driver reports (here one left by another program with flow control and equal XON and XOFF
// characters, which Windows refuses and Wine takes), and the line events asked for wake the owner
// on every character, on the event character too when there is one.
TEST_F(ComPortCallsTest, LineHandedToTheSystemAtOpenAndAtAChangeOfParameters)
{
    simctl::CSimReaderScope line(sim, 73, SilentLine());
    calls.reportState = true;
    calls.reported = LineLeftByAnotherProgram();
    calls.stateReachesDevice = false;

    PortRef port(MakePort(line.Port(), events));
    ASSERT_EQ(S_OK, port->SetParams(9600, ONE5STOPBITS, '\n'));
    ASSERT_EQ(S_OK, port->Open(INFINITE));
    std::vector<DCB> states = calls.States();
    ASSERT_EQ(1u, states.size());
    EXPECT_EQ(9600u, states[0].BaudRate);
    ExpectReaderLine(states[0], TWOSTOPBITS, '\n');
    EXPECT_EQ(std::vector<DWORD>{EV_RXCHAR | EV_RXFLAG}, calls.Masks());

    struct Change { DWORD baud; BYTE stopBits; BYTE eventChar; DWORD expectBaud; BYTE expectStopBits; DWORD mask; };
    const Change changes[] = {
        {115200, ONESTOPBIT, 0, 115200, ONESTOPBIT, EV_RXCHAR},
        {0, ONE5STOPBITS, 0xC0, 19200, TWOSTOPBITS, EV_RXCHAR | EV_RXFLAG},   // 0 keeps the driver's rate
        {57600, TWOSTOPBITS, '\n', 57600, TWOSTOPBITS, EV_RXCHAR | EV_RXFLAG},
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(c.baud);
        ASSERT_EQ(S_OK, port->SetParams(c.baud, c.stopBits, c.eventChar));
        states = calls.States();
        ASSERT_FALSE(states.empty());
        EXPECT_EQ(c.expectBaud, states.back().BaudRate);
        ExpectReaderLine(states.back(), c.expectStopBits, c.eventChar);
        EXPECT_EQ(c.mask, calls.Masks().back());
        DWORD baud = 0;
        port->GetParams(&baud, nullptr, nullptr);
        EXPECT_EQ(c.expectBaud, baud);
    }
    EXPECT_EQ(1u + 3u, calls.States().size());
}

// A port without an event character asks for every character only.
TEST_F(ComPortCallsTest, NoEventCharacterAsksForEveryCharacterOnly)
{
    simctl::CSimReaderScope line(sim, 74, SilentLine());
    PortRef port(MakePort(line.Port(), events));
    ASSERT_EQ(S_OK, port->SetParams(9600, ONESTOPBIT, 0));
    ASSERT_EQ(S_OK, port->Open(INFINITE));
    EXPECT_EQ(std::vector<DWORD>{EV_RXCHAR}, calls.Masks());
    ASSERT_EQ(1u, calls.States().size());
    ExpectReaderLine(calls.States()[0], ONESTOPBIT, 0);
}

// A driver that never ends a cancelled read or line-event wait: the close gives them up after its
// one limit for both, leaves their records to the graveyard (the system may still write into
// them), and the port opens again on fresh records. The records are freed once the system ends
// the operations.
TEST_F(ComPortCallsTest, CloseWhileOperationsNeverEndReturnsInTimeAndParksThem)
{
    simctl::CSimReaderScope line(sim, 75, SilentLine());
    CIoGraveyard& graveyard = CIoGraveyard::Instance();
    const size_t held = graveyard.Sweep();
    {
        PortRef port(MakePort(line.Port(), events));
        calls.readsNeverEnd = true;
        calls.commWaitsNeverEnd = true;
        ASSERT_EQ(S_OK, port->Open(INFINITE));
        std::string got;
        ASSERT_EQ(S_OK, port->Read(got, 1, 0));
        ASSERT_NE(0u, port->GetState() & ZPORT_READ_PENDING);
        ASSERT_EQ(2u, calls.Stuck());

        const DWORD took = TimedClose(port.Get(), calls);
        EXPECT_LT(took, 1000u) << "a close must not wait for the system without a limit";
        EXPECT_GE(took, 300u) << "the operations were given their time to end";
        EXPECT_FALSE(port->IsOpen());
        EXPECT_EQ(0u, port->GetState());
        EXPECT_EQ(held + 2u, graveyard.Sweep()) << "records still in the system's hands are kept";
        EXPECT_EQ(2u, calls.Stuck());

        // Fresh records: the next open reads what the line brings.
        calls.readsNeverEnd = false;
        calls.commWaitsNeverEnd = false;
        ASSERT_EQ(S_OK, port->Open(INFINITE));
        sim.SendText(line.Id(), "again");
        EXPECT_EQ(S_OK, port->Read(got, 5, 2000));
        EXPECT_EQ("again", got);
    }
    calls.EndStuck();
    EXPECT_EQ(held, graveyard.Sweep());
}

// While the graveyard holds as many records as it may, no port opens (a device that never ends
// its operations must not make the process grow without bound); once the system ends one, ports
// open again.
TEST_F(ComPortCallsTest, PortRefusedWhileTheGraveyardIsFull)
{
    simctl::CSimReaderScope line(sim, 76, SilentLine());
    CIoGraveyard& graveyard = CIoGraveyard::Instance();
    const size_t held = graveyard.Sweep();
    std::vector<ComIoRecord*> filled;
    while (graveyard.Sweep() < CIoGraveyard::DefaultCap) {
        auto record = std::make_unique<ComIoRecord>();
        record->ov.Internal = STATUS_PENDING;
        filled.push_back(record.get());
        graveyard.Abandon(std::move(record));
    }
    auto endAll = [&] {
        for (ComIoRecord* record : filled)
            record->ov.Internal = 0;
        filled.clear();
    };

    PortRef port(MakePort(line.Port(), events));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA), port->Open(INFINITE));
    EXPECT_FALSE(port->IsOpen());
    EXPECT_TRUE(calls.States().empty()) << "the device was not set up";

    filled.front()->ov.Internal = 0;   // the system ends one operation at last
    filled.erase(filled.begin());
    EXPECT_EQ(S_OK, port->Open(INFINITE));
    EXPECT_TRUE(port->IsOpen());
    endAll();
    EXPECT_EQ(held, graveyard.Sweep());
}
