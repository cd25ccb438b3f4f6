// Loading and unloading the add-in: the platform's order of calls, the failure paths with their
// texts, the library path rule and the platform-side operations the component may call back.
#include "Exceptions.h"
#include "HostFixture.h"
#include "ResText.h"
#include "TestbenchStrings.h"
#include <cstring>

namespace {

// Neither the stand-in add-in nor the real one, as these tests drive them, opens a serial port, so
// Wine's loader fault cannot arise in this program; the tests see Unload really free the library.
const bool LibrariesReallyFreed = (CTestParvel::SetKeepLoadedUnderWine(false), true);

struct NotifyLog
{
    std::vector<int> kinds;
    static void Devices(void* c, CTestParvel*) { static_cast<NotifyLog*>(c)->kinds.push_back(ListenDevices); }
    static void Component(void* c, CTestParvel*) { static_cast<NotifyLog*>(c)->kinds.push_back(ListenComponent); }
    void Register(CTestParvel& host)
    {
        host.AddListener(ListenDevices, this, Devices);
        host.AddListener(ListenComponent, this, Component);
    }
};

bool FakeIsMapped()
{
    return GetModuleHandleW(L"fakeaddin.dll") != nullptr;
}

} // namespace

TEST(HostLoading, CreatesAndEndsTheComponentInThePlatformsOrder)
{
    CallRecord record;
    CountingHost host;
    host.SetHostLanguage(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    host.SetLibraryPath(FakeAddinPath());
    NotifyLog notified;
    notified.Register(host);

    host.Create();
    EXPECT_TRUE(host.IsLoaded());
    EXPECT_NE(host.Component(), nullptr);
    EXPECT_EQ(record.Lines(), (std::vector<std::wstring>{L"SetPlatformCapabilities 1", L"GetClassNames",
                                                          L"GetClassObject ParvelExtension", L"setMemManager", L"Init",
                                                          L"SetLocale en_EN"}));
    EXPECT_EQ(notified.kinds, std::vector<int>{ListenComponent});

    record.Clear();
    notified.kinds.clear();
    host.Unload();
    EXPECT_EQ(record.Lines(), (std::vector<std::wstring>{L"Done", L"DestroyObject"}));
    EXPECT_EQ(notified.kinds, (std::vector<int>{ListenDevices, ListenComponent}));
    EXPECT_FALSE(host.IsLoaded());
    EXPECT_EQ(host.Component(), nullptr);
    EXPECT_FALSE(FakeIsMapped());
    host.RemoveListeners(&notified);
}

TEST(HostLoading, CreateWhileAComponentIsLoadedFinishesTheOldOneFirst)
{
    CallRecord record;
    CountingHost host;
    host.SetHostLanguage(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    host.SetLibraryPath(FakeAddinPath());
    host.Create();
    record.Clear();
    host.Create();
    const std::vector<std::wstring> lines = record.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], L"Done");
    EXPECT_EQ(lines[1], L"DestroyObject");
    EXPECT_EQ(lines[2], L"SetPlatformCapabilities 1");
    EXPECT_NE(host.Component(), nullptr);
    record.Clear();
    host.Unload();
    EXPECT_EQ(record.Lines(), (std::vector<std::wstring>{L"Done", L"DestroyObject"}));
}

TEST(HostLoading, LocaleFollowsTheThreadLocaleTakenAtConstruction)
{
    struct Row { LCID threadLocale; const wchar_t* expected; };
    const Row rows[] = {
        {MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT), L"SetLocale ru_RU"},
        {MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA), SORT_DEFAULT), L"SetLocale ru_RU"},
        {MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT), L"SetLocale en_EN"},
        {MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT), L"SetLocale en_EN"},
    };
    const LCID saved = GetThreadLocale();
    for (const Row& row : rows) {
        CallRecord record;
        ASSERT_TRUE(SetThreadLocale(row.threadLocale));
        CTestParvel host;
        SetThreadLocale(saved);
        host.SetLibraryPath(FakeAddinPath());
        host.Create();
        EXPECT_EQ(record.Lines().back(), row.expected) << std::hex << row.threadLocale;
        host.Unload();
    }
}

TEST(HostLoading, ClassNameIsTheTextBeforeTheFirstBar)
{
    struct Row { const wchar_t* list; const wchar_t* expected; };
    const Row rows[] = {
        {L"ParvelExtension", L"GetClassObject ParvelExtension"},
        {L"First|Second|Third", L"GetClassObject First"},
        {L"|Second", L"GetClassObject "},
    };
    for (const Row& row : rows) {
        CallRecord record;
        EnvVar classes(L"FAKEADDIN_CLASSES", row.list);
        CTestParvel host;
        host.SetLibraryPath(FakeAddinPath());
        host.Create();
        EXPECT_EQ(record.Lines().at(2), row.expected);
        host.Unload();
    }
}

TEST(HostLoading, FailuresUnloadEverythingWithTheirTexts)
{
    MessageLanguage english(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT));
    struct Row
    {
        const wchar_t* failingStep;
        const char* text;
        std::vector<std::wstring> callsFromClassObject;
    };
    const Row rows[] = {
        {L"GetClassObject", "Failed to create component Parvel.", {L"GetClassObject ParvelExtension"}},
        // setMemManager refused: Init is never called, so there is nothing for Done to end.
        {L"setMemManager", "Failed to initialize Parvel component.",
         {L"GetClassObject ParvelExtension", L"setMemManager", L"DestroyObject"}},
        // Init refused: whatever Init started is ended by Done before the object and library go.
        {L"Init", "Failed to initialize Parvel component.",
         {L"GetClassObject ParvelExtension", L"setMemManager", L"Init", L"Done", L"DestroyObject"}},
    };
    for (const Row& row : rows) {
        CallRecord record;
        EnvVar fail(L"FAKEADDIN_FAIL", row.failingStep);
        CTestParvel host;
        host.SetLibraryPath(FakeAddinPath());
        ListenerCount created;
        host.AddListener(ListenComponent, &created, ListenerCount::Callback);
        try {
            host.Create();
            ADD_FAILURE() << "no exception for " << WideToAnsi(row.failingStep);
        } catch (const CTestParvelException& e) {
            EXPECT_STREQ(e.what(), row.text);
        }
        EXPECT_EQ(record.LinesFrom(L"GetClassObject"), row.callsFromClassObject);
        EXPECT_FALSE(host.IsLoaded());
        EXPECT_EQ(host.Component(), nullptr);
        EXPECT_FALSE(FakeIsMapped());
        EXPECT_EQ(created.calls, 0);
        host.RemoveListeners(&created);
    }
}

TEST(HostLoading, MissingLibraryAndMissingExportsAreFileErrors)
{
    TestFolder folder;
    CTestParvel host;
    host.SetLibraryPath(folder.File(L"Parvel.dll"));
    try {
        host.Create();
        ADD_FAILURE() << "a missing library loaded";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.FileName(), folder.File(L"Parvel.dll"));
        EXPECT_EQ(e.OsError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    }
    EXPECT_FALSE(host.IsLoaded());

    // A library without the four exports.
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring other = std::wstring(system) + L"\\msacm32.dll";
    host.SetLibraryPath(other);
    try {
        host.LoadAddIn();
        ADD_FAILURE() << "a library without the exports was accepted";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.GetCause(), CFileException::InvalidFile);
        EXPECT_EQ(e.FileName(), other);
        EXPECT_NE(std::string(e.what()).find("Invalid File"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(host.IsLoaded());
}

TEST(HostLoading, CreateAfterUnloadStartsAgainFromDepth32)
{
    CTestParvel host;
    host.SetLibraryPath(FakeAddinPath());
    {
        EnvVar depth(L"FAKEADDIN_DEPTH", L"100");
        host.Create();
        EXPECT_EQ(host.GetEventBufferDepth(), 100);
        host.Unload();
        EXPECT_EQ(host.GetEventBufferDepth(), 100);
    }
    host.Create();
    EXPECT_TRUE(host.IsLoaded());
    EXPECT_EQ(host.GetEventBufferDepth(), 32);
    host.Unload();
}

TEST(HostLoading, UnloadWithNothingLoadedStillNotifies)
{
    CTestParvel host;
    NotifyLog notified;
    notified.Register(host);
    host.Unload();
    EXPECT_EQ(notified.kinds, (std::vector<int>{ListenDevices, ListenComponent}));
    host.RemoveListeners(&notified);
}

TEST(HostLoading, LibraryPathFollowsTheProgramsName)
{
    struct Row { const wchar_t* program; const wchar_t* library; };
    const Row rows[] = {
        {L"C:\\App\\ConfigParvel.exe", L"C:\\App\\Parvel.dll"},
        {L"C:\\App\\ParvelConfig.exe", L"C:\\App\\Parvel.dll"}, // same length, other name
        {L"C:\\App\\ConfigParvel64.exe", L"C:\\App\\Parvel64.dll"},
        {L"D:\\x\\y\\ConfigParvel_d.exe", L"D:\\x\\y\\Parvel_d.dll"},
        {L"C:\\App\\cp.exe", L"C:\\App\\Parvel.dll"},
        {L"C:\\App\\parvelhost.exe", L"C:\\App\\Parvel.dll"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CTestParvel::AddInPathFor(row.program), row.library) << WideToAnsi(row.program);

    CTestParvel host;
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(host.LibraryPath(), CTestParvel::AddInPathFor(std::wstring(self, n)));
    host.SetLibraryPath(L"C:\\elsewhere\\Parvel.dll");
    EXPECT_EQ(host.LibraryPath(), L"C:\\elsewhere\\Parvel.dll");
}

// ---------------------------------------------------------------------------------------------
// The platform's side

namespace {

struct BoxLog
{
    static int answer;
    static std::vector<std::pair<std::wstring, UINT>> shown;
    static int Show(const wchar_t* text, UINT flags, HWND)
    {
        shown.emplace_back(text, flags);
        return answer;
    }
};
int BoxLog::answer = IDOK;
std::vector<std::pair<std::wstring, UINT>> BoxLog::shown;

} // namespace

TEST(HostPlatformSide, MessageBoxesGoThroughTheReplaceableFunction)
{
    CTestParvel host;
    host.SetMessageBoxFunction(BoxLog::Show);
    BoxLog::shown.clear();

    IMsgBox* box = MsgBoxOf(host.GetInterface(InterfaceMsgBox));
    ASSERT_NE(box, nullptr);
    tVariant answer;
    std::memset(&answer, 0xCC, sizeof(answer));
    BoxLog::answer = IDCANCEL;
    EXPECT_TRUE(box->Confirm(L"Really?", &answer));
    EXPECT_EQ(answer.vt, VTYPE_BOOL);
    EXPECT_FALSE(answer.bVal);
    EXPECT_EQ(answer.cbElements, 0u);
    BoxLog::answer = IDOK;
    EXPECT_TRUE(box->Confirm(L"Sure?", &answer));
    EXPECT_TRUE(answer.bVal);
    EXPECT_TRUE(box->Alert(L"Done."));
    EXPECT_FALSE(box->Confirm(nullptr, &answer));
    EXPECT_FALSE(box->Confirm(L"x", nullptr));
    EXPECT_FALSE(box->Alert(nullptr));
    ASSERT_EQ(BoxLog::shown.size(), 3u);
    EXPECT_EQ(BoxLog::shown[0], std::make_pair(std::wstring(L"Really?"), UINT(MB_OKCANCEL | MB_ICONQUESTION)));
    EXPECT_EQ(BoxLog::shown[2], std::make_pair(std::wstring(L"Done."), UINT(MB_ICONINFORMATION)));
}

TEST(HostPlatformSide, InterfacesInformationAndNoOps)
{
    CTestParvel host;
    IInterface* box = host.GetInterface(InterfaceMsgBox);
    IInterface* info = host.GetInterface(InterfacePlatformInfo);
    EXPECT_NE(box, nullptr);
    EXPECT_NE(info, nullptr);
    EXPECT_NE(static_cast<void*>(box), static_cast<void*>(info));
    EXPECT_EQ(host.GetInterface(static_cast<InterfaceNumber>(2)), nullptr);

    const AppInfo* app = PlatformInfoOf(info)->GetPlatformInfo();
    ASSERT_NE(app, nullptr);
    EXPECT_STREQ(app->AppVersion, L"8.3.3");
    EXPECT_STREQ(app->UserAgentInformation, L"");
    EXPECT_EQ(app->Application, 1);

    wchar_t name[] = L"x";
    EXPECT_FALSE(host.Read(name, nullptr, nullptr, nullptr));
    EXPECT_FALSE(host.Write(name, nullptr));
    EXPECT_FALSE(host.RegisterProfileAs(name));
    EXPECT_TRUE(host.SetStatusLine(name));
}

// An add-in built for the platform takes the extra interfaces as the platform lays them out: it
// calls slot 11 of the connection it was given and finds each interface's vtable 8 bytes before
// the pointer it gets back (Microsoft's place for the empty base).
TEST(HostPlatformSide, GetInterfaceHandsOutThePlatformsLayout)
{
    CTestParvel host;
    host.SetMessageBoxFunction(BoxLog::Show);
    BoxLog::shown.clear();
    BoxLog::answer = IDOK;
    void* connection = static_cast<IAddInDefBaseEx*>(&host);
    auto slot = [](void* object, int number) {
        return (*static_cast<void* const* const*>(object))[number];
    };
    auto getInterface = reinterpret_cast<void* (*)(void*, int)>(slot(connection, 11));

    char* box = static_cast<char*>(getInterface(connection, InterfaceMsgBox));
    ASSERT_EQ(box, reinterpret_cast<char*>(static_cast<IMsgBox*>(&host)) + 8);
    void* boxStart = box - 8;
    tVariant answer;
    std::memset(&answer, 0xCC, sizeof(answer));
    EXPECT_TRUE(reinterpret_cast<bool (*)(void*, const WCHAR_T*, tVariant*)>(slot(boxStart, 0))(boxStart, L"Sure?", &answer));
    EXPECT_EQ(answer.vt, VTYPE_BOOL);
    EXPECT_TRUE(answer.bVal);
    EXPECT_TRUE(reinterpret_cast<bool (*)(void*, const WCHAR_T*)>(slot(boxStart, 1))(boxStart, L"Done."));
    ASSERT_EQ(BoxLog::shown.size(), 2u);
    EXPECT_EQ(BoxLog::shown[1], std::make_pair(std::wstring(L"Done."), UINT(MB_ICONINFORMATION)));

    char* info = static_cast<char*>(getInterface(connection, InterfacePlatformInfo));
    ASSERT_EQ(info, reinterpret_cast<char*>(static_cast<IPlatformInfo*>(&host)) + 8);
    void* infoStart = info - 8;
    const AppInfo* app = reinterpret_cast<const AppInfo* (*)(void*)>(slot(infoStart, 0))(infoStart);
    ASSERT_NE(app, nullptr);
    EXPECT_STREQ(app->AppVersion, L"8.3.3");
    EXPECT_EQ(getInterface(connection, 2), nullptr);
}

TEST(HostPlatformSide, MemoryManager)
{
    CTestParvel host;
    IMemoryManager* memory = host.MemoryManager();
    EXPECT_FALSE(memory->AllocMemory(nullptr, 16));
    void* block = nullptr;
    ASSERT_TRUE(memory->AllocMemory(&block, 0));
    EXPECT_NE(block, nullptr);
    memory->FreeMemory(&block);
    EXPECT_EQ(block, nullptr);
    memory->FreeMemory(&block); // a pointer to null: nothing
    memory->FreeMemory(nullptr);
}

TEST(HostWindow, MessageOnlyWindowIsMadeAndItsClassReused)
{
    {
        CTestParvel first;
        first.CreateHostWindow();
        ASSERT_NE(first.Window(), nullptr);
        EXPECT_FALSE(IsWindowVisible(first.Window()));
        CTestParvel second; // while the first holds the class
        second.CreateHostWindow();
        EXPECT_NE(second.Window(), nullptr);
    }
    CTestParvel again; // the class was given back and is registered anew
    again.CreateHostWindow();
    EXPECT_NE(again.Window(), nullptr);
}

TEST(HostTexts, EveryTextHasARussianForm)
{
    const UINT ids[] = {IDS_TEST_INIT_FAILED, IDS_TEST_CREATE_FAILED, IDS_TEST_SET_PROP_FAILED,
                        IDS_TEST_CALL_FAILED, IDS_TEST_METHOD_NOT_FOUND, IDS_TEST_PROP_NOT_FOUND};
    for (UINT id : ids) {
        std::wstring english, russian;
        {
            MessageLanguage language(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT));
            english = LoadResString(id);
        }
        {
            MessageLanguage language(MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT));
            russian = LoadResString(id);
        }
        EXPECT_FALSE(english.empty()) << id;
        EXPECT_FALSE(russian.empty()) << id;
        EXPECT_NE(english, russian) << id;
    }
}
