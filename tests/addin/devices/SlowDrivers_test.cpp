// Serial drivers that take their time, under Windows' serial semantics (the Windows model with the
// simulated reader behind it): the device test of an open device whose thread is stuck in a
// driver's open answers "busy" within its time and leaves the device serving cards once the driver
// lets go; the device test of a port whose driver opens slowly gives up at the connect time-out; a
// Bluetooth port whose remote device does not answer is told to 1C as disconnected.
#include "ComOpen.h"
#include "DeviceFixture.h"
#include "Messages.h"
#include "Reader.h"
#include "SlowOpenComCalls.h"
#include "WindowsComModel.h"

#include <cstdio>

using namespace devicetest;
using namespace slothost;

class SlowDriverTest : public DeviceTest
{
protected:
    // Runs the device test on the Port property's device: its result, p0, and how long it took.
    struct Tested
    {
        bool ok;
        std::wstring description;
        DWORD took;
    };
    Tested TimedDeviceTest()
    {
        std::vector<tVariant> out{Empty(), Empty()};
        const DWORD start = GetTickCount();
        const tVariant result = CallOut(MethodDeviceTest, out);
        const DWORD took = GetTickCount() - start;
        EXPECT_EQ(out[1].vt, VTYPE_PWSTR);
        return {result.bVal, out[0].vt == VTYPE_PWSTR ? Text(out[0]) : std::wstring(L"(no text)"), took};
    }
    // Pulls the adapter out so that the reader's thread opens its port again, and waits until the
    // thread is inside the driver's open, which takes `openMs`.
    void StickInTheNextOpen(DWORD openMs)
    {
        const unsigned long opens = model.Count(CWindowsComModel::Create);
        model.openDelayMs = openMs;
        model.Unplug(ERROR_DEVICE_NOT_CONNECTED);
        ASSERT_TRUE(WaitUntil([&] { return model.Count(CWindowsComModel::Create) > opens; }, 5000));
        Sleep(100);
    }

    CWindowsComModel model;
    CCallSeamScope<CComCalls> scope{model};
};

TEST_F(SlowDriverTest, DeviceTestOfADeviceStuckInTheDriverIsBusyAndTheDeviceGoesOn)
{
    SimReader text(sim, 58, Text());
    ASSERT_TRUE(Open(L"COM58").first);
    ASSERT_TRUE(WaitEvent(L"DeviceConnect", L"COM58"));

    // The thread is inside an open that takes 4 s: the test does not wait for it, and does not
    // open the port beside it.
    StickInTheNextOpen(4000);
    const unsigned long opensBefore = model.Count(CWindowsComModel::Create);
    const Tested busy = TimedDeviceTest();
    std::printf("DeviceTest with the reader's thread inside a 4 s open: %lu ms\n", static_cast<unsigned long>(busy.took));
    EXPECT_FALSE(busy.ok);
    EXPECT_LE(busy.took, 2500u);
    EXPECT_EQ(LastError(), PortBusy);
    EXPECT_EQ(busy.description, L"");
    EXPECT_EQ(model.Count(CWindowsComModel::Create), opensBefore) << "the test opened the port beside the reader";
    EXPECT_EQ(object->OpenPortCount(), 1u);
    EXPECT_NE(Status(L"COM58"), 0);

    // The driver lets go: the same reader connects again and reads cards.
    model.openDelayMs = 0;
    ASSERT_TRUE(WaitEvent(L"DeviceConnect", L"COM58", 2, 10000));
    ASSERT_TRUE(WaitStatus(L"COM58", READER_STATE_CONNECTED));
    sim.PresentKey(text.Id(), "EM", {0x39, 0x30, 0x7B, 0x00, 0x00});
    EXPECT_TRUE(WaitEvent(L"TracksData", L"COM58"));
    Sleep(300);
    EXPECT_EQ(CountEvents(L"TracksData", L"COM58"), 1u) << "two threads read the port";

    // A device test now runs as ever, and the device goes on after it.
    const Tested fine = TimedDeviceTest();
    EXPECT_TRUE(fine.ok) << std::hex << LastError();
    EXPECT_NE(fine.description.find(L"S/N"), std::wstring::npos) << fine.description;
    ASSERT_TRUE(WaitEvent(L"DeviceConnect", L"COM58", 3, 10000));

    // Stuck once more: a busy device test, then Close within its time; the thread ends alone.
    StickInTheNextOpen(3000);
    EXPECT_FALSE(TimedDeviceTest().ok);
    EXPECT_EQ(LastError(), PortBusy);
    const DWORD closeStart = GetTickCount();
    EXPECT_TRUE(Close(L"COM58"));
    EXPECT_LE(GetTickCount() - closeStart, 2000u);
    EXPECT_EQ(object->OpenPortCount(), 0u);
    model.openDelayMs = 0;
    EXPECT_TRUE(WaitUntil([] { return !CReader::PortHeldByRetired(L"COM58"); }, 8000));
}

TEST_F(SlowDriverTest, DeviceTestOfABusStuckInTheDriverIsBusyAndDoneStaysInTime)
{
    SimReader bus(sim, 59, Bus({3}));
    ASSERT_TRUE(Open(L"COM59\\3").first);
    ASSERT_TRUE(WaitEvent(L"DeviceConnect", L"COM59\\3"));

    SetProp(PropPort, Str(L"COM59\\3"));
    StickInTheNextOpen(3000);
    const Tested busy = TimedDeviceTest();
    EXPECT_FALSE(busy.ok);
    EXPECT_LE(busy.took, 2500u);
    EXPECT_EQ(LastError(), PortBusy);

    const DWORD doneStart = GetTickCount();
    object->Done();
    EXPECT_LE(GetTickCount() - doneStart, 2000u);
    model.openDelayMs = 0;
    EXPECT_TRUE(WaitUntil([] { return !CReader::PortHeldByRetired(L"COM59"); }, 8000));
}

// The device test of a port that no device has open, whose driver takes 8 s, or 30 s, to fail its
// open: with a connect time-out of 3 s the test gives up on the open at 3 s and says why; the
// driver goes on alone, and until it is done the port is busy, without a further test waiting.
TEST_F(SlowDriverTest, DeviceTestOfASlowOpeningPortGivesUpAtTheConnectTimeOut)
{
    SetProp(PropConnectTimeout, UI4(3000));
    SetProp(PropPort, Str(L"COM52"));
    for (DWORD driverMs : {8000u, 30000u}) {
        SCOPED_TRACE(driverMs);
        CSlowOpenComCalls calls(driverMs, L"COM52");
        CCallSeamScope<CComCalls> slow(calls);
        const Tested given = TimedDeviceTest();
        std::printf("DeviceTest of a port whose driver fails its open after %lu ms: %lu ms\n",
                    static_cast<unsigned long>(driverMs), static_cast<unsigned long>(given.took));
        EXPECT_FALSE(given.ok);
        EXPECT_GE(given.took, 2900u);
        EXPECT_LE(given.took, 3500u);
        EXPECT_EQ(LastError(), static_cast<long>(0x800705B4));
        // Read whole, in the add-in's language: the Russian run takes this case again under a
        // Russian locale.
        EXPECT_EQ(object->LastErrorText(),
                  LOWORD(GetSystemDefaultLCID()) == 1049
                      ? L"Драйвер порта \"COM52\" не открыл его за 3000 мс. Порт занят, пока драйвер не закончит "
                        L"открытие."
                      : L"The driver of port \"COM52\" did not open it within 3000 ms. The port is busy until the "
                        L"driver has finished opening it.");
        EXPECT_EQ(object->OpenPortCount(), 0u);

        const Tested busy = TimedDeviceTest();
        EXPECT_FALSE(busy.ok);
        EXPECT_LE(busy.took, 500u);
        EXPECT_EQ(LastError(), PortBusy);
        EXPECT_EQ(1, calls.Opens()) << "the port was opened twice at once";

        calls.Release();
        EXPECT_TRUE(WaitUntil([&] { return calls.Inside() == 0 && !ComOpenInProgress(L"COM52"); }, 5000));
    }
}

// The remote device of a Bluetooth serial port does not answer: the open fails after its time with
// ERROR_SEM_TIMEOUT, and 1C hears that the port is disconnected, not the system's semaphore text.
TEST_F(SlowDriverTest, ABluetoothPortWhoseDeviceDoesNotAnswerIsDisconnected)
{
    model.noDeviceBehind = true;
    model.openDelayMs = 300;
    model.openError = ERROR_SEM_TIMEOUT;
    ASSERT_TRUE(Open(L"COM44").first);
    ASSERT_TRUE(WaitEvent(L"DriverError", L"COM44"));
    model.openDelayMs = 0;
    std::wstring data;
    for (const auto& e : Events())
        if (eventhost::IsEvent(e, L"DriverError") && e.Source == L"COM44")
            data = e.Data;
    EXPECT_NE(data.find(L"Port is disconnected."), std::wstring::npos) << data;
    EXPECT_EQ(data.find(L"semaphore"), std::wstring::npos) << data;
    EXPECT_TRUE(Close(L"COM44"));
}
