// The hidden window of the component: class registration, creation and the window procedure.
#include "ComponentWindow.h"
#include "Component.h"

const wchar_t* const ParvelWindowClass = L"Parvel";

LRESULT CALLBACK ParvelWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_CREATE) {
        const CREATESTRUCTW* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_PARVEL_PLAY_MEDIA) {
        CParvel* component = reinterpret_cast<CParvel*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (component) {
            try {
                component->PlayMciSound();
            } catch (...) {
                // A sound that cannot play is no reason to disturb the message loop of the host.
            }
        }
        return 0;
    }
    return result;
}

bool CWindowClass::Register(HINSTANCE module)
{
    Reset();
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ParvelWndProc;
    wc.hInstance = module;
    wc.lpszClassName = ParvelWindowClass;
    m_atom = RegisterClassExW(&wc);
    if (m_atom)
        m_module = module;
    return m_atom != 0;
}

void CWindowClass::Reset()
{
    if (m_atom) {
        // Keep the caller's view of the last error (a failed window creation reports it).
        DWORD error = GetLastError();
        UnregisterClassW(ParvelWindowClass, m_module);
        SetLastError(error);
        m_atom = 0;
        m_module = nullptr;
    }
}

bool CWindowHandle::Create(HINSTANCE module, void* component)
{
    Reset();
    // A message-only window: it only ever receives posted requests, it can never be shown, and the
    // system makes one also where a process has no desktop to put a top-level window on.
    m_window = CreateWindowExW(0, ParvelWindowClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module,
                               component);
    return m_window != nullptr;
}

void CWindowHandle::Reset()
{
    if (m_window) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
        m_window = nullptr;
    }
}
