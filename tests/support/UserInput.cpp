// The user's hands for the in-process GUI tests.
#include "UserInput.h"
#include <commctrl.h>
#include <cstring>

namespace {

LPARAM KeyLParam(WORD vk, bool up)
{
    const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    LPARAM lParam = 1 | (static_cast<LPARAM>(scan & 0xFF) << 16);
    if (up)
        lParam |= (1u << 30) | (1u << 31);
    return lParam;
}

// A button pressed and released at `at` (client coordinates), posted; the loop delivers them.
void PostButton(HWND control, POINT at, UINT down, WPARAM held, UINT up)
{
    const LPARAM where = MAKELPARAM(at.x, at.y);
    PostMessageW(control, down, held, where);
    PostMessageW(control, up, 0, where);
}

POINT Middle(const RECT& rect)
{
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// Where a key or a character goes: the focus, or `target` when no window of the thread has it.
HWND KeyTarget(HWND target)
{
    HWND focus = GetFocus();
    return focus ? focus : target;
}

// The thread's key state with the modifiers held, put back when the scope ends.
class CHeldModifiers
{
public:
    explicit CHeldModifiers(UINT modifiers)
    {
        GetKeyboardState(m_saved);
        BYTE held[256];
        memcpy(held, m_saved, sizeof(held));
        if (modifiers & MOD_CONTROL)
            held[VK_CONTROL] = held[VK_LCONTROL] = 0x80;
        if (modifiers & MOD_SHIFT)
            held[VK_SHIFT] = held[VK_LSHIFT] = 0x80;
        if (modifiers & MOD_ALT)
            held[VK_MENU] = held[VK_LMENU] = 0x80;
        SetKeyboardState(held);
    }
    ~CHeldModifiers() { SetKeyboardState(m_saved); }
    CHeldModifiers(const CHeldModifiers&) = delete;
    CHeldModifiers& operator=(const CHeldModifiers&) = delete;

private:
    BYTE m_saved[256] = {};
};

} // namespace

bool CUserInput::Deliver(MSG& msg)
{
    if (msg.message == WM_QUIT) {
        m_quit = true;
        return true;
    }
    if (m_preTranslate && m_preTranslate(&msg))
        return true;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return true;
}

void CUserInput::PumpPending()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        Deliver(msg);
}

bool CUserInput::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        PumpPending();
        if (done && done())
            return true;
        const DWORD waited = GetTickCount() - start;
        if (waited >= timeoutMs)
            return false;
        // Wakes for posted and sent messages, input and expired timers alike.
        MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs - waited < 50 ? timeoutMs - waited : 50, QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

void CUserInput::PumpFor(DWORD ms)
{
    PumpUntil(nullptr, ms);
}

POINT CUserInput::Centre(HWND control)
{
    RECT client = {};
    GetClientRect(control, &client);
    return Middle(client);
}

POINT CUserInput::ListCell(HWND list, int row, int column)
{
    RECT cell = {};
    if (column == 0) {
        cell.left = LVIR_LABEL;
        SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
    } else {
        cell.top = column;
        cell.left = LVIR_BOUNDS;
        SendMessageW(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
    }
    return Middle(cell);
}

POINT CUserInput::Tab(HWND tabs, int index)
{
    RECT item = {};
    SendMessageW(tabs, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&item));
    return Middle(item);
}

void CUserInput::Click(HWND control, POINT at)
{
    if (!IsWindowVisible(control) || !IsWindowEnabled(control)) {
        PumpPending();
        return;
    }
    PostButton(control, at, WM_LBUTTONDOWN, MK_LBUTTON, WM_LBUTTONUP);
    PumpPending();
}

void CUserInput::DoubleClick(HWND control, POINT at)
{
    PostButton(control, at, WM_LBUTTONDOWN, MK_LBUTTON, WM_LBUTTONUP);
    PostButton(control, at, WM_LBUTTONDBLCLK, MK_LBUTTON, WM_LBUTTONUP);
    PumpPending();
}

void CUserInput::RightClick(HWND control, POINT at)
{
    PostButton(control, at, WM_RBUTTONDOWN, MK_RBUTTON, WM_RBUTTONUP);
    PumpPending();
}

void CUserInput::PressKey(WORD vk, UINT modifiers, HWND target)
{
    HWND to = KeyTarget(target);
    if (!to)
        return;
    CHeldModifiers held(modifiers);
    // The system sends F10 (the menu bar's key) as a system key, as it does any key with Alt.
    const bool system = (modifiers & MOD_ALT) || vk == VK_F10;
    const UINT down = system ? WM_SYSKEYDOWN : WM_KEYDOWN;
    const UINT up = system ? WM_SYSKEYUP : WM_KEYUP;
    PostMessageW(to, down, vk, KeyLParam(vk, false));
    PostMessageW(to, up, vk, KeyLParam(vk, true));
    PumpPending();
    // Windows sends the focused window WM_CONTEXTMENU (position -1, -1) when the Menu key is
    // released; Wine 8 makes none of a posted Menu key, so the user's system is played here.
    if (vk == VK_APPS && GetFocus() == to) {
        SendMessageW(to, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(to), -1);
        PumpPending();
    }
}

void CUserInput::PressAccessKey(wchar_t key, HWND target)
{
    HWND to = KeyTarget(target);
    if (!to)
        return;
    CHeldModifiers held(MOD_ALT);
    PostMessageW(to, WM_SYSCHAR, key, 1 | (1 << 29)); // bit 29: Alt is down
    PumpPending();
}

void CUserInput::TypeText(const std::wstring& text, HWND target)
{
    HWND to = KeyTarget(target);
    if (!to)
        return;
    for (wchar_t c : text)
        PostMessageW(to, WM_CHAR, c, 1);
    PumpPending();
}

void CUserInput::ReplaceText(HWND edit, const std::wstring& text)
{
    Click(edit, Centre(edit));
    PressKey(VK_END);
    for (int n = GetWindowTextLengthW(edit); n > 0; --n)
        PressKey(VK_BACK);
    TypeText(text);
}

void CUserInput::ClickOnScreen(POINT screen, bool twice)
{
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    INPUT inputs[5] = {};
    for (INPUT& input : inputs)
        input.type = INPUT_MOUSE;
    inputs[0].mi.dx = width > 1 ? MulDiv(screen.x - left, 65535, width - 1) : 0;
    inputs[0].mi.dy = height > 1 ? MulDiv(screen.y - top, 65535, height - 1) : 0;
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    inputs[3].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[4].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(twice ? 5 : 3, inputs, sizeof(INPUT));
    PumpFor(50);
}
