// Parvel.dll leaves the process when its host frees it, also after a reader ran on a serial port:
// nothing in it keeps its own module mapped, so on Windows its file is not locked and a later
// load starts afresh. The program loads the library as the platform does, opens and closes a
// reader on a simulated COM port, ends the component and frees the library once. It never loads
// it again: under Wine that is what a loader fault forbids after a serial port was used (the test
// host keeps the library for that reason; this program does not use it).
#include "ScratchRegistry.h"
#include "SimReaderScope.h"
#include "SlotHost.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace slothost;

namespace {

const int ComNumber = 63;

std::wstring DllPath()
{
    return WinePath(PARVEL_DLL_PATH);
}

} // namespace

TEST(ModuleUnload, FreedLibraryIsUnmappedAfterAReaderRanOnASerialPort)
{
    ScratchRegistry registry(HKEY_CURRENT_USER);
    ASSERT_TRUE(registry.Ok());
    simctl::CSimControl sim;
    simctl::SimReaderConfig config;
    config.pace = 0;
    simctl::CSimReaderScope reader(sim, ComNumber, config);

    const std::wstring path = DllPath();
    HMODULE module = LoadLibraryW(path.c_str());
    ASSERT_NE(nullptr, module) << "Parvel.dll: " << GetLastError();
    ASSERT_EQ(module, GetModuleHandleW(path.c_str()));
    auto getClassObject = Export<GetClassObjectFn>(module, "GetClassObject");
    auto destroyObject = Export<DestroyObjectFn>(module, "DestroyObject");
    auto getClassNames = Export<GetClassNamesFn>(module, "GetClassNames");
    auto setPlatformCapabilities = Export<SetPlatformCapabilitiesFn>(module, "SetPlatformCapabilities");
    ASSERT_TRUE(getClassObject && destroyObject && getClassNames && setPlatformCapabilities);

    FakeConnection connection;
    FakeMemory memory;
    {
        setPlatformCapabilities(AppCapabilitiesVersion1);
        IComponentBase* object = nullptr;
        ASSERT_NE(0, getClassObject(getClassNames(), &object));
        Component component(object);
        ASSERT_TRUE(component.SetMemManager(&memory));
        ASSERT_TRUE(component.Init(&connection));
        component.SetLocale(L"en_EN");

        const std::wstring port = reader.Port();
        tVariant portValue = Str(port.c_str());
        ASSERT_TRUE(component.SetPropVal(component.FindProp(L"Port"), &portValue));
        std::vector<tVariant> out{Empty()};
        tVariant opened = Empty();
        ASSERT_TRUE(component.Func(component.FindMethod(L"Open"), opened, out));
        ASSERT_TRUE(opened.bVal);
        ASSERT_EQ(VTYPE_PWSTR, out[0].vt);
        const std::wstring device = Text(out[0]);
        EXPECT_TRUE(reader.WaitPeerOpen(true, 5000)) << "the reader's port was opened";
        const long getStatus = component.FindMethod(L"GetStatus");
        EXPECT_TRUE(WaitUntil(
            [&] {
                std::vector<tVariant> args{Str(device.c_str())};
                tVariant status = Empty();
                return component.Func(getStatus, status, args) && status.i32Val == 3;
            },
            5000))
            << "the reader connected";

        std::vector<tVariant> closeArgs{Str(device.c_str())};
        tVariant closed = Empty();
        EXPECT_TRUE(component.Func(component.FindMethod(L"Close"), closed, closeArgs));
        EXPECT_TRUE(closed.bVal);
        EXPECT_TRUE(reader.WaitPeerOpen(false, 5000)) << "the reader's port was closed";

        component.Done();
        EXPECT_EQ(0, destroyObject(&object));
    }

    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_EQ(nullptr, GetModuleHandleW(path.c_str())) << "Parvel.dll stays mapped after its host freed it";
}
