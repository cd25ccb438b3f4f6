// Keeps the keyboard focus in sight in a window that scrolls its controls. Whenever the focus moves
// onto a descendant of the followed window (Tab, an access key, an arrow key in a group, a click,
// the program's own SetFocus), the follower's callback gets the control before it takes the focus,
// so that the window can scroll it into view.
//
// One thread hook (WH_CBT, HCBT_SETFOCUS) serves every follower of the thread and exists while any
// follower does; a follower must be stopped (or destroyed) on the thread that started it.
#pragma once
#include <windows.h>
#include <functional>

class CFocusFollower
{
public:
    using Callback = std::function<void(HWND control)>;

    CFocusFollower() = default;
    ~CFocusFollower() { Stop(); }
    CFocusFollower(const CFocusFollower&) = delete;
    CFocusFollower& operator=(const CFocusFollower&) = delete;

    // Follows the focus among the descendants of `window`; a running follower is moved to it.
    void Start(HWND window, Callback callback);
    void Stop();
    bool Running() const { return m_window != nullptr; }

private:
    static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
    Callback m_callback;
};
