// Start-up, the main window with its tabs and buttons, the message loop and the orderly close.
#include "App.h"
#include "FileProblem.h"
#include "PageRefusal.h"
#include "SoundPage.h"
#include <mmsystem.h>
#include "AppMessageBox.h"
#include "AppResource.h"
#include "Exceptions.h"
#include "ListViewHelpers.h"
#include "ModuleState.h"
#include "PageFactory.h"
#include "SettingsLocation.h"
#include "ThreadLanguage.h"
#include "CodePage.h"
#include "DpiScale.h"
#include <commctrl.h>
#include <htmlhelp.h>

namespace {

const wchar_t kClassName[] = L"ConfigParvel";
const int kButtonIds[4] = {ID_APP_LOAD, ID_APP_SAVE, ID_APP_HELP, ID_APP_DEFAULT};
// The main window's frame at 96 DPI; ScalePixels gives each at the screen's DPI.
const int kButtonWidth = 110;
const int kButtonHeight = 23;
const int kButtonStep = 118;
const int kButtonsLeft = 8;
const int kButtonsBand = 39;   // height of the strip below the tab control
const int kButtonsFromBottom = 31;

int ButtonLeft(int i)
{
    return ScalePixels(kButtonsLeft + kButtonStep * i);
}

CConfigParvelApp* g_app = nullptr;

// The first control of a page that Tab reaches (visible, enabled, a tab stop), in the page's order.
HWND FirstTabStop(HWND page)
{
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if ((style & (WS_VISIBLE | WS_DISABLED | WS_TABSTOP)) == (WS_VISIBLE | WS_TABSTOP))
            return child;
    }
    return nullptr;
}

// What a user expects of a program that runs once: the window already open comes to the front,
// restored when it was minimised, with a dialog it shows in front of it. Asynchronous, so that a
// running instance that does not answer cannot hold this one.
void BringToFront(HWND running)
{
    if (IsIconic(running))
        ShowWindowAsync(running, SW_RESTORE);
    HWND popup = GetLastActivePopup(running);
    SetForegroundWindow(popup && IsWindowVisible(popup) ? popup : running);
}

} // namespace

CConfigParvelApp& GetApp()
{
    return *g_app;
}

bool HasApp()
{
    return g_app != nullptr;
}

CConfigParvelApp::CConfigParvelApp()
{
    if (!g_app)
        g_app = this;
}

CConfigParvelApp::~CConfigParvelApp()
{
    Shutdown();
    if (g_app == this)
        g_app = nullptr;
}

int CConfigParvelApp::InitInstance(int showCommand)
{
    if (LOWORD(GetSystemDefaultLCID()) == 1049)
        SetThreadLanguage(1049);

    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program(path);
    size_t slash = program.rfind(L'\\');
    if (slash == std::wstring::npos)
        return -1;
    m_programFolder = program.substr(0, slash + 1);
    try
    {
        SettingsLocation location = DecideSettingsLocation(program.substr(0, slash));
        SetLocation(location.Portable, location.DataFolder);
    }
    catch (const std::exception&)
    {
        return -1;
    }
    return StartInstance(showCommand);
}

int CConfigParvelApp::StartInstance(int showCommand)
{
    INITCOMMONCONTROLSEX icc = {};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_LINK_CLASS;
    InitCommonControlsEx(&icc);

    // The mutex only spans the look for a running instance and the creation of our window, so
    // two programs started together cannot both miss each other.
    CHandle mutex(CreateMutexW(nullptr, FALSE, kClassName));
    if (!mutex)
        return -1;
    WaitForSingleObject(mutex.Get(), INFINITE);
    if (HWND running = FindWindowW(kClassName, nullptr))
    {
        ReleaseMutex(mutex.Get());
        BringToFront(running);
        return -1;
    }

    const int smallSize = GetSystemMetrics(SM_CXSMICON);
    if (smallSize > 0)
        m_smallIcon.Reset(static_cast<HICON>(LoadImageW(ModuleHandle, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, smallSize,
                                                        smallSize, 0)));
    else
        m_smallIcon.Reset(LoadIconW(ModuleHandle, MAKEINTRESOURCEW(IDI_APP)));
    HICON largeIcon = LoadIconW(ModuleHandle, MAKEINTRESOURCEW(IDI_APP)); // shared, never destroyed

    if (!m_classAtom)
    {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.style = 0;
        wc.lpfnWndProc = CWnd::StaticWndProc;
        wc.hInstance = ModuleHandle;
        wc.hIcon = largeIcon;
        wc.hIconSm = m_smallIcon.Get();
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kClassName;
        m_classAtom = RegisterClassExW(&wc);
    }

    std::wstring title = LoadAppString(IDS_APP_TITLE);
    HWND hWnd = CreateOwnWindow(0, kClassName, title.c_str(),
                                WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, ModuleHandle);
    if (!hWnd)
    {
        ReleaseMutex(mutex.Get());
        return -1;
    }
    ReleaseMutex(mutex.Get());
    ShowWindow(hWnd, showCommand);
    UpdateWindow(hWnd);
    return 0;
}

int CConfigParvelApp::Run()
{
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
    {
        if (!PreTranslateMessage(&msg))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    Shutdown();
    return static_cast<int>(msg.wParam);
}

void CConfigParvelApp::Shutdown()
{
    if (m_hWnd && IsWindow(m_hWnd))
        DestroyWindow(m_hWnd);
    if (m_classAtom)
    {
        UnregisterClassW(kClassName, ModuleHandle);
        m_classAtom = 0;
    }
    m_smallIcon.Reset();
}

bool CConfigParvelApp::PreTranslateMessage(MSG* msg)
{
    if (!m_hWnd)
        return false;
    if (m_accelerators && TranslateAcceleratorW(m_hWnd, m_accelerators, msg))
        return true;
    if (IsDialogMessageW(m_hWnd, msg))
        return true;
    for (CAppPage* page : m_pages)
        if (page && page->PreTranslateMessage(msg))
            return true;
    return false;
}

LRESULT CConfigParvelApp::OnCreate()
{
    CWnd::SetMainWindow(m_hWnd);
    std::wstring about = LoadAppString(IDS_ABOUT_MENU);
    if (!about.empty())
    {
        HMENU menu = GetSystemMenu(m_hWnd, FALSE);
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, ID_APP_ABOUT, about.c_str());
    }

    HDC dc = GetDC(m_hWnd);
    const int height = -MulDiv(9, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(m_hWnd, dc);
    m_font.Reset(CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI"));

    m_pages = {};
    m_currentPage = -1;
    if (!m_accelerators)
        m_accelerators = LoadAcceleratorsW(ModuleHandle, MAKEINTRESOURCEW(IDR_ACCELERATORS));

    RECT client;
    GetClientRect(m_hWnd, &client);
    // The buttons come last in the tab order, after the tabs; the page shown goes first (it lies
    // on top of the tab control, which would otherwise draw over it).
    CreateTabs(client);
    CreateButtons(client);
    EnumChildWindows(m_hWnd, SetFontProc, reinterpret_cast<LPARAM>(m_font.Get()));

    std::wstring help;
    if (!GetHelpFile(help))
        ShowWindow(m_buttons[2], SW_HIDE);

    // Each step on its own: a configurator file that cannot be written must not keep the add-in's
    // settings from loading (Save would then write defaults over them).
    try
    {
        CAppConfig::EnsureDefaultFile(DataFolder, ModuleHandle);
    }
    catch (const CFileException& e)
    {
        AppMessageBox(FileProblemText(e, true, std::wstring()), MB_ICONERROR);
    }
    catch (const std::exception& e)
    {
        AppMessageBox(ExceptionText(e), MB_ICONERROR);
    }
    try
    {
        Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    }
    catch (const std::exception& e)
    {
        AppMessageBox(ExceptionText(e), MB_ICONERROR);
    }
    ShowDamageNotices();

    if (AppWinRect.left || AppWinRect.top || AppWinRect.right || AppWinRect.bottom)
    {
        WINDOWPLACEMENT wp = {};
        wp.length = sizeof(wp);
        GetWindowPlacement(m_hWnd, &wp);
        wp.flags = 0;
        wp.showCmd = SW_HIDE;
        wp.rcNormalPosition = AppWinRect;
        SetWindowPlacement(m_hWnd, &wp);
    }
    SelectPage(0);
    // The window takes the focus when it is first activated: it goes to the page's first field.
    if (CAppPage* first = GetPage(0))
        m_savedFocus = FirstTabStop(first->GetHwnd());
    return 0;
}

void CConfigParvelApp::CreateButtons(const RECT& client)
{
    for (int i = 0; i < 4; ++i)
    {
        std::wstring caption = LoadAppString(kButtonIds[i]);
        DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (i == 0 ? WS_GROUP : 0);
        m_buttons[i] = CreateWindowExW(0, L"Button", caption.c_str(), style, ButtonLeft(i),
                                       client.bottom - ScalePixels(kButtonsFromBottom), ScalePixels(kButtonWidth),
                                       ScalePixels(kButtonHeight), m_hWnd,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonIds[i])), ModuleHandle,
                                       nullptr);
    }
}

void CConfigParvelApp::CreateTabs(const RECT& client)
{
    m_tab = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_GROUP | WS_TABSTOP,
                            0, 0, client.right, client.bottom - ScalePixels(kButtonsBand), m_hWnd,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_MAIN_TAB)), ModuleHandle, nullptr);
    for (int i = 0; i < PageCount; ++i)
    {
        std::wstring text = LoadAppString(IDS_TAB_FIRST + i);
        TCITEMW item = {};
        item.mask = TCIF_TEXT | TCIF_PARAM;
        item.pszText = &text[0];
        item.lParam = i + 1;
        const int count = static_cast<int>(SendMessageW(m_tab, TCM_GETITEMCOUNT, 0, 0));
        SendMessageW(m_tab, TCM_INSERTITEMW, count, reinterpret_cast<LPARAM>(&item));
    }
}

bool CConfigParvelApp::SelectPage(int index)
{
    const PageSlot* slot = GetPageSlot(index);
    if (!slot)
        return false;
    if (index == m_currentPage)
        return true;
    if (CAppPage* current = GetPage(m_currentPage))
        ShowWindow(current->GetHwnd(), SW_HIDE);
    if (!m_pages[index])
    {
        CAppPage* page = slot->Create(*this);
        HWND hWnd = page ? CreateDialogParamW(ModuleHandle, MAKEINTRESOURCEW(slot->TemplateId), m_hWnd,
                                              CWnd::StaticDlgProc, reinterpret_cast<LPARAM>(page))
                         : nullptr;
        if (!hWnd)
        {
            delete page;
            m_currentPage = -1;
            return false;
        }
        m_pages[index] = page;
    }
    m_currentPage = index;
    LayoutPage(-1, -1, nullptr);
    EnableWindow(m_buttons[3], index <= 4);
    SendMessageW(m_tab, TCM_SETCURSEL, index, 0);
    return true;
}

void CConfigParvelApp::StepPage(int step)
{
    if (m_currentPage < 0)
        return;
    HWND focus = GetFocus();
    CAppPage* old = GetPage(m_currentPage);
    const bool focusInPage = !focus || focus == m_hWnd || (old && IsChild(old->GetHwnd(), focus));
    if (!SelectPage((m_currentPage + step + PageCount) % PageCount))
        return;
    CAppPage* page = GetPage(m_currentPage);
    if (focusInPage && page)
        if (HWND first = FirstTabStop(page->GetHwnd()))
            SetFocus(first);
}

void CConfigParvelApp::OnNextControl(WPARAM wParam, LPARAM lParam)
{
    HWND target = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                                 : GetNextDlgTabItem(m_hWnd, GetFocus(), wParam != 0 ? TRUE : FALSE);
    if (!target)
        return;
    SetFocus(target);
    if (SendMessageW(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
        SendMessageW(target, EM_SETSEL, 0, -1);
}

void CConfigParvelApp::LayoutPage(int cx, int cy, HDWP hdwp)
{
    CAppPage* page = GetPage(m_currentPage);
    if (!page)
        return;
    RECT r;
    if (cx == -1)
        GetClientRect(m_tab, &r);
    else
        r = RECT{0, 0, cx, cy};
    SendMessageW(m_tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
    MapWindowPoints(m_tab, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    if (hdwp)
        DeferWindowPos(hdwp, page->GetHwnd(), nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                       SWP_SHOWWINDOW);
    else
        SetWindowPos(page->GetHwnd(), nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_SHOWWINDOW);
}

void CConfigParvelApp::OnSize(UINT type, int cx, int cy)
{
    if (type == SIZE_MINIMIZED)
        return;
    HDWP hdwp = BeginDeferWindowPos(GetPage(m_currentPage) ? 6 : 5);
    const int tabHeight = cy - ScalePixels(kButtonsBand);
    if (hdwp)
        hdwp = DeferWindowPos(hdwp, m_tab, nullptr, 0, 0, cx, tabHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    LayoutPage(cx, tabHeight, hdwp);
    for (int i = 0; i < 4 && hdwp; ++i)
        hdwp = DeferWindowPos(hdwp, m_buttons[i], nullptr, ButtonLeft(i), cy - ScalePixels(kButtonsFromBottom), 0, 0,
                              SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    if (hdwp)
        EndDeferWindowPos(hdwp);
}

void CConfigParvelApp::OnActivate(WPARAM wParam)
{
    if (LOWORD(wParam) == WA_INACTIVE)
    {
        m_savedFocus = GetFocus();
    }
    else if (m_savedFocus && IsWindowVisible(m_savedFocus) && IsWindowEnabled(m_savedFocus))
    {
        SetFocus(m_savedFocus);
    }
}

void CConfigParvelApp::DestroyPages()
{
    for (CAppPage*& page : m_pages)
    {
        if (!page)
            continue;
        // The page's own WM_DESTROY must still find its object.
        if (HWND hWnd = page->GetHwnd())
            DestroyWindow(hWnd);
        delete page;
        page = nullptr;
    }
    m_currentPage = -1;
}

void CConfigParvelApp::OnDestroy()
{
    PostQuitMessage(0);
    if (!m_openHelpFile.empty())
    {
        HtmlHelpW(nullptr, m_openHelpFile.c_str(), HH_CLOSE_ALL, 0);
        m_openHelpFile.clear();
    }
    HtmlHelpW(nullptr, nullptr, HH_CLOSE_ALL, 0);
    DestroyPages();
    DestroyTestBench();
    DestroySortImages();
    m_tab = nullptr;
    m_buttons = {};
    m_savedFocus = nullptr;
    if (CWnd::GetMainWindow() == m_hWnd)
        CWnd::SetMainWindow(nullptr);
}

LRESULT CConfigParvelApp::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_GETMINMAXINFO:
    {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = ScaleForTemplates(MinWidth, false);
        info->ptMinTrackSize.y = ScaleForTemplates(MinHeight, true);
        return 0;
    }
    case WM_CREATE:
        return OnCreate();
    case WM_SIZE:
        OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_ACTIVATE:
    {
        LRESULT result = DefaultProc();
        OnActivate(wParam);
        return result;
    }
    case WM_QUERYENDSESSION:
        return CanClose() ? TRUE : FALSE;
    case MM_MCINOTIFY:
        OnMediaSoundEnded();
        return 0;
    case WM_SYSCOMMAND:
        if (wParam == ID_APP_ABOUT)
        {
            ShowAbout();
            return 0;
        }
        if ((wParam & 0xFFF0) == SC_CLOSE && !CanClose())
            return 0;
        return DefaultProc();
    case WM_NOTIFY:
    {
        auto* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (hdr->idFrom == IDC_MAIN_TAB && hdr->code == TCN_SELCHANGE)
            SelectPage(static_cast<int>(SendMessageW(m_tab, TCM_GETCURSEL, 0, 0)));
        return 0;
    }
    case WM_NEXTDLGCTL:
        // The dialog manager sends this to the window whose controls it runs, as to a dialog: an
        // access key on a label puts the focus on the label and asks for the control after it.
        OnNextControl(wParam, lParam);
        return 0;
    case WM_HELP:
        ShowHelp(CurrentHelpId());
        return TRUE;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}
