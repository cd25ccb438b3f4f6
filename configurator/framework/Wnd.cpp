// Binding of window and dialog handles to CWnd objects, the current-message record and the
// exception boundary between the objects and the system.
#include "Wnd.h"
#include "AppMessageBox.h"
#include "GroupCaption.h"
#include "PageRefusal.h"
#include <exception>

HWND CWnd::s_mainWindow = nullptr;
thread_local CWnd* CWnd::s_creating = nullptr;

namespace {

CurrentMessage g_current;

// Restores the outer current message however the handler ends.
class CCurrentMessageScope
{
public:
    CCurrentMessageScope(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) : m_saved(g_current)
    {
        g_current = {hWnd, message, wParam, lParam};
    }
    ~CCurrentMessageScope() { g_current = m_saved; }
    CCurrentMessageScope(const CCurrentMessageScope&) = delete;
    CCurrentMessageScope& operator=(const CCurrentMessageScope&) = delete;

private:
    CurrentMessage m_saved;
};

// While an exception box is up its own message loop keeps serving the dialog; a handler that
// fails again for every repaint would otherwise stack one box on another.
bool g_exceptionBoxShown = false;

void ShowDialogException(HWND owner, const std::exception& e)
{
    if (g_exceptionBoxShown)
        return;
    g_exceptionBoxShown = true;
    const std::wstring wide = ExceptionText(e);
    try
    {
        AppMessageBox(wide.c_str(), MB_ICONERROR, owner);
    }
    catch (...)
    {
    }
    g_exceptionBoxShown = false;
    // A refused field gets the user back once the box is gone.
    if (const CPageRefusal* refusal = dynamic_cast<const CPageRefusal*>(&e))
        FocusRefusedField(refusal->Control());
}

// The command of a button chosen by key, sent by the dialog manager to the top window of the
// dialog: the main window for a page's button, the dialog for a button of a page inside it. The
// button's own parent is the one that knows it. Enter on a focused push button that the top window
// does not take for its default (the main window keeps none) comes as IDOK: that is the button's.
bool RouteToControlOwner(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_COMMAND)
        return false;
    HWND control = reinterpret_cast<HWND>(lParam);
    if (LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED) {
        HWND focus = GetFocus();
        if (focus && focus != control && IsChild(hWnd, focus) && IsWindowEnabled(focus) &&
            (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)))
        {
            SendMessageW(GetParent(focus), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), BN_CLICKED),
                         reinterpret_cast<LPARAM>(focus));
            return true;
        }
    }
    if (!control)
        return false;
    HWND owner = GetParent(control);
    if (!owner || owner == hWnd || !IsChild(hWnd, control))
        return false;
    SendMessageW(owner, WM_COMMAND, wParam, lParam);
    return true;
}

} // namespace

const CurrentMessage& CWnd::GetCurrentMessage()
{
    return g_current;
}

LRESULT CWnd::DefaultProc()
{
    return DefWindowProcW(g_current.hWnd, g_current.message, g_current.wParam, g_current.lParam);
}

LRESULT CWnd::Run(CWnd* wnd, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, bool dialog)
{
    if (RouteToControlOwner(hWnd, message, wParam, lParam))
        return dialog ? TRUE : 0;
    CCurrentMessageScope scope(hWnd, message, wParam, lParam);
    try
    {
        return wnd->DialogProc(hWnd, message, wParam, lParam);
    }
    catch (const std::exception& e)
    {
        if (dialog)
            ShowDialogException(hWnd, e);
    }
    catch (...)
    {
        // Nothing to show, but it must not unwind through the system's frames either.
    }
    if (message == WM_PAINT)
        ValidateRect(hWnd, nullptr);
    return 0;
}

LRESULT CWnd::Dispatch(CWnd* wnd, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Run(wnd, hWnd, message, wParam, lParam, false);
}

LRESULT CALLBACK CWnd::StaticWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* wnd = reinterpret_cast<CWnd*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (message == WM_NCCREATE)
    {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        wnd = static_cast<CWnd*>(cs->lpCreateParams);
        if (wnd)
        {
            SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(wnd));
            wnd->m_hWnd = hWnd;
        }
    }
    if (!wnd && message == WM_GETMINMAXINFO)
        wnd = s_creating;  // asked before WM_NCCREATE, for the window's first size
    if (!wnd)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    LRESULT result = Dispatch(wnd, hWnd, message, wParam, lParam);
    if (message == WM_NCDESTROY)
    {
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        if (wnd->m_hWnd == hWnd)
            wnd->m_hWnd = nullptr;
    }
    return result;
}

HWND CWnd::CreateOwnWindow(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style, int x, int y,
                           int width, int height, HWND parent, HINSTANCE instance)
{
    CWnd* const outer = s_creating;
    s_creating = this;
    HWND hWnd = CreateWindowExW(exStyle, className, title, style, x, y, width, height, parent, nullptr, instance, this);
    s_creating = outer;
    return hWnd;
}

INT_PTR CALLBACK CWnd::StaticDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* wnd;
    if (message == WM_INITDIALOG)
    {
        wnd = reinterpret_cast<CWnd*>(lParam);
        if (!wnd)
            return FALSE;
        SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        wnd->m_hWnd = hWnd;
    }
    else
    {
        wnd = reinterpret_cast<CWnd*>(GetWindowLongPtrW(hWnd, DWLP_USER));
        if (!wnd)
            return FALSE;
    }
    INT_PTR result = Run(wnd, hWnd, message, wParam, lParam, true);
    if (message == WM_INITDIALOG)
        PadGroupCaptions(hWnd);
    if (message == WM_NCDESTROY)
    {
        SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        if (wnd->m_hWnd == hWnd)
            wnd->m_hWnd = nullptr;
    }
    return result;
}

int CWnd::GetDlgItemText(int id, std::wstring& out) const
{
    out.clear();
    HWND item = GetItem(id);
    if (!item)
        return 0;
    int length = GetWindowTextLengthW(item);
    if (length <= 0)
        return 0;
    out.resize(length + 1);
    int got = GetWindowTextW(item, &out[0], length + 1);
    out.resize(got > 0 ? got : 0);
    return static_cast<int>(out.size());
}

void CWnd::CenterWindow()
{
    RECT window;
    GetWindowRect(m_hWnd, &window);
    int width = window.right - window.left;
    int height = window.bottom - window.top;
    RECT reference, limit;
    LONG style = GetWindowLongW(m_hWnd, GWL_STYLE);
    if (style & WS_CHILD)
    {
        HWND parent = GetParent(m_hWnd);
        GetClientRect(parent, &limit);
        reference = limit;
    }
    else
    {
        HWND owner = GetWindow(m_hWnd, GW_OWNER);
        LONG ownerStyle = owner ? GetWindowLongW(owner, GWL_STYLE) : 0;
        MONITORINFO mi = {};
        mi.cbSize = sizeof(mi);
        if (owner && (ownerStyle & WS_VISIBLE) && !(ownerStyle & WS_MINIMIZE))
        {
            GetWindowRect(owner, &reference);
            GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &mi);
            limit = mi.rcWork;
        }
        else
        {
            GetMonitorInfoW(MonitorFromWindow(s_mainWindow, MONITOR_DEFAULTTOPRIMARY), &mi);
            limit = reference = mi.rcWork;
        }
    }
    int x = (reference.left + reference.right) / 2 - width / 2;
    int y = (reference.top + reference.bottom) / 2 - height / 2;
    if (x + width > limit.right)
        x = limit.right - width;
    if (x < limit.left)
        x = limit.left;
    if (y + height > limit.bottom)
        y = limit.bottom - height;
    if (y < limit.top)
        y = limit.top;
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWnd::RestorePlacement(const RECT& saved)
{
    if (saved.left == 0 && saved.top == 0 && saved.right == 0 && saved.bottom == 0)
    {
        CenterWindow();
        return;
    }
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    GetWindowPlacement(m_hWnd, &placement);
    placement.flags = 0;
    placement.showCmd = SW_SHOWNORMAL;
    placement.rcNormalPosition = saved;
    SetWindowPlacement(m_hWnd, &placement);
}

bool CWnd::KeepPlacement(RECT& saved) const
{
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    if (!GetWindowPlacement(m_hWnd, &placement) || EqualRect(&placement.rcNormalPosition, &saved))
        return false;
    saved = placement.rcNormalPosition;
    return true;
}

bool CAppPage::PreTranslateMessage(MSG* msg)
{
    return m_hWnd && IsDialogMessageW(m_hWnd, msg);
}

void CAppPage::MakeChild()
{
    LONG style = GetWindowLongW(m_hWnd, GWL_STYLE);
    style &= ~(WS_CAPTION | WS_DISABLED);
    style |= WS_CLIPSIBLINGS | DS_CONTROL;
    SetWindowLongW(m_hWnd, GWL_STYLE, style);
    LONG exStyle = GetWindowLongW(m_hWnd, GWL_EXSTYLE);
    SetWindowLongW(m_hWnd, GWL_EXSTYLE, exStyle | WS_EX_CONTROLPARENT);
}

BOOL CALLBACK SetFontProc(HWND child, LPARAM font)
{
    SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
    return TRUE;
}
