// The hidden window of the component: class registration, creation and the window procedure.
#include "ComponentWindow.h"
#include "Component.h"
#include <mutex>
#include <set>

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

namespace {

// The module's registration of the window class and the media aliases in use, shared by every
// component of the process.
std::mutex SharedLock;
ATOM ClassAtom = 0;
HINSTANCE ClassModule = nullptr;
unsigned ClassShares = 0;
std::set<unsigned> AliasesInUse;

} // namespace

bool CWindowClass::Register(HINSTANCE module)
{
    Reset();
    std::lock_guard<std::mutex> lock(SharedLock);
    if (ClassShares == 0) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = ParvelWndProc;
        wc.hInstance = module;
        wc.lpszClassName = ParvelWindowClass;
        ClassAtom = RegisterClassExW(&wc);
        if (!ClassAtom)
            return false;
        ClassModule = module;
    }
    ++ClassShares;
    m_atom = ClassAtom;
    return true;
}

void CWindowClass::Reset()
{
    if (!m_atom)
        return;
    m_atom = 0;
    std::lock_guard<std::mutex> lock(SharedLock);
    if (--ClassShares == 0) {
        // Keep the caller's view of the last error (a failed window creation reports it).
        DWORD error = GetLastError();
        UnregisterClassW(ParvelWindowClass, ClassModule);
        SetLastError(error);
        ClassAtom = 0;
        ClassModule = nullptr;
    }
}

CMediaAlias::CMediaAlias()
{
    std::lock_guard<std::mutex> lock(SharedLock);
    m_number = 1;
    while (AliasesInUse.count(m_number))
        ++m_number;
    AliasesInUse.insert(m_number);
    m_name = m_number == 1 ? L"media" : L"media" + std::to_wstring(m_number);
}

CMediaAlias::~CMediaAlias()
{
    std::lock_guard<std::mutex> lock(SharedLock);
    AliasesInUse.erase(m_number);
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
