// ConfigParvel at the screen's DPI. Run as the other GUI tests at 96 DPI, and again at 120 and 144
// DPI (screen scaling of 125 % and 150 %) on the screens those are used with (1280 x 1024 and
// 1920 x 1080): the program is aware of the DPI; its main window at its smallest size and its
// dialogs fit the screen's work area; every control of every page and dialog lies inside its
// window's client area (a window that scrolls may reach past it in the direction it scrolls); no
// two sibling controls overlap (a group box or a tab control around others excepted); and every
// label fits its control.
#include "AppFixture.h"
#include "AppResource.h"
#include "FormatsPageRes.h"
#include "WindowFit.h"
#include "TestPageRes.h"
#include <commctrl.h>
#include <string>
#include <vector>

namespace {

// The window at its smallest size (the system holds it at its minimum tracking size).
void Shrink(HWND window)
{
    SetWindowPos(window, nullptr, 0, 0, 1, 1, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Whether the whole window fits the screen's work area.
void CheckOnScreen(HWND window, const std::wstring& where, std::wostringstream& problems)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    RECT r;
    GetWindowRect(window, &r);
    if (r.right - r.left > work.right - work.left || r.bottom - r.top > work.bottom - work.top)
        problems << where << L": " << r.right - r.left << L"x" << r.bottom - r.top << L" does not fit the work area "
                 << work.right - work.left << L"x" << work.bottom - work.top << L" (screen " << GetSystemMetrics(SM_CXSCREEN)
                 << L"x" << GetSystemMetrics(SM_CYSCREEN) << L")\n";
}

// Everything a window shows, as it opens and, when the user can size it, at its smallest size.
void CheckWindow(HWND window, const std::wstring& where, std::wostringstream& problems)
{
    CheckOnScreen(window, where, problems);
    CheckPlacement(window, where, problems);
    CheckLabels(window, GetDlgCtrlID(window), problems);
    if (!(GetWindowLongW(window, GWL_STYLE) & WS_THICKFRAME))
        return;
    Shrink(window);
    CheckPlacement(window, where + L" at its smallest", problems);
}

} // namespace

class Fit : public AppFixture
{
protected:
    void ClickMainTab(int index)
    {
        HWND tabs = App().GetTabControl();
        Input().Click(tabs, CUserInput::Tab(tabs, index));
        Input().PumpFor(50);
        ASSERT_EQ(index, App().GetCurrentPage());
    }
};

// The program asks Windows for the real DPI in its manifest (the test program carries the same),
// as the figures it scales are meant for: without it, Windows stretches the bitmap of a program
// that scales its fonts, and it comes out cut and blurred. Wine gives every program the real DPI
// and reports it aware in any case, so the manifest itself is read, as Windows reads it.
TEST_F(Fit, TheProgramIsAwareOfTheScreensDpi)
{
    EXPECT_TRUE(IsProcessDPIAware());
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)); // RT_MANIFEST
    ASSERT_TRUE(found != nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
    ASSERT_TRUE(bytes != nullptr);
    const std::string manifest(bytes, SizeofResource(module, found));
    // <dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>, in
    // <application><windowsSettings>: system awareness (per-monitor awareness would need more).
    const size_t settings = manifest.find("<windowsSettings>");
    const size_t element = manifest.find("<dpiAware", settings == std::string::npos ? manifest.size() : settings);
    ASSERT_NE(std::string::npos, element) << manifest;
    const size_t open = manifest.find('>', element), close = manifest.find("</dpiAware>", element);
    ASSERT_TRUE(open != std::string::npos && close != std::string::npos && open < close) << manifest;
    const std::string attributes = manifest.substr(element, open - element);
    EXPECT_NE(std::string::npos, attributes.find("xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\""))
        << attributes;
    EXPECT_EQ("true", manifest.substr(open + 1, close - open - 1));
}

// Every dialog template on its own, as the dialog manager lays it out in the DPI's font, and its
// labels.
TEST_F(Fit, EveryTemplateFitsItsWindow)
{
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1200, 900, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(parent != nullptr);
    ASSERT_TRUE(LoadLibraryW(L"Msftedit.dll") != nullptr);
    std::wostringstream problems;
    for (int id : kDialogTemplates) {
        HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), parent, QuietDialog, 0);
        ASSERT_TRUE(dialog != nullptr) << "dialog " << id;
        CheckPlacement(dialog, L"dialog " + std::to_wstring(id), problems);
        CheckLabels(dialog, id, problems);
        DestroyWindow(dialog);
    }
    DestroyWindow(parent);
    EXPECT_TRUE(problems.str().empty()) << Narrow(problems.str());
}

// The main window at its smallest size on every page (each inner page of the test page too), the
// About box, and the format and groups dialogs as they open and at their smallest sizes.
TEST_F(Fit, EveryPageAndDialogOfTheRunningProgramFits)
{
    StartApp();
    std::wostringstream problems;
    Shrink(MainWindow());
    Input().PumpFor(50);
    CheckOnScreen(MainWindow(), L"main window", problems);
    for (int page = 0; page < CConfigParvelApp::PageCount; ++page) {
        ClickMainTab(page);
        HWND inner = page == 5 ? GetDlgItem(App().GetPage(5)->GetHwnd(), IDC_TEST_TABS) : nullptr;
        const int innerPages = inner ? static_cast<int>(SendMessageW(inner, TCM_GETITEMCOUNT, 0, 0)) : 1;
        for (int i = 0; i < innerPages; ++i) {
            if (inner) {
                Input().Click(inner, CUserInput::Tab(inner, i));
                Input().PumpFor(50);
                ASSERT_EQ(i, SendMessageW(inner, TCM_GETCURSEL, 0, 0));
            }
            CheckPlacement(MainWindow(),
                           L"page " + std::to_wstring(page) + (inner ? L"." + std::to_wstring(i) : std::wstring()),
                           problems);
        }
    }
    CheckLabels(MainWindow(), 0, problems);

    Ui().DriveModal([&](HWND about) {
        CheckWindow(about, L"About", problems);
        SendMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    });
    SendMessageW(MainWindow(), WM_SYSCOMMAND, ID_APP_ABOUT, 0);

    ClickMainTab(1);
    HWND formats = App().GetPage(1)->GetHwnd();
    Ui().DriveModal([&](HWND dialog) {
        CheckWindow(dialog, L"format dialog", problems);
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    SendMessageW(formats, WM_COMMAND, MAKEWPARAM(IDC_FORMAT_ADD, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(formats, IDC_FORMAT_ADD)));
    Ui().DriveModal([&](HWND dialog) {
        CheckWindow(dialog, L"groups dialog", problems);
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    SendMessageW(formats, WM_COMMAND, ID_CUSTOMIZE_TABS, 0);
    EXPECT_EQ(0u, Ui().PendingAnswers());
    EXPECT_TRUE(problems.str().empty()) << Narrow(problems.str());
}
