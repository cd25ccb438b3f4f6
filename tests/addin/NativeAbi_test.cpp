// The binary contract of Parvel.dll as a host built with Microsoft's compiler sees it: the four
// exports bound by name, the component reached only by slot numbers and interface offsets, the
// connection and memory manager given as plain slot tables, and tVariant read at raw byte offsets.
#include "ScratchRegistry.h"
#include "SlotHost.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

using namespace slothost;

namespace {

class ParvelDll
{
public:
    ParvelDll()
    {
        m_module = LoadLibraryW(slothost::WinePath(PARVEL_DLL_PATH).c_str());
        if (m_module) {
            Bind(GetClassObject, "GetClassObject");
            Bind(DestroyObject, "DestroyObject");
            Bind(GetClassNames, "GetClassNames");
            Bind(SetPlatformCapabilities, "SetPlatformCapabilities");
        }
    }
    ~ParvelDll()
    {
        if (m_module)
            FreeLibrary(m_module);
    }
    ParvelDll(const ParvelDll&) = delete;
    ParvelDll& operator=(const ParvelDll&) = delete;

    bool Loaded() const
    {
        return m_module && GetClassObject && DestroyObject && GetClassNames && SetPlatformCapabilities;
    }

    GetClassObjectFn GetClassObject = nullptr;
    DestroyObjectFn DestroyObject = nullptr;
    GetClassNamesFn GetClassNames = nullptr;
    SetPlatformCapabilitiesFn SetPlatformCapabilities = nullptr;

private:
    template <typename Fn>
    void Bind(Fn& fn, const char* name)
    {
        fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    }

    HMODULE m_module = nullptr;
};

std::wstring DllPath()
{
    return slothost::WinePath(PARVEL_DLL_PATH);
}

class NativeAbiTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(registry.Ok());
        ASSERT_TRUE(dll.Loaded()) << "Parvel.dll or one of its exports is missing: " << PARVEL_DLL_PATH;
    }

    // The component created as the platform creates it: capabilities, class names, object,
    // memory manager, connection, locale.
    Component CreateAndInit()
    {
        EXPECT_EQ(dll.SetPlatformCapabilities(AppCapabilitiesVersion1), 1);
        IComponentBase* object = nullptr;
        EXPECT_NE(dll.GetClassObject(dll.GetClassNames(), &object), 0);
        slot = object;
        Component c(object);
        EXPECT_TRUE(c.SetMemManager(&memory));
        EXPECT_TRUE(c.Init(&host));
        c.SetLocale(L"en_EN");
        return c;
    }

    void TearDown() override
    {
        if (slot) {
            Component(slot).Done();
            EXPECT_EQ(dll.DestroyObject(&slot), 0);
            EXPECT_EQ(slot, nullptr);
        }
    }

    ScratchRegistry registry{HKEY_CURRENT_USER};
    ParvelDll dll;
    FakeConnection host;
    FakeMemory memory;
    IComponentBase* slot = nullptr;
};

std::wstring Text(const WCHAR_T* s)
{
    return s ? std::wstring(s) : std::wstring(L"<null>");
}

} // namespace

TEST_F(NativeAbiTest, ClassNamesAndCapabilities)
{
    const WCHAR_T* names = dll.GetClassNames();
    EXPECT_EQ(Text(names), L"ParvelExtension");
    EXPECT_EQ(dll.GetClassNames(), names) << "the same text on every call";
    EXPECT_EQ(dll.SetPlatformCapabilities(AppCapabilitiesVersion1), 1);
    EXPECT_EQ(dll.SetPlatformCapabilities(static_cast<AppCapabilities>(3)), 1);
    EXPECT_EQ(dll.SetPlatformCapabilities(AppCapabilitiesInvalid), 1);
}

TEST_F(NativeAbiTest, GetClassObjectTakesOnlyTheExactName)
{
    for (const wchar_t* name : {L"parvelextension", L"ParvelExtension2", L"Parvel", L"", L"ParvelExtensio"}) {
        IComponentBase* object = nullptr;
        EXPECT_EQ(dll.GetClassObject(name, &object), 0) << std::wstring(name).size();
        EXPECT_EQ(object, nullptr);
    }
    IComponentBase* object = nullptr;
    ASSERT_NE(dll.GetClassObject(L"ParvelExtension", &object), 0);
    ASSERT_NE(object, nullptr);
    IComponentBase* kept = object;
    EXPECT_EQ(dll.GetClassObject(L"ParvelExtension", &object), 0) << "the out slot already holds one";
    EXPECT_EQ(object, kept);
    EXPECT_EQ(dll.DestroyObject(&object), 0);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(dll.DestroyObject(&object), -1);
    EXPECT_EQ(dll.DestroyObject(nullptr), -1);
    EXPECT_EQ(dll.GetClassObject(L"ParvelExtension", nullptr), 0);
}

TEST_F(NativeAbiTest, InitThroughSlotsSetsTheEventDepth)
{
    Component c = CreateAndInit();
    // The component asked for the event buffer depth at the connection's slot 5, and nothing else
    // of the connection was needed.
    ASSERT_EQ(host.Depths.size(), 1u);
    EXPECT_EQ(host.Depths[0], 4096);
    EXPECT_EQ(host.CallsTo(5), 1u);
    EXPECT_EQ(host.Calls.size(), 1u);
    EXPECT_EQ(c.GetInfo(), 2000);
}

TEST_F(NativeAbiTest, LanguageExtenderSlots)
{
    Component c = CreateAndInit();
    EXPECT_EQ(c.GetNProps(), 27);
    EXPECT_EQ(c.GetNMethods(), 35);
    EXPECT_EQ(c.FindMethod(L"Подключить"), 5);
    EXPECT_EQ(c.FindMethod(L"open"), -1);
    EXPECT_EQ(c.FindProp(L"Порт"), 1);
    EXPECT_EQ(Text(c.GetMethodName(5, 1)), L"Подключить");
    EXPECT_EQ(Text(c.GetPropName(21, 0)), L"LastKeyNum");
    EXPECT_EQ(c.GetPropName(27, 0), nullptr);
    EXPECT_EQ(c.GetMethodName(0, 2), nullptr);
    EXPECT_EQ(c.GetNParams(28), 11);
    EXPECT_TRUE(c.HasRetVal(0));
    EXPECT_FALSE(c.HasRetVal(13));
    EXPECT_TRUE(c.IsPropReadable(26));
    EXPECT_FALSE(c.IsPropWritable(19));
    WCHAR_T* name = nullptr;
    ASSERT_TRUE(c.RegisterExtensionAs(&name));
    EXPECT_EQ(Text(name), L"ParvelExtension");
    EXPECT_EQ(memory.Blocks.count(name), 1u) << "names come from the host's memory manager";
}

TEST_F(NativeAbiTest, VariantsAtRawOffsets)
{
    Component c = CreateAndInit();
    // GetVersion into a raw 48-byte block: text pointer at 0, length at 8, type code at 44.
    alignas(8) unsigned char raw[48];
    std::memset(raw, 0, sizeof(raw));
    ASSERT_TRUE(c.CallAsFunc(0, reinterpret_cast<tVariant*>(raw), nullptr, 0));
    uint16_t type;
    std::memcpy(&type, raw + 44, 2);
    EXPECT_EQ(type, 22); // VTYPE_PWSTR
    const wchar_t* text;
    std::memcpy(&text, raw, sizeof(text));
    uint32_t length;
    std::memcpy(&length, raw + 8, 4);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text, length), L"1.7.2.1");

    // A property read back as a 32-bit integer at offset 0 with type code 3 (VTYPE_I4).
    std::memset(raw, 0xCC, sizeof(raw));
    ASSERT_TRUE(c.GetPropVal(13, reinterpret_cast<tVariant*>(raw))); // Suffix
    std::memcpy(&type, raw + 44, 2);
    EXPECT_EQ(type, 3);
    int32_t suffix;
    std::memcpy(&suffix, raw, 4);
    EXPECT_EQ(suffix, 13);

    // A boolean is one byte at offset 0 (type 11); a property set through a raw block.
    std::memset(raw, 0, sizeof(raw));
    raw[0] = 1;
    type = 11;
    std::memcpy(raw + 44, &type, 2);
    ASSERT_TRUE(c.SetPropVal(9, reinterpret_cast<tVariant*>(raw))); // Wiegand
    std::memset(raw, 0xCC, sizeof(raw));
    ASSERT_TRUE(c.GetPropVal(9, reinterpret_cast<tVariant*>(raw)));
    std::memcpy(&type, raw + 44, 2);
    EXPECT_EQ(type, 11);
    EXPECT_EQ(raw[0], 1);
}

TEST_F(NativeAbiTest, ErrorsReachTheConnectionAtItsSlot)
{
    Component c = CreateAndInit();
    tVariant model = I4(10);
    EXPECT_FALSE(c.SetPropVal(0, &model));
    ASSERT_EQ(host.CallsTo(1), 1u);
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0].Code, 1004);
    EXPECT_EQ(host.Errors[0].Source, L"Parvel");
    EXPECT_EQ(host.Errors[0].Status, static_cast<long>(0x80040203));
    EXPECT_FALSE(host.Errors[0].Description.empty());
}

TEST_F(NativeAbiTest, CallsByMethodNumber)
{
    Component c = CreateAndInit();
    // SetParameter by its Russian name's number, then read back through GetParameters' document.
    const long setParameter = c.FindMethod(L"УстановитьПараметр");
    ASSERT_EQ(setParameter, 4);
    std::vector<tVariant> params{Str(L"Suffix"), I4(10)};
    tVariant result = Empty();
    ASSERT_TRUE(c.Func(setParameter, result, params));
    EXPECT_TRUE(result.bVal);
    tVariant suffix = Empty();
    ASSERT_TRUE(c.GetPropVal(13, &suffix));
    EXPECT_EQ(suffix.i32Val, 10);
    // Out of range numbers fail without harm.
    EXPECT_FALSE(c.CallAsFunc(35, &result, params.data(), 2));
    EXPECT_FALSE(c.CallAsProc(-1, params.data(), 2));
}

// GetInterface gives the extra interfaces as the platform lays them out, 8 bytes past each
// interface's start; the header's conversions take the add-in to the slots behind them.
TEST(PlatformInterfaces, TheAddInReachesTheSlotsOfWhatThePlatformHandsOut)
{
    FakeConnection host;
    IAddInDefBaseEx* connection = reinterpret_cast<IAddInDefBaseEx*>(&host);

    IInterface* boxBase = connection->GetInterface(InterfaceMsgBox);
    ASSERT_EQ(static_cast<void*>(boxBase), static_cast<void*>(host.MsgBox.Base()));
    IMsgBox* box = MsgBoxOf(boxBase);
    ASSERT_EQ(static_cast<void*>(box), static_cast<void*>(&host.MsgBox)) << "the interface starts 8 bytes before";
    tVariant answer = Empty();
    host.MsgBox.Answer = false;
    EXPECT_TRUE(box->Confirm(L"Replace?", &answer));
    EXPECT_EQ(answer.vt, VTYPE_BOOL);
    EXPECT_FALSE(answer.bVal);
    EXPECT_TRUE(box->Alert(L"Done."));
    EXPECT_EQ(host.MsgBox.Shown, (std::vector<std::wstring>{L"Replace?", L"Done."}));

    IInterface* infoBase = connection->GetInterface(InterfacePlatformInfo);
    IPlatformInfo* info = PlatformInfoOf(infoBase);
    ASSERT_EQ(static_cast<void*>(info), static_cast<void*>(&host.PlatformInfo));
    const AppInfo* app = info->GetPlatformInfo();
    ASSERT_EQ(app, &host.PlatformInfo.Info);
    EXPECT_EQ(Text(app->AppVersion), L"8.3.3");

    EXPECT_EQ(connection->GetInterface(static_cast<InterfaceNumber>(2)), nullptr);
    EXPECT_EQ(MsgBoxOf(nullptr), nullptr);
    EXPECT_EQ(PlatformInfoOf(nullptr), nullptr);
    // The way back, as a host built here hands them out.
    EXPECT_EQ(PlatformInterface(box), boxBase);
    EXPECT_EQ(PlatformInterface(info), infoBase);
}

TEST_F(NativeAbiTest, DestructorSlotDeletesOnlyWithItsFlag)
{
    IComponentBase* object = nullptr;
    ASSERT_NE(dll.GetClassObject(L"ParvelExtension", &object), 0);
    Component c(object);
    EXPECT_EQ(c.DestructorSlot(0), static_cast<void*>(object)); // flag 0: nothing deleted
    EXPECT_EQ(c.GetInfo(), 2000);
    ASSERT_TRUE(c.SetMemManager(&memory));
    ASSERT_TRUE(c.Init(&host));
    c.Done();
    c.DestructorSlot(1); // the platform's way to delete through the interface
}

TEST_F(NativeAbiTest, DestroyWithoutDone)
{
    CreateAndInit();
    EXPECT_EQ(dll.DestroyObject(&slot), 0);
    EXPECT_EQ(slot, nullptr);
}

TEST(ParvelDllVersion, TheVersionResourceSays1721)
{
    const std::wstring path = DllPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010007u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00020001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010007u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00020001u);
    // Every language block of the string table carries the same texts.
    struct Translation { WORD Language, CodePage; };
    Translation* translations = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                               &length));
    ASSERT_GE(length, sizeof(Translation));
    for (UINT i = 0; i < length / sizeof(Translation); ++i) {
        wchar_t key[64];
        for (const wchar_t* name : {L"FileVersion", L"ProductVersion"}) {
            swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\%ls", translations[i].Language, translations[i].CodePage, name);
            wchar_t* text = nullptr;
            UINT chars = 0;
            ASSERT_TRUE(VerQueryValueW(block.data(), key, reinterpret_cast<void**>(&text), &chars)) << key;
            EXPECT_STREQ(text, L"1.7.2.1") << key;
        }
    }
}
