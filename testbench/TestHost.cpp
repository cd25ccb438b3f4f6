// The test host's life: construction, the hidden window, the library path, loading the add-in and
// creating, initialising and ending its component in the platform's order.
#include "TestHost.h"
#include "Exceptions.h"
#include "ResText.h"
#include "TestbenchStrings.h"
#include <algorithm>

namespace {

const wchar_t WindowClassName[] = L"TestParvel";
const wchar_t ProgramBaseName[] = L"ConfigParvel";
const UINT WakeMessage = WM_USER + 1;

// Exports are looked up by name; their types come from NativeApi.h.
template <typename Fn>
Fn BindExport(HMODULE library, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

std::atomic<bool> KeepUnderWine{true};

// Wine's loader fault: a serial port's comm-event wait runs on a helper thread of Wine that ends
// without leaving the loader's list of threads, and loading again a library with thread-local data
// that the process freed after that can spin or fault in the loader. Under Wine the host therefore
// keeps one reference of its own to every add-in it has loaded, for the rest of the process, so a
// later load gets the mapped image back. Windows has no such fault: there Unload really frees the
// library. Wine is known by the export of ntdll that only it has.
void KeepLoadedUnderWine(HMODULE library)
{
    static const bool underWine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    static std::vector<HMODULE> kept;
    if (!underWine || !KeepUnderWine || std::find(kept.begin(), kept.end(), library) != kept.end())
        return;
    HMODULE reference = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(library), &reference))
        kept.push_back(reference);
}

} // namespace

int DefaultHostMessageBox(const wchar_t* text, UINT flags, HWND owner)
{
    return MessageBoxW(owner, text, nullptr, flags);
}

CTestParvel::CTestParvel() : m_language(LOWORD(GetThreadLocale()))
{
    m_platformInfo.AppVersion = L"8.3.3";
    m_platformInfo.UserAgentInformation = L"";
    m_platformInfo.Application = 1;
}

CTestParvel::~CTestParvel()
{
    if (m_component || m_library)
        Unload();
    if (m_window)
        DestroyWindow(m_window);
    if (m_classAtom)
        UnregisterClassW(WindowClassName, GetModuleHandleW(nullptr));
}

void CTestParvel::CreateHostWindow()
{
    if (m_window)
        return;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!m_classAtom) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = instance;
        wc.lpszClassName = WindowClassName;
        m_classAtom = RegisterClassExW(&wc);
        // Another host of this program may hold the registration; its class serves as well.
        if (!m_classAtom && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            ThrowOSException(::GetLastError(), L"RegisterClassEx");
    }
    // A message-only window: never shown, needs no desktop, so the host also runs where there is
    // no display (a console program, a service, Wine without X).
    m_window = CreateWindowExW(WS_EX_APPWINDOW, WindowClassName, L"", 0, CW_USEDEFAULT, 0, 0, 0, HWND_MESSAGE,
                               nullptr, instance, this);
    if (!m_window) {
        DWORD error = ::GetLastError();
        if (m_classAtom)
            UnregisterClassW(WindowClassName, instance);
        m_classAtom = 0;
        ThrowOSException(error, L"CreateWindowEx");
    }
}

LRESULT CALLBACK CTestParvel::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_CREATE) {
        const CREATESTRUCTW* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WakeMessage) {
        CTestParvel* host = reinterpret_cast<CTestParvel*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (host) {
            try {
                host->PumpQueues();
            } catch (...) {
                // Nothing may leave a window procedure; the records were delivered as far as possible.
            }
        }
    }
    return result;
}

void CTestParvel::SetKeepLoadedUnderWine(bool keep)
{
    KeepUnderWine = keep;
}

std::wstring CTestParvel::AddInPathFor(const std::wstring& programPath)
{
    const size_t slash = programPath.rfind(L'\\');
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : programPath.substr(0, slash + 1);
    const std::wstring file = slash == std::wstring::npos ? programPath : programPath.substr(slash + 1);
    // Only lengths are compared: a program renamed to a name of another length carries the
    // difference over into the library's name.
    const size_t base = sizeof(ProgramBaseName) / sizeof(ProgramBaseName[0]) - 1;
    std::wstring suffix;
    if (file.size() > base + 4)
        suffix = file.substr(base, file.size() - 4 - base);
    return folder + L"Parvel" + suffix + L".dll";
}

std::wstring CTestParvel::LibraryPath() const
{
    if (!m_libraryPath.empty())
        return m_libraryPath;
    wchar_t buffer[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return AddInPathFor(std::wstring(buffer, n));
}

void CTestParvel::LoadAddIn()
{
    if (m_library)
        return;
    const std::wstring path = LibraryPath();
    HMODULE library = LoadLibraryW(path.c_str());
    if (!library)
        ThrowFileExceptionFromOsError(::GetLastError(), path.c_str());
    m_library = library;
    m_getClassObject = BindExport<GetClassObjectFn>(library, "GetClassObject");
    m_destroyObject = m_getClassObject ? BindExport<DestroyObjectFn>(library, "DestroyObject") : nullptr;
    m_getClassNames = m_destroyObject ? BindExport<GetClassNamesFn>(library, "GetClassNames") : nullptr;
    m_setPlatformCapabilities =
        m_getClassNames ? BindExport<SetPlatformCapabilitiesFn>(library, "SetPlatformCapabilities") : nullptr;
    if (!m_setPlatformCapabilities) {
        FreeAddIn();
        ThrowFileException(CFileException::InvalidFile, CFileException::NoOsError, path.c_str());
    }
    KeepLoadedUnderWine(library);
}

void CTestParvel::FreeAddIn()
{
    if (!m_library)
        return;
    FreeLibrary(m_library);
    m_library = nullptr;
    m_getClassObject = nullptr;
    m_destroyObject = nullptr;
    m_getClassNames = nullptr;
    m_setPlatformCapabilities = nullptr;
}

void CTestParvel::Create()
{
    // A component still loaded is finished first, as Unload finishes it: replacing it silently
    // would leave its reader threads running with nobody to stop them.
    if (m_component) {
        m_component->Done();
        if (m_destroyObject)
            m_destroyObject(&m_component);
        m_component = nullptr;
        m_devices.clear();
    }
    {
        CritSecLock lock(m_queueLock);
        m_depth = 32;
    }
    LoadAddIn();
    m_setPlatformCapabilities(AppCapabilitiesVersion1);
    const WCHAR_T* names = m_getClassNames();
    std::wstring name = names ? names : L"";
    const size_t bar = name.find(L'|');
    if (bar != std::wstring::npos)
        name.resize(bar);

    IComponentBase* component = nullptr;
    const long created = m_getClassObject(name.c_str(), &component);
    if (!created || !component) {
        if (component)
            m_destroyObject(&component);
        FreeAddIn();
        ThrowTestError(LoadResString(IDS_TEST_CREATE_FAILED).c_str());
    }
    m_component = component;

    bool ok = m_component->setMemManager(static_cast<void*>(static_cast<IMemoryManager*>(this)));
    const bool initCalled = ok;
    if (ok)
        ok = m_component->Init(static_cast<void*>(static_cast<IAddInDefBaseEx*>(this)));
    if (!ok) {
        // Init may have made a window or started something that points into the library; Done
        // ends it before the library goes away.
        if (initCalled)
            m_component->Done();
        m_destroyObject(&m_component);
        m_component = nullptr;
        FreeAddIn();
        ThrowTestError(LoadResString(IDS_TEST_INIT_FAILED).c_str());
    }

    ApplyLanguage();
    Notify(ListenComponent);
}

void CTestParvel::ApplyLanguage()
{
    if (!m_component)
        return;
    const bool russian = PRIMARYLANGID(m_language) == LANG_RUSSIAN;
    // The add-in takes its texts' language from the calling thread's locale inside SetLocale, which
    // the platform sets first. This thread is the configurator's own: it gets its locale back at
    // once, so that the configurator's formats and texts stay as the user's system has them.
    const LCID previous = GetThreadLocale();
    SetThreadLocale(MAKELCID(MAKELANGID(russian ? LANG_RUSSIAN : LANG_ENGLISH, SUBLANG_DEFAULT), SORT_DEFAULT));
    static_cast<LocaleBase*>(m_component)->SetLocale(russian ? L"ru_RU" : L"en_EN");
    SetThreadLocale(previous);
}

void CTestParvel::Unload()
{
    if (m_component) {
        m_component->Done();
        if (m_destroyObject)
            m_destroyObject(&m_component);
        m_component = nullptr;
    }
    FreeAddIn();
    m_devices.clear();
    Notify(ListenDevices);
    Notify(ListenComponent);
}
