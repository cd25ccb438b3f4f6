// The library leaves the process once the reader threads that outlived their component have ended.
// The program loads a build of the add-in whose serial driver takes 15 s to open a port, opens a
// device and closes it, opens another and ends the component, each within its time, frees the
// library and sees it stay mapped while the threads still wait for the driver, then unmapped once
// the driver has given up and they have ended.
#include "ScratchRegistry.h"
#include "SlotHost.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace slothost;

namespace {

const DWORD DriverOpenMs = 15000;

std::wstring DllPath()
{
    return WinePath(PARVEL_SLOW_DLL_PATH);
}

using SlowOpenPortsFn = void(WINAPI*)(DWORD);
using SlowOpensInsideFn = int(WINAPI*)();

// Opens `port` through the component; the device's identifier.
std::wstring Open(Component& component, const wchar_t* port)
{
    tVariant portValue = Str(port);
    EXPECT_TRUE(component.SetPropVal(component.FindProp(L"Port"), &portValue));
    std::vector<tVariant> out{Empty()};
    tVariant opened = Empty();
    EXPECT_TRUE(component.Func(component.FindMethod(L"Open"), opened, out));
    EXPECT_TRUE(opened.bVal);
    return out[0].vt == VTYPE_PWSTR ? Text(out[0]) : std::wstring();
}

} // namespace

TEST(StuckDriverUnload, CloseDoneAndFreeLibraryReturnInTimeAndTheLibraryLeavesWhenTheThreadsEnd)
{
    ScratchRegistry registry(HKEY_CURRENT_USER);
    ASSERT_TRUE(registry.Ok());
    const std::wstring path = DllPath();
    HMODULE module = LoadLibraryW(path.c_str());
    ASSERT_NE(nullptr, module) << "ParvelSlowOpen.dll: " << GetLastError();
    auto getClassObject = Export<GetClassObjectFn>(module, "GetClassObject");
    auto destroyObject = Export<DestroyObjectFn>(module, "DestroyObject");
    auto getClassNames = Export<GetClassNamesFn>(module, "GetClassNames");
    auto setPlatformCapabilities = Export<SetPlatformCapabilitiesFn>(module, "SetPlatformCapabilities");
    auto slowOpenPorts = Export<SlowOpenPortsFn>(module, "SlowOpenPorts");
    auto slowOpensInside = Export<SlowOpensInsideFn>(module, "SlowOpensInside");
    ASSERT_TRUE(getClassObject && destroyObject && getClassNames && setPlatformCapabilities && slowOpenPorts &&
                slowOpensInside);
    slowOpenPorts(DriverOpenMs);

    FakeConnection connection;
    FakeMemory memory;
    const DWORD driverStart = GetTickCount();
    {
        setPlatformCapabilities(AppCapabilitiesVersion1);
        IComponentBase* object = nullptr;
        ASSERT_NE(0, getClassObject(getClassNames(), &object));
        Component component(object);
        ASSERT_TRUE(component.SetMemManager(&memory));
        ASSERT_TRUE(component.Init(&connection));

        const std::wstring first = Open(component, L"COM215");
        ASSERT_TRUE(WaitUntil([&] { return slowOpensInside() == 1; }, 5000));
        std::vector<tVariant> closeArgs{Str(first.c_str())};
        tVariant closed = Empty();
        DWORD start = GetTickCount();
        EXPECT_TRUE(component.Func(component.FindMethod(L"Close"), closed, closeArgs));
        const DWORD closeTook = GetTickCount() - start;
        EXPECT_TRUE(closed.bVal);
        EXPECT_LE(closeTook, 2000u);

        Open(component, L"COM216");
        ASSERT_TRUE(WaitUntil([&] { return slowOpensInside() == 2; }, 5000));
        start = GetTickCount();
        component.Done();
        const DWORD doneTook = GetTickCount() - start;
        EXPECT_LE(doneTook, 2000u);
        std::printf("Close %lu ms, Done %lu ms with the driver still opening\n", static_cast<unsigned long>(closeTook),
                    static_cast<unsigned long>(doneTook));
        EXPECT_EQ(0, destroyObject(&object));
    }

    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_NE(nullptr, GetModuleHandleW(path.c_str())) << "unmapped under threads that still run its code";
    EXPECT_TRUE(WaitUntil([&] { return GetModuleHandleW(path.c_str()) == nullptr; }, DriverOpenMs + 10000))
        << "the library stays mapped after its last thread ended";
    std::printf("unmapped %lu ms after the driver began to open\n",
                static_cast<unsigned long>(GetTickCount() - driverStart));
}
