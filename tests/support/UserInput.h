// Acting on the program's windows as a user does, for the in-process GUI tests: mouse buttons
// posted to a control at a point of its client area, keys posted to the window that has the focus,
// and every message, timers included, delivered by a message loop that runs the program's own
// pre-translation (accelerators and the dialog manager) before it dispatches.
//
// The rule a test must not break: nothing here calls a handler. What a click or a key does is what
// the control and the dialog manager make of the messages, so a test that passes through this way
// fails where a user's click or key would do nothing. Timers fire only while a Pump* call runs.
//
// Posted input does not move the cursor and does not change the keys' state; a modifier that a key
// needs (Ctrl+A) is put into the thread's key state for the time of that key.
#pragma once
#include <windows.h>
#include <functional>
#include <string>

class CUserInput
{
public:
    // What the program's loop does with a message before TranslateMessage and DispatchMessage;
    // true = taken (for ConfigParvel: CConfigParvelApp::PreTranslateMessage).
    using PreTranslate = std::function<bool(MSG*)>;

    explicit CUserInput(PreTranslate preTranslate = PreTranslate()) : m_preTranslate(std::move(preTranslate)) {}

    // Delivers every message waiting for the thread, as the program's loop would. A WM_QUIT is
    // taken out and remembered (QuitSeen), so that it ends no later modal loop.
    void PumpPending();
    // Runs the loop for `ms` milliseconds, sleeping in the system's wait while nothing is queued.
    void PumpFor(DWORD ms);
    // Runs the loop until `done` holds; false when `timeoutMs` passed first.
    bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
    bool QuitSeen() const { return m_quit; }

    // A left click at `at` (client coordinates of `control`): button down and up, then the loop.
    // A disabled or hidden control gets nothing, as the system gives it no mouse input.
    void Click(HWND control, POINT at);
    // A double click as the system makes it from two clicks within the double-click time: down,
    // up, double-click, up.
    void DoubleClick(HWND control, POINT at);
    // A right click (button down and up), for context menus.
    void RightClick(HWND control, POINT at);
    // Points to click at, in the control's client coordinates: the centre of its client area; the
    // centre of a list view's cell (column 0: the label of the row's first column); the centre of a
    // tab control's tab.
    static POINT Centre(HWND control);
    static POINT ListCell(HWND list, int row, int column);
    static POINT Tab(HWND tabs, int index);

    // A key pressed and released on the window that has the focus (or `target` when the focus is
    // elsewhere), with `modifiers` (MOD_CONTROL, MOD_SHIFT, MOD_ALT) held meanwhile. F10 comes as a
    // system key (Shift+F10 opens a context menu); the Menu key's release brings the focused window
    // WM_CONTEXTMENU as on Windows.
    void PressKey(WORD vk, UINT modifiers = 0, HWND target = nullptr);
    // Alt and a character, as the keyboard's layout makes it into WM_SYSCHAR, on the window that has
    // the focus (or `target`): what the dialog manager reads as an access key. The character goes
    // as the label writes it (Wine matches a Cyrillic one only in that case).
    void PressAccessKey(wchar_t key, HWND target = nullptr);
    // Characters typed into the window that has the focus (WM_CHAR each), then the loop.
    void TypeText(const std::wstring& text, HWND target = nullptr);
    // The text of an edit replaced as a user does it: a click into the edit, End, Backspace over
    // every character, then `text` typed.
    void ReplaceText(HWND edit, const std::wstring& text);

    // The mouse moved to a screen point and clicked through the system's input (SendInput): the
    // window under the point gets it, as from a real mouse. Only for a window in front.
    void ClickOnScreen(POINT screen, bool twice = false);

private:
    bool Deliver(MSG& msg);

    PreTranslate m_preTranslate;
    bool m_quit = false;
};
