// Window objects of the configurator: a window or dialog handle bound to a C++ object, with every
// message routed to one virtual operation of that object.
//
// The rule a reader must not break: a window object exists before its window and outlives it. The
// creator constructs the object, then creates the window with the object as creation parameter;
// from WM_NCCREATE (windows) or WM_INITDIALOG (dialogs and pages) on the object knows its HWND.
// Exceptions never cross back into the system: dialogs and pages show them in an error box and
// stay open, the main window ends the message quietly.
#pragma once
#include "Thread.h" // CObject
#include <windows.h>
#include <string>

// The message being dispatched at this moment. Nested dispatches (a SendMessage from inside a
// handler) see their own message and restore the outer one when they return.
struct CurrentMessage
{
    HWND hWnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class CWnd : public CObject
{
public:
    CWnd() = default;
    ~CWnd() override = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // True = handled: the message is neither translated nor dispatched further.
    virtual bool PreTranslateMessage(MSG* msg) { return false; }
    // The window or dialog procedure of the class; for dialogs TRUE = handled.
    virtual LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // DefWindowProcW applied to the message being dispatched now.
    virtual LRESULT DefaultProc();

    HWND GetHwnd() const { return m_hWnd; }
    HWND GetItem(int id) const { return GetDlgItem(m_hWnd, id); }
    // The text of a dialog control; an empty text when the control does not exist.
    int GetDlgItemText(int id, std::wstring& out) const;
    void EnableItem(int id, bool enable) const { EnableWindow(GetItem(id), enable ? TRUE : FALSE); }
    void ShowItem(int id, bool show) const { ShowWindow(GetItem(id), show ? SW_SHOW : SW_HIDE); }
    bool IsChecked(int id) const { return IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED; }
    void SetCheck(int id, bool checked) const
    {
        CheckDlgButton(m_hWnd, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    LRESULT SendItemMessage(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return SendDlgItemMessageW(m_hWnd, id, message, wParam, lParam);
    }
    // A dialog's answer to a message whose result travels in DWLP_MSGRESULT (WM_NOTIFY and the
    // like); returns TRUE for the dialog procedure to hand back.
    LRESULT SetDlgResult(LRESULT result) const
    {
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }

    // Centres the window on its parent (children), its visible owner, or the main window's monitor.
    void CenterWindow();
    // A resizable dialog the program remembers: shown at the normal position `saved` it kept,
    // or centred while it keeps none (all zero).
    void RestorePlacement(const RECT& saved);
    // The window's normal position kept in `saved`; true when it differs from what was kept there
    // (the caller marks its UI state modified).
    bool KeepPlacement(RECT& saved) const;

    // CreateWindowExW of a window of StaticWndProc's class that is this object's. The system asks a
    // new window for its minimum size (WM_GETMINMAXINFO) before WM_NCCREATE hands it the object, and
    // sizes it by the answer: that message reaches the object as well, so that a default size below
    // the object's minimum is raised as the window is made, before anything is drawn.
    HWND CreateOwnWindow(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style, int x, int y,
                         int width, int height, HWND parent, HINSTANCE instance);

    // Registered as the window procedure of the main window's class.
    static LRESULT CALLBACK StaticWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    // The dialog procedure of every dialog and page; the object is the creation parameter.
    static INT_PTR CALLBACK StaticDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Runs the object's DialogProc as the current message; an escaping exception ends the message
    // quietly with 0 (a WM_PAINT is validated so that it is not repeated forever).
    static LRESULT Dispatch(CWnd* wnd, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    static const CurrentMessage& GetCurrentMessage();
    // The program's main window: default owner of message boxes and of the clipboard.
    static HWND GetMainWindow() { return s_mainWindow; }
    static void SetMainWindow(HWND hWnd) { s_mainWindow = hWnd; }

protected:
    HWND m_hWnd = nullptr;

private:
    static LRESULT Run(CWnd* wnd, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, bool dialog);
    static HWND s_mainWindow;
    static thread_local CWnd* s_creating;  // during CreateOwnWindow on this thread
};

// A modeless dialog shown inside a tab control or a dialog; copies between its controls and the
// program's data only in UpdateData.
class CAppPage : public CWnd
{
public:
    bool PreTranslateMessage(MSG* msg) override;
    // save = true: controls into data; false: data into controls.
    virtual void UpdateData(bool save) {}

protected:
    // From WM_INITDIALOG of every page: a borderless child that takes part in the parent's tab order.
    void MakeChild();
};

// EnumChildWindows callback: WM_SETFONT (font in lParam, redraw) to every child.
BOOL CALLBACK SetFontProc(HWND child, LPARAM font);
