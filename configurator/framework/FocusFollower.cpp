// The focus hook of the thread and the followers it serves.
#include "FocusFollower.h"
#include <algorithm>
#include <vector>

namespace {

// The thread's CBT hook; unhooked when the last follower stops.
class CThreadHook
{
public:
    CThreadHook() = default;
    ~CThreadHook() { Reset(); }
    CThreadHook(const CThreadHook&) = delete;
    CThreadHook& operator=(const CThreadHook&) = delete;

    bool Set(HOOKPROC proc)
    {
        if (!m_hook)
            m_hook = SetWindowsHookExW(WH_CBT, proc, nullptr, GetCurrentThreadId());
        return m_hook != nullptr;
    }
    void Reset()
    {
        if (m_hook)
            UnhookWindowsHookEx(m_hook);
        m_hook = nullptr;
    }

private:
    HHOOK m_hook = nullptr;
};

thread_local CThreadHook t_hook;
thread_local std::vector<CFocusFollower*> t_followers;

} // namespace

void CFocusFollower::Start(HWND window, Callback callback)
{
    Stop();
    if (!window || !t_hook.Set(HookProc))
        return;
    m_window = window;
    m_callback = std::move(callback);
    t_followers.push_back(this);
}

void CFocusFollower::Stop()
{
    if (!m_window)
        return;
    m_window = nullptr;
    m_callback = nullptr;
    t_followers.erase(std::remove(t_followers.begin(), t_followers.end(), this), t_followers.end());
    if (t_followers.empty())
        t_hook.Reset();
}

LRESULT CALLBACK CFocusFollower::HookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_SETFOCUS) {
        HWND gaining = reinterpret_cast<HWND>(wParam);
        // A callback may stop followers (its window going away): walk a copy, ask the live list.
        const std::vector<CFocusFollower*> followers = t_followers;
        for (CFocusFollower* follower : followers) {
            if (std::find(t_followers.begin(), t_followers.end(), follower) == t_followers.end())
                continue;
            if (gaining && follower->m_callback && IsChild(follower->m_window, gaining))
                follower->m_callback(gaining);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
