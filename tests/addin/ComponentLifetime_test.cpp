// Close and Done run on the platform's thread: they return within their time however long a
// driver takes to open a port (a Bluetooth serial port takes tens of seconds), and a port whose
// reader was left to end alone reads as busy, not as a hang, until that reader has let go of it.
#include "ComponentFixture.h"
#include "Messages.h"
#include "Reader.h"
#include "SlowOpenComCalls.h"
#include "WaitUntil.h"

#include <cstdio>

using namespace slothost;

namespace {

const long PortBusyCode = static_cast<long>(0x80040212);
const long PortProp = 1;

} // namespace

class ComponentLifetimeTest : public ComponentTest
{
protected:
    // Open with the Port property set to `port`.
    bool Open(const wchar_t* port)
    {
        tVariant name = Str(port);
        EXPECT_TRUE(c.SetPropVal(PortProp, &name));
        tVariant result = Empty();
        std::vector<tVariant> params{Empty()};
        EXPECT_TRUE(c.Func(MOpen, result, params));
        return result.bVal;
    }
    // How long Close of the device took, in ms.
    DWORD TimedClose(const wchar_t* device)
    {
        tVariant result = Empty();
        std::vector<tVariant> params{Str(device)};
        const DWORD start = GetTickCount();
        EXPECT_TRUE(c.Func(MClose, result, params));
        const DWORD took = GetTickCount() - start;
        EXPECT_TRUE(result.bVal);
        return took;
    }
    // The readers left to end alone have let go of their ports (the driver has given up).
    void LetTheDriverGiveUp(std::initializer_list<const wchar_t*> ports)
    {
        calls.Release();
        for (const wchar_t* port : ports)
            EXPECT_TRUE(WaitUntil([port] { return !CReader::PortHeldByRetired(port); }, 5000)) << port;
    }

    CSlowOpenComCalls calls{15000};
    CCallSeamScope<CComCalls> scope{calls};
};

TEST_F(ComponentLifetimeTest, CloseAndDoneReturnInTimeWhileTheDriverIsStillOpening)
{
    ASSERT_TRUE(Open(L"COM211"));
    ASSERT_TRUE(WaitUntil([&] { return calls.Inside() == 1; }, 5000));
    const DWORD closeTook = TimedClose(L"COM211");
    std::printf("Close with the driver still opening the port: %lu ms\n", static_cast<unsigned long>(closeTook));
    EXPECT_LE(closeTook, 2000u);

    // The device test of the port that is still held is told "busy" at once.
    tVariant name = Str(L"COM211");
    ASSERT_TRUE(c.SetPropVal(PortProp, &name));
    tVariant result = Empty();
    std::vector<tVariant> params{Empty(), Empty()};
    const DWORD testStart = GetTickCount();
    ASSERT_TRUE(c.Func(MDeviceTest, result, params));
    EXPECT_LE(GetTickCount() - testStart, 1000u);
    EXPECT_FALSE(result.bVal);
    EXPECT_EQ(PortBusyCode, LastError());
    EXPECT_EQ(1, calls.Opens());

    ASSERT_TRUE(Open(L"COM212"));
    ASSERT_TRUE(WaitUntil([&] { return calls.Inside() == 2; }, 5000));
    const DWORD doneStart = GetTickCount();
    c.Done();
    const DWORD doneTook = GetTickCount() - doneStart;
    std::printf("Done with the driver still opening a port: %lu ms\n", static_cast<unsigned long>(doneTook));
    EXPECT_LE(doneTook, 2000u);
    EXPECT_EQ(0u, object->OpenPortCount());

    // Destroyed while the threads still wait for the driver: they end alone, afterwards.
    delete object;
    object = nullptr;
    LetTheDriverGiveUp({L"COM211", L"COM212"});
}
