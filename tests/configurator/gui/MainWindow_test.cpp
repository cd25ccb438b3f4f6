// The program under Xvfb, driven in process: start-up, tabs, one instance, minimum size, the
// commands, and the question asked on closing with unsaved changes.
#include "AppFixture.h"
#include "AppResource.h"
#include "SettingsStore.h"
#include <commctrl.h>
#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

bool RussianSystem()
{
    return LOWORD(GetSystemDefaultLCID()) == 1049;
}

// Why a settings file could not be written, as the user reads it in the program's language.
std::wstring FolderFault()
{
    return RussianSystem() ? L"на месте файла находится папка с тем же именем."
                           : L"a folder of that name stands where the file belongs.";
}

std::wstring ReadOnlyFault()
{
    return RussianSystem() ? L"файл доступен только для чтения." : L"the file is read-only.";
}

std::string ReadFile(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::wstring RegistryPortname()
{
    CParvelSettings settings;
    LoadSettingsFromRegistry(settings);
    return settings.Portname;
}

const wchar_t* const kEnglishTabs[] = {L"Main", L"Formats", L"Reading keys", L"Sound", L"Configurator", L"Test"};
const wchar_t* const kRussianTabs[] = {L"Основные", L"Форматы", L"Чтение ключей", L"Звук", L"Конфигуратор", L"Тест"};

} // namespace

using Shell = AppFixture;

TEST_F(Shell, StartsWithTitleTabsAndFirstPage)
{
    StartApp();
    HWND hWnd = MainWindow();
    ASSERT_TRUE(IsWindowVisible(hWnd));
    EXPECT_EQ(hWnd, FindWindowW(L"ConfigParvel", nullptr));
    const bool russian = RussianSystem();
    EXPECT_EQ(russian ? L"Конфигуратор Parvel" : L"Parvel Configurator", WindowText(hWnd));
    ASSERT_EQ(6, SendMessageW(App().GetTabControl(), TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(russian ? kRussianTabs[i] : kEnglishTabs[i], TabText(i)) << i;
    EXPECT_EQ(0, App().GetCurrentPage());
    ASSERT_TRUE(App().GetPage(0) != nullptr);
    EXPECT_TRUE(IsWindowVisible(App().GetPage(0)->GetHwnd()));
    EXPECT_EQ(nullptr, App().GetPage(1)); // pages are made on first selection
    EXPECT_EQ(russian ? L"За&грузить" : L"L&oad", WindowText(App().GetButton(0)));
    EXPECT_FALSE(IsWindowVisible(App().GetButton(2))) << "no help file: no Help button";
    // Start-up wrote the built-in settings file and loaded it.
    EXPECT_TRUE(GetFileAttributesW(Folder().File(L"ConfigParvel.xml").c_str()) != INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(42u, App().Formats.size());
    EXPECT_TRUE(Ui().Asked().empty());
}

// Run by the ctest entry that sets LC_ALL=ru_RU.UTF-8.
TEST_F(Shell, RussianLocaleGivesRussianInterface)
{
    if (!RussianSystem())
        GTEST_SKIP() << "needs a Russian system locale";
    StartApp();
    EXPECT_EQ(L"Конфигуратор Parvel", WindowText(MainWindow()));
    EXPECT_EQ(L"Основные", TabText(0));
    App().ModifiedFlags |= DATA_ADDIN;
    Ui().AnswerMessage(IDCANCEL);
    EXPECT_FALSE(ClickClose());
    ASSERT_EQ(1u, Ui().Messages().size());
    const auto messages = Ui().Messages();
    EXPECT_EQ(L"Сохранить изменения?", messages[0].text);
    EXPECT_EQ(L"Конфигуратор Parvel", messages[0].caption);
}

// One test decides whether there is help: a folder with the help file's name is none, so the Help
// button stays hidden and Help does nothing; a folder in place of the system language's file
// leaves the Russian file in use.
TEST_F(Shell, HelpNeedsAHelpFileNotAFolder)
{
    ASSERT_TRUE(CreateDirectoryW(Folder().File(L"Languages").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(Folder().File(L"Languages\\Parvel_RUS.chm").c_str(), nullptr));
    StartApp();
    std::wstring file;
    EXPECT_FALSE(App().GetHelpFile(file));
    EXPECT_FALSE(IsWindowVisible(App().GetButton(2)));
    EXPECT_FALSE(App().ShowHelp(0));
    StopApp();

    wchar_t language[16] = {};
    GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_SABBREVLANGNAME, language, 16);
    if (std::wstring(language) == L"RUS")
        return;
    const std::wstring own = Folder().File((L"Languages\\Parvel_" + std::wstring(language) + L".chm").c_str());
    ASSERT_TRUE(RemoveDirectoryW(Folder().File(L"Languages\\Parvel_RUS.chm").c_str()));
    ASSERT_TRUE(CreateDirectoryW(own.c_str(), nullptr));
    std::ofstream(Folder().File(L"Languages\\Parvel_RUS.chm").c_str()) << "chm";
    StartApp();
    EXPECT_TRUE(App().GetHelpFile(file));
    EXPECT_EQ(Folder().File(L"Languages\\Parvel_RUS.chm"), file);
    EXPECT_TRUE(IsWindowVisible(App().GetButton(2)));
}

// A second start ends at once and brings the running window to the front, restored when it was
// minimised, and asks it nothing.
TEST_F(Shell, SecondInstanceEndsAtOnceAndBringsTheFirstToTheFront)
{
    StartApp();
    // Another program is in front and ours is minimised.
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_TRUE(other != nullptr);
    ShowWindow(MainWindow(), SW_MINIMIZE);
    SetForegroundWindow(other);
    Input().PumpFor(100);
    ASSERT_TRUE(IsIconic(MainWindow()));
    ASSERT_NE(MainWindow(), GetForegroundWindow());

    CConfigParvelApp second;
    second.SetLocation(false, Folder().Path());
    EXPECT_EQ(-1, second.StartInstance(SW_SHOW));
    EXPECT_EQ(nullptr, second.GetHwnd());
    EXPECT_TRUE(Input().PumpUntil([&] { return !IsIconic(MainWindow()) && GetForegroundWindow() == MainWindow(); },
                                  3000))
        << "minimised " << IsIconic(MainWindow()) << ", in front " << (GetForegroundWindow() == MainWindow());
    EXPECT_TRUE(IsWindowVisible(MainWindow()));
    EXPECT_TRUE(Ui().Asked().empty());
    DestroyWindow(other);
}

TEST_F(Shell, KeepsItsMinimumSize)
{
    StartApp();
    MINMAXINFO info = {};
    SendMessageW(MainWindow(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(725, info.ptMinTrackSize.x);
    EXPECT_EQ(600, info.ptMinTrackSize.y);
    // The frame's own sizing loop asks the same way; a WM_SIZING drag below it is cut by it.
    SetWindowPos(MainWindow(), nullptr, 0, 0, 900, 700, SWP_NOZORDER | SWP_NOMOVE);
    PumpMessages(&App());
    RECT client;
    GetClientRect(MainWindow(), &client);
    // The tab control and the buttons follow the client area.
    RECT tab;
    GetWindowRect(App().GetTabControl(), &tab);
    EXPECT_EQ(client.right, tab.right - tab.left);
    EXPECT_EQ(client.bottom - 39, tab.bottom - tab.top);
    RECT button;
    GetWindowRect(App().GetButton(3), &button);
    POINT origin = {button.left, button.top};
    ScreenToClient(MainWindow(), &origin);
    EXPECT_EQ(8 + 118 * 3, origin.x);
    EXPECT_EQ(client.bottom - 31, origin.y);
}

namespace {

// The main window as it is made: the system's default size for a new window on a 1024 x 768
// screen is put in its place (768 x 576, three quarters of the screen, below the minimum), and the
// window's size is noted when it first reaches its procedure and at every later move.
struct MadeWindow
{
    static HHOOK creation;
    static HHOOK calls;
    static HWND window;
    static SIZE first;
    static SIZE smallest;

    static SIZE SizeOf(HWND hWnd)
    {
        RECT frame = {};
        GetWindowRect(hWnd, &frame);
        return SIZE{frame.right - frame.left, frame.bottom - frame.top};
    }
    static LRESULT CALLBACK OnCreate(int code, WPARAM wParam, LPARAM lParam)
    {
        wchar_t name[32] = {};
        if (code == HCBT_CREATEWND && GetClassNameW(reinterpret_cast<HWND>(wParam), name, 32) &&
            wcscmp(name, L"ConfigParvel") == 0) {
            window = reinterpret_cast<HWND>(wParam);
            CREATESTRUCTW* made = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
            made->cx = 768;
            made->cy = 576;
        }
        return CallNextHookEx(creation, code, wParam, lParam);
    }
    static LRESULT CALLBACK OnMessage(int code, WPARAM wParam, LPARAM lParam)
    {
        const CWPSTRUCT* sent = reinterpret_cast<CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && window && sent->hwnd == window) {
            const SIZE now = SizeOf(window);
            if (sent->message == WM_NCCREATE)
                first = now;
            if (sent->message == WM_NCCREATE || sent->message == WM_WINDOWPOSCHANGED) {
                smallest.cx = std::min(smallest.cx, now.cx);
                smallest.cy = std::min(smallest.cy, now.cy);
            }
        }
        return CallNextHookEx(calls, code, wParam, lParam);
    }
};
HHOOK MadeWindow::creation = nullptr;
HHOOK MadeWindow::calls = nullptr;
HWND MadeWindow::window = nullptr;
SIZE MadeWindow::first = {};
SIZE MadeWindow::smallest = {};

} // namespace

// A default size below the minimum is raised as the window is made, not after: the window never
// has a smaller size, not even before it is first shown.
TEST_F(Shell, IsMadeAtNoLessThanItsMinimumSize)
{
    MadeWindow::window = nullptr;
    MadeWindow::first = SIZE{};
    MadeWindow::smallest = SIZE{100000, 100000};
    MadeWindow::creation = SetWindowsHookExW(WH_CBT, MadeWindow::OnCreate, nullptr, GetCurrentThreadId());
    MadeWindow::calls = SetWindowsHookExW(WH_CALLWNDPROC, MadeWindow::OnMessage, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(MadeWindow::creation && MadeWindow::calls);
    StartApp();
    UnhookWindowsHookEx(MadeWindow::creation);
    UnhookWindowsHookEx(MadeWindow::calls);
    ASSERT_EQ(MainWindow(), MadeWindow::window);
    EXPECT_EQ(768, MadeWindow::first.cx) << "the default width, above the minimum, is kept";
    EXPECT_EQ(600, MadeWindow::first.cy) << "made at the default height of 576";
    EXPECT_GE(MadeWindow::smallest.cx, 725);
    EXPECT_GE(MadeWindow::smallest.cy, 600);
    const SIZE shown = MadeWindow::SizeOf(MainWindow());
    EXPECT_EQ(768, shown.cx);
    EXPECT_EQ(600, shown.cy);
}

TEST_F(Shell, TabsMakePagesOnceAndDefaultIsOffOnTheTestPage)
{
    StartApp();
    for (int i = 0; i < 6; ++i)
    {
        ClickTab(i);
        EXPECT_EQ(i, App().GetCurrentPage());
        ASSERT_TRUE(App().GetPage(i) != nullptr);
        EXPECT_TRUE(IsWindowVisible(App().GetPage(i)->GetHwnd()));
        EXPECT_EQ(i != 5, IsWindowEnabled(App().GetButton(3)) != FALSE) << i;
    }
    CAppPage* first = App().GetPage(0);
    ClickTab(0);
    EXPECT_EQ(first, App().GetPage(0));
    EXPECT_FALSE(IsWindowVisible(App().GetPage(5)->GetHwnd()));
}

TEST_F(Shell, ClosingWithUnsavedChangesCancelKeepsTheWindow)
{
    StartApp();
    App().Portname = L"COM7";
    App().ModifiedFlags |= DATA_ADDIN;
    Ui().AnswerMessage(IDCANCEL);
    EXPECT_FALSE(ClickClose());
    ASSERT_EQ(1u, Ui().Messages().size());
    const auto messages = Ui().Messages();
    const UiAsk& ask = messages[0];
    if (!RussianSystem())
    {
        EXPECT_EQ(L"Save changes?", ask.text);
        EXPECT_EQ(L"Parvel Configurator", ask.caption);
    }
    EXPECT_EQ(static_cast<UINT>(MB_YESNOCANCEL | MB_ICONQUESTION), ask.flags);
    EXPECT_TRUE(IsWindow(MainWindow()));
    EXPECT_EQ(L"Auto", RegistryPortname());
}

TEST_F(Shell, ClosingWithUnsavedChangesNoSavesOnlyTheWindowState)
{
    StartApp();
    App().Portname = L"COM7";
    App().ModifiedFlags |= DATA_ADDIN;
    Ui().AnswerMessage(IDNO);
    EXPECT_TRUE(ClickClose());
    EXPECT_EQ(1u, Ui().Messages().size());
    EXPECT_EQ(L"Auto", RegistryPortname());
    // The window's position is kept silently.
    EXPECT_NE(std::string::npos, ReadFile(Folder().File(L"ConfigParvel.xml")).find("<AppWin>"));
}

TEST_F(Shell, ClosingWithUnsavedChangesYesWritesWhereTheAddinReads)
{
    StartApp();
    App().Portname = L"COM7";
    App().GetPage(0)->UpdateData(false); // the connection page shows it, as if typed
    App().ModifiedFlags |= DATA_ADDIN;
    Ui().AnswerMessage(IDYES);
    EXPECT_TRUE(ClickClose());
    EXPECT_EQ(1u, Ui().Messages().size());
    EXPECT_EQ(L"COM7", RegistryPortname());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Folder().File(L"Parvel.xml").c_str()));
}

TEST_F(Shell, PortableYesWritesParvelXmlAndNothingInTheRegistry)
{
    StartApp(true);
    App().Portname = L"COM9";
    App().GetPage(0)->UpdateData(false); // the connection page shows it, as if typed
    App().ModifiedFlags |= DATA_ADDIN;
    Ui().AnswerMessage(IDYES);
    EXPECT_TRUE(ClickClose());
    CParvelSettings settings;
    LoadSettingsFromXml(Folder().File(L"Parvel.xml"), settings);
    EXPECT_EQ(L"COM9", settings.Portname);
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Corvane\\Parvel", 0, KEY_READ, &key));
    if (key)
        RegCloseKey(key);
}

TEST_F(Shell, ClosingWithoutChangesAsksNothing)
{
    StartApp();
    EXPECT_TRUE(ClickClose());
    EXPECT_TRUE(Ui().Asked().empty());
}

TEST_F(Shell, SaveAsksReallyThenReportsSuccess)
{
    StartApp();
    App().Portname = L"COM5";
    App().GetPage(0)->UpdateData(false); // the connection page shows it, as if typed
    App().ModifiedFlags |= DATA_ADDIN;
    Ui().AnswerMessage(IDCANCEL); // "Really?" refused: nothing happens
    ClickCommand(ID_APP_SAVE);
    EXPECT_EQ(L"Auto", RegistryPortname());
    Ui().AnswerMessage(IDOK);
    Ui().AnswerMessage(IDOK);
    ClickCommand(ID_APP_SAVE);
    EXPECT_EQ(L"COM5", RegistryPortname());
    EXPECT_EQ(0u, App().ModifiedFlags & DATA_ADDIN);
    auto messages = Ui().Messages();
    ASSERT_EQ(3u, messages.size());
    EXPECT_EQ(static_cast<UINT>(MB_OKCANCEL | MB_ICONQUESTION), messages[0].flags);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), messages[2].flags);
    // With the question switched off Save asks nothing before it reports.
    App().ConfirmFlags = 0;
    Ui().Clear();
    Ui().AnswerMessage(IDOK);
    ClickCommand(ID_APP_SAVE);
    EXPECT_EQ(1u, Ui().Messages().size());
}

TEST_F(Shell, LoadBringsBackTheStoredSettings)
{
    StartApp();
    App().Portname = L"COM3";
    App().ConfirmFlags = 0;
    Ui().AnswerMessage(IDOK); // "Successfully."
    ClickCommand(ID_APP_LOAD);
    EXPECT_EQ(L"Auto", App().Portname);
    EXPECT_EQ(1u, Ui().Messages().size());
}

TEST_F(Shell, DefaultReturnsTheConnectionValuesOfThePageAndClosingAsksAboutThem)
{
    StartApp();
    App().Portname = L"COM4";
    App().ReqTries = 9;
    App().Save(DATA_ADDIN);
    ASSERT_EQ(L"COM4", RegistryPortname());
    Ui().AnswerMessage(IDCANCEL);
    ClickCommand(ID_APP_DEFAULT);
    EXPECT_EQ(L"COM4", App().Portname);
    EXPECT_EQ(0u, App().ModifiedFlags);
    Ui().AnswerMessage(IDOK);
    ClickCommand(ID_APP_DEFAULT);
    EXPECT_EQ(L"Auto", App().Portname);
    EXPECT_EQ(2, App().ReqTries);

    // The reset is not lost by closing: the one question comes, and Yes stores it.
    Ui().Clear();
    Ui().AnswerMessage(IDYES);
    EXPECT_TRUE(ClickClose());
    ASSERT_EQ(1u, Ui().Messages().size());
    EXPECT_EQ(static_cast<UINT>(MB_YESNOCANCEL | MB_ICONQUESTION), Ui().Messages()[0].flags);
    EXPECT_EQ(L"Auto", RegistryPortname());
}

TEST_F(Shell, UnwritableSettingsFileIsShownOnceAndTheProgramStarts)
{
    // A folder where the settings file belongs: the built-in file cannot be written.
    ASSERT_TRUE(CreateDirectoryW(Folder().File(L"ConfigParvel.xml").c_str(), nullptr));
    Ui().AnswerMessage(IDOK);
    StartApp();
    ASSERT_EQ(1u, Ui().Messages().size());
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), Ui().Messages().at(0).flags);
    // The box names the file and why it cannot be written.
    const std::wstring text = Ui().Messages().at(0).text;
    EXPECT_NE(std::wstring::npos, text.find(Folder().File(L"ConfigParvel.xml"))) << text;
    EXPECT_NE(std::wstring::npos, text.find(FolderFault())) << text;
    EXPECT_TRUE(IsWindowVisible(MainWindow()));
    EXPECT_EQ(0, App().GetCurrentPage());
}

TEST_F(Shell, AddinSettingsFileThatIsAFolderIsToldAtStart)
{
    ASSERT_TRUE(CreateDirectoryW(Folder().File(L"Parvel.xml").c_str(), nullptr));
    Ui().AnswerMessage(IDOK);
    StartApp(true);
    ASSERT_EQ(1u, Ui().Messages().size()) << "told, not shown as defaults silently";
    const std::wstring text = Ui().Messages().at(0).text;
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), Ui().Messages().at(0).flags);
    EXPECT_NE(std::wstring::npos, text.find(Folder().File(L"Parvel.xml"))) << text;
    EXPECT_NE(std::wstring::npos, text.find(FolderFault())) << text;
    EXPECT_TRUE(IsWindowVisible(MainWindow()));
    RemoveDirectoryW(Folder().File(L"Parvel.xml").c_str());
}

TEST_F(Shell, SaveIntoAReadOnlyConfigurationSaysWhatWasSaved)
{
    StartApp(true);
    App().ConfirmFlags = 0;
    const std::wstring config = Folder().File(L"ConfigParvel.xml");
    ASSERT_TRUE(SetFileAttributesW(config.c_str(), FILE_ATTRIBUTE_READONLY));
    Ui().AnswerMessage(IDOK);
    HWND save = App().GetButton(1);
    Input().Click(save, CUserInput::Centre(save));
    SetFileAttributesW(config.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_EQ(1u, Ui().Messages().size()) << "one box, no \"Successfully.\"";
    const std::wstring text = Ui().Messages().at(0).text;
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), Ui().Messages().at(0).flags);
    EXPECT_NE(std::wstring::npos, text.find(config)) << text;
    EXPECT_NE(std::wstring::npos, text.find(Folder().File(L"Parvel.xml"))) << "the add-in's file was written: " << text;
    EXPECT_NE(std::wstring::npos, text.find(ReadOnlyFault())) << text;
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Folder().File(L"Parvel.xml").c_str()));
}

TEST_F(Shell, UnwritableConfigurationStillLoadsTheAddinSettings)
{
    // The built-in file cannot be written, yet the add-in's settings load, and Save writes them
    // back as they were rather than the defaults.
    ASSERT_TRUE(CreateDirectoryW(Folder().File(L"ConfigParvel.xml").c_str(), nullptr));
    CParvelSettings stored;
    stored.Portname = L"COM7";
    SaveSettingsToXml(Folder().File(L"Parvel.xml"), stored);
    Ui().AnswerMessage(IDOK);
    StartApp(true);
    ASSERT_EQ(1u, Ui().Messages().size());
    EXPECT_EQ(L"COM7", App().Portname);
    App().Save(DATA_ADDIN);
    CParvelSettings back;
    LoadSettingsFromXml(Folder().File(L"Parvel.xml"), back);
    EXPECT_EQ(L"COM7", back.Portname);
}

TEST_F(Shell, ADamagedSettingsFileIsToldOnceNamingTheFile)
{
    const std::wstring file = Folder().File(L"ConfigParvel.xml");
    {
        std::ofstream out(file.c_str(), std::ios::binary);
        out << "\xEF\xBB\xBF<parvel><Configurator version=\"1.1\"/></parvel>";
    }
    Ui().AnswerMessage(IDOK);
    StartApp();
    ASSERT_EQ(1u, Ui().Messages().size());
    const UiAsk told = Ui().Messages().at(0);
    EXPECT_EQ(static_cast<UINT>(MB_ICONWARNING), told.flags);
    EXPECT_NE(std::wstring::npos, told.text.find(file + L".bad")) << WindowText(MainWindow());
    EXPECT_NE(std::wstring::npos, told.text.find(file + L" "));
    // Closing rewrites the file (its bytes are kept); neither closing nor the next start tells again.
    EXPECT_TRUE(ClickClose());
    EXPECT_EQ(1u, Ui().Messages().size());
    StopApp();
    StartApp();
    EXPECT_EQ(1u, Ui().Messages().size());
    EXPECT_NE(std::string::npos, ReadFile(file).find("<Parvel>"));
    EXPECT_EQ(std::string::npos, ReadFile(file).find("<parvel>"));
}

TEST_F(Shell, AboutRunsAsAModalDialog)
{
    StartApp();
    Ui().DriveModal([](HWND dialog) { SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0); });
    SendMessageW(MainWindow(), WM_SYSCOMMAND, ID_APP_ABOUT, 0);
    ASSERT_EQ(1u, Ui().Asked().size());
    EXPECT_EQ(UiAsk::Modal, Ui().Asked()[0].kind);
    EXPECT_EQ(MainWindow(), Ui().Asked()[0].owner);
}
