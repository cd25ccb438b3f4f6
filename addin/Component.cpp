// The component's life (construction, Init, Done, destruction), its locale, the dispatch of method
// calls with the error convention, and the helpers every method handler uses.
#include "Component.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Messages.h"
#include "ModuleState.h"
#include "ResText.h"
#include "SettingsLocation.h"
#include <clocale>
#include <cstring>
#include <new>
#include <vector>

namespace {

std::atomic<CParvel*> CurrentComponent{nullptr};

const unsigned short ErrorCodeForPlatform = 1004;
const wchar_t* const ErrorSource = L"Parvel";
const long EventBufferDepth = 4096;

// The folder of a module file (text before its last backslash); false when the path has none.
bool ModuleFolderOf(HMODULE module, std::wstring& folder)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD n = 0;
    for (;;) {
        n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n < buffer.size() || buffer.size() >= 32768)
            break;
        buffer.resize(buffer.size() * 2); // a path longer than MAX_PATH: take it whole
    }
    std::wstring path(buffer.data(), n < buffer.size() ? n : 0);
    size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos)
        return false;
    folder = path.substr(0, slash);
    return true;
}

// The exception's text as the user is to read it.
std::wstring ExceptionText(const std::exception& e)
{
    return ExceptionMessage(e);
}

} // namespace

CParvel::CParvel(const WCHAR_T* className) : m_className(MakeWString(className))
{
    SetCurrentReadKeys(m_readKeys.get());
    CurrentComponent = this;
}

CParvel::~CParvel()
{
    // Readers call into this object from their threads and the window posts to it: both must be
    // gone before any member is, also when the host destroys the component without Done.
    try {
        Shutdown();
    } catch (...) {
    }
    // Deleted here while a reader's call is still inside (Destroy frees the object only after):
    // the call returns into this object, which must wait for it.
    m_readerLink->Sever(nullptr);
    m_readerLink->WaitIdle(INFINITE);
    CParvel* self = this;
    CurrentComponent.compare_exchange_strong(self, nullptr);
    ReleaseCurrentReadKeys(m_readKeys.get());
}

void CParvel::Destroy(CParvel* component)
{
    if (!component)
        return;
    try {
        component->Shutdown();
    } catch (...) {
    }
    component->m_readerLink->Sever([component] { delete component; });
}

CParvel* CParvel::Current()
{
    return CurrentComponent.load();
}

void* CParvel::DestructorSlot(unsigned int flags)
{
    if (flags & 1)
        Destroy(this);
    return this;
}

// ---------------------------------------------------------------------------------------------
// IInitDoneBase

bool CParvel::Init(void* connection)
{
    // Reader calls reach the platform's side again once Init has made it anew (after a Done).
    struct Reopen
    {
        CParvel& Component;
        ~Reopen()
        {
            CritSecLock lock(Component.m_shutLock);
            Component.m_shut = false;
        }
    } reopen{*this};
    try {
        m_connection = static_cast<IAddInDefBase*>(connection);
        // Without a connection that takes our event depth, the component works without a window,
        // a settings folder, a command event and the default format, and Init still succeeds.
        if (m_connection && m_connection->SetEventBufferDepth(EventBufferDepth)) {
            if (!InitSteps())
                return false;
        }
        m_working = m_loaded;
        return true;
    } catch (const std::exception& e) {
        ReportException(e);
    } catch (...) {
        try {
            SetLastError(E_FAIL);
            AddError(m_lastErrorText.c_str(), E_FAIL);
        } catch (...) {
        }
    }
    return false;
}

bool CParvel::InitSteps()
{
    {
        CritSecLock lock(m_lock);
        m_lastKeyType = 0;
        m_lastKey.Clear();
    }
    m_soundEnabled = 0;

    std::wstring moduleFolder = m_placement.ModuleFolder;
    if (moduleFolder.empty() && !ModuleFolderOf(ModuleHandle, moduleFolder))
        return false;

    if (WindowWanted() && !m_window.Get()) {
        if (m_windowClass.Atom() || m_windowClass.Register(ModuleHandle)) {
            if (!m_window.Create(ModuleHandle, this))
                m_windowClass.Reset(); // media sounds will not play; the rest works
        }
    }

    DecideLocation(moduleFolder);

    m_commandEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_commandEvent.Valid())
        return false;

    if (ReadStoredLoadAtStartup())
        LoadSettingsParts(SETTINGS_MAIN | SETTINGS_FORMATS);
    else
        AddDefaultFormat();
    return true;
}

void CParvel::DecideLocation(const std::wstring& moduleFolder)
{
    SettingsLocation location = DecideSettingsLocation(moduleFolder, m_placement.AppDataFolder);
    m_portable = location.Portable ? 1 : 0;
    m_settingsFolder = location.DataFolder;
}

bool CParvel::WindowWanted() const
{
    if (m_placement.WindowHost >= 0)
        return m_placement.WindowHost != 0;
    // A console or service host has no message loop that could play media: no window there.
    const BYTE* image = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    if (!image)
        return true;
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return true;
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return true;
    return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

bool CParvel::setMemManager(void* memoryManager)
{
    m_memory = static_cast<IMemoryManager*>(memoryManager);
    return m_memory != nullptr;
}

long CParvel::GetInfo()
{
    return 2000;
}

void CParvel::Done()
{
    try {
        Shutdown();
    } catch (...) {
        // Done has no way to report; what could be released was released.
    }
}

void CParvel::Shutdown()
{
    CloseAllReaders();
    {
        // Readers left to end alone may still be inside a call; none of them reaches the platform,
        // the window or the command event any more.
        CritSecLock lock(m_shutLock);
        m_shut = true;
    }
    WaitPlatformCallsEntered();
    m_waitingReader = nullptr;
    CloseMedia();
    m_window.Reset();
    m_windowClass.Reset();
    m_commandEvent.Reset();
    FinishLog();
}

// ---------------------------------------------------------------------------------------------
// LocaleBase

void CParvel::SetLocale(const WCHAR_T* locale)
{
    try {
        if (locale)
            _wsetlocale(LC_ALL, locale);
        // The texts follow MessageLcid wherever they are loaded. The calling thread is the
        // platform's own: its language is the platform's business, so only the add-in's own threads
        // (the readers, below) switch theirs.
        MessageLcid = GetThreadLocale();
        m_russian = (MessageLcid & 0x3FF) == LANG_RUSSIAN ? 1 : 0;
        // Each reader thread takes up the new language when its connection values are given again.
        for (auto& port : m_ports) {
            ReaderEntry& entry = port.second;
            entry.Reader->SetConnection(entry.StopBits, entry.Flags, entry.Model, entry.Speed, TRUE);
        }
    } catch (...) {
        // The locale stays as far as it was set.
    }
}

// ---------------------------------------------------------------------------------------------
// ILanguageExtenderBase: registration and dispatch (the name tables are in ComponentTables.cpp)

void CParvel::ReportException(const std::exception& e) noexcept
{
    try {
        const std::wstring text = ExceptionText(e);
        SetLastError(E_FAIL, text.c_str());
        AddError(text.c_str(), E_FAIL);
    } catch (...) {
    }
}

bool CParvel::RegisterExtensionAs(WCHAR_T** extensionName)
{
    try {
        if (!extensionName)
            return false;
        const WCHAR_T* name = CopyName(m_className.c_str());
        if (!name)
            throw std::bad_alloc();
        *extensionName = const_cast<WCHAR_T*>(name);
        return true;
    } catch (const std::exception& e) {
        try {
            std::wstring text = ExceptionText(e);
            AddError(text.c_str(), E_FAIL);
        } catch (...) {
        }
    } catch (...) {
    }
    return false;
}

const WCHAR_T* CParvel::CopyName(const wchar_t* name)
{
    if (!m_memory || !name)
        return nullptr;
    size_t length = wcslen(name);
    void* block = nullptr;
    if (!m_memory->AllocMemory(&block, static_cast<unsigned long>((length + 1) * sizeof(WCHAR_T))) || !block)
        return nullptr;
    std::memcpy(block, name, (length + 1) * sizeof(WCHAR_T));
    return static_cast<const WCHAR_T*>(block);
}

bool CParvel::CallAsProc(const long method, tVariant* params, const long count)
{
    return Dispatch(method, nullptr, params, count, false);
}

bool CParvel::CallAsFunc(const long method, tVariant* result, tVariant* params, const long count)
{
    return Dispatch(method, result, params, count, true);
}

bool CParvel::Dispatch(long method, tVariant* result, tVariant* params, long count, bool function)
{
    if (method < 0 || method >= MethodCount)
        return false;
    try {
        return (this->*Methods[method].Handler)(result, params, count);
    } catch (const std::exception& e) {
        try {
            return FailMethod(ExceptionText(e), result, function);
        } catch (...) {
        }
    } catch (...) {
        try {
            return FailMethod(std::wstring(), result, function);
        } catch (...) {
        }
    }
    return false;
}

bool CParvel::FailMethod(const std::wstring& text, tVariant* result, bool function)
{
    if (text.empty())
        SetLastError(E_FAIL);
    else
        SetLastError(E_FAIL, text.c_str());
    // A function with a boolean result reports the failure there; anything else fails the call.
    if (function && result && result->vt == VTYPE_BOOL) {
        result->bVal = false;
        return true;
    }
    AddError(m_lastErrorText.c_str(), E_FAIL);
    return false;
}

// ---------------------------------------------------------------------------------------------
// The error convention and variant helpers

void CParvel::SetLastError(HRESULT code, const wchar_t* text, ptrdiff_t length)
{
    m_lastErrorCode = code;
    if (text) {
        m_lastErrorText = length < 0 ? std::wstring(text) : std::wstring(text, static_cast<size_t>(length));
    } else {
        m_lastErrorText.clear();
        if (code != 0)
            GetErrorText(m_lastErrorText, nullptr, static_cast<DWORD>(code));
    }
}

void CParvel::AddError(const wchar_t* text, long code)
{
    if (!m_connection)
        return;
    long scode = code > 0 ? static_cast<long>(0x80070000u | (static_cast<uint32_t>(code) & 0xFFFF)) : code;
    m_connection->AddError(ErrorCodeForPlatform, ErrorSource, text ? text : L"", scode);
}

void CParvel::MakeStringVariant(tVariant* variant, const wchar_t* text, ptrdiff_t length)
{
    size_t count = !text ? 0 : length < 0 ? wcslen(text) : static_cast<size_t>(length);
    size_t bytes = (count + 1) * sizeof(WCHAR_T);
    void* block = nullptr;
    if (!m_memory || bytes > 0xFFFFFFFFu || !m_memory->AllocMemory(&block, static_cast<unsigned long>(bytes)) ||
        !block)
        throw std::bad_alloc();
    WCHAR_T* buffer = static_cast<WCHAR_T*>(block);
    if (count)
        std::memcpy(buffer, text, count * sizeof(WCHAR_T));
    buffer[count] = 0;
    ClearVariant(variant, VTYPE_PWSTR);
    variant->wstr.ptr = buffer;
    variant->wstr.len = static_cast<uint32_t>(count);
}

void CParvel::MakeBlobVariant(tVariant* variant, const void* bytes, size_t length)
{
    ClearVariant(variant, VTYPE_BLOB);
    void* block = nullptr;
    if (length == 0 || length > 0xFFFFFFFFu || !m_memory ||
        !m_memory->AllocMemory(&block, static_cast<unsigned long>(length)) || !block)
        return;
    std::memcpy(block, bytes, length);
    variant->bytes.ptr = static_cast<char*>(block);
    variant->bytes.len = static_cast<uint32_t>(length);
}

bool CParvel::VariantToUInt(const tVariant* variant, uint32_t& out)
{
    if (!variant)
        return false;
    switch (variant->vt) {
    case VTYPE_I2:
        out = static_cast<uint32_t>(static_cast<int32_t>(variant->i16Val));
        return true;
    case VTYPE_I1:
        out = static_cast<uint32_t>(static_cast<int32_t>(variant->i8Val));
        return true;
    case VTYPE_UI1:
        out = variant->ui8Val;
        return true;
    case VTYPE_UI2:
        out = variant->ui16Val;
        return true;
    case VTYPE_I4:
    case VTYPE_UI4:
    case VTYPE_INT:
    case VTYPE_UINT:
        out = variant->ui32Val;
        return true;
    case VTYPE_I8:
    case VTYPE_UI8:
        out = static_cast<uint32_t>(variant->ui64Val);
        return true;
    default:
        return false;
    }
}

bool CParvel::CheckParams(const tVariant* params, const ParamCheck& check)
{
    for (long i = 0; i < check.Count; ++i) {
        const TYPEVAR expected = check.Types[i];
        if (expected == 0)
            continue;
        const TYPEVAR actual = params[i].vt;
        bool ok;
        if (IsOmittedArgument(params[i])) {
            ok = i < 32 && (check.NullMask >> i & 1) != 0;
        } else {
            switch (expected) {
            case VTYPE_I4:
            case VTYPE_UI1:
            case VTYPE_UI4:
            case VTYPE_UI8:
                ok = IsIntegerType(actual);
                break;
            case VTYPE_BOOL:
            case VTYPE_HRESULT:
            case VTYPE_PWSTR:
                ok = actual == expected;
                break;
            case VTYPE_BLOB:
                ok = actual == VTYPE_BLOB || actual == VTYPE_PSTR;
                break;
            default:
                ok = true;
                break;
            }
        }
        if (!ok) {
            SetLastError(PE_INVALID_PARAM_TYPE);
            return false;
        }
    }
    return true;
}

void CParvel::SwitchLog(uint32_t on)
{
    CritSecLock lock(m_lock);
    on = on ? 1 : 0;
    if (m_log != on) {
        m_log = on;
        m_logPath.clear(); // the next line starts with a header again
    }
}
