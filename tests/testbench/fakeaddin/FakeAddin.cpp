// A stand-in add-in for the test host's tests: the four exports and a small component written
// against NativeApi.h, which records every call it receives and fails on request.
//
// Controlled through the environment of the process that loads it (read at every call):
//   FAKEADDIN_RECORD   file to which one line per received call is appended (UTF-8)
//   FAKEADDIN_FAIL     comma-separated steps that fail: GetClassObject, setMemManager, Init
//   FAKEADDIN_CLASSES  the class list GetClassNames returns (default "ParvelExtension|FakeSecond")
//   FAKEADDIN_DEPTH    when set, Init asks the host for this event buffer depth
// Method arguments are recorded as TYPE or TYPE:value, so tests can see exactly what a host sent.
#include "NativeApi.h"
#include <windows.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::wstring Env(const wchar_t* name)
{
    wchar_t buffer[1024];
    DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

bool Failing(const wchar_t* step)
{
    std::wstring list = L"," + Env(L"FAKEADDIN_FAIL") + L",";
    return list.find(L"," + std::wstring(step) + L",") != std::wstring::npos;
}

void Record(const std::wstring& line)
{
    std::wstring path = Env(L"FAKEADDIN_RECORD");
    if (path.empty())
        return;
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::wstring text = line + L"\n";
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

const wchar_t* const TypeNames[] = {
    L"EMPTY", L"NULL", L"I2",  L"I4",  L"R4",  L"R8",  L"DATE", L"TM",   L"PSTR",    L"INTERFACE", L"ERROR", L"BOOL",
    L"VARIANT", L"I1", L"UI1", L"UI2", L"UI4", L"I8",  L"UI8",  L"INT",  L"UINT",    L"HRESULT",   L"PWSTR", L"BLOB",
    L"CLSID",
};

std::wstring Describe(const tVariant& v)
{
    std::wstring name = v.vt < 25 ? TypeNames[v.vt] : L"?";
    switch (v.vt) {
    case VTYPE_I4: return name + L":" + std::to_wstring(v.i32Val);
    case VTYPE_UI4: return name + L":" + std::to_wstring(v.ui32Val);
    case VTYPE_BOOL: return name + (v.bVal ? L":true" : L":false");
    case VTYPE_PWSTR: return name + L":" + (v.wstr.ptr ? std::wstring(v.wstr.ptr, v.wstr.len) : L"");
    default: return name;
    }
}

bool IsInteger(const tVariant& v)
{
    switch (v.vt) {
    case VTYPE_I2: case VTYPE_I4: case VTYPE_I1: case VTYPE_UI1: case VTYPE_UI2: case VTYPE_UI4:
    case VTYPE_I8: case VTYPE_UI8: case VTYPE_INT: case VTYPE_UINT: return true;
    default: return false;
    }
}

std::wstring TextOf(const tVariant& v)
{
    return v.vt == VTYPE_PWSTR && v.wstr.ptr ? std::wstring(v.wstr.ptr, v.wstr.len) : std::wstring();
}

struct MethodInfo
{
    const wchar_t* name;
    long params;
    bool returns;
};

enum Method
{
    MGetVersion, MGetLastError, MSetParameter, MOpen, MClose, MGetStatus, MReconnect, MLoadSettings,
    MFindFormat, MDeleteFormat, MInsertFormat, MSetFormat, MCheckFormat, MFail, MEcho, MRaiseEvent, MethodCount
};

const MethodInfo Methods[MethodCount] = {
    {L"GetVersion", 0, true},   {L"GetLastError", 1, true}, {L"SetParameter", 2, true}, {L"Open", 1, true},
    {L"Close", 1, true},        {L"GetStatus", 1, true},    {L"Reconnect", 1, true},    {L"LoadSettings", 1, false},
    {L"FindFormat", 1, true},   {L"DeleteFormat", 1, true}, {L"InsertFormat", 7, true}, {L"SetFormat", 7, true},
    {L"CheckFormat", 3, true},  {L"Fail", 1, true},         {L"Echo", 1, true},         {L"RaiseEvent", 3, true},
};

const wchar_t* const Props[] = {L"Port", L"Status"};
const long PropCount = 2;

class CFakeComponent final : public IComponentBase
{
public:
    // --- IInitDoneBase
    bool Init(void* connection) override
    {
        Record(L"Init");
        m_connection = static_cast<IAddInDefBase*>(connection);
        if (Failing(L"Init"))
            return false;
        std::wstring depth = Env(L"FAKEADDIN_DEPTH");
        if (!depth.empty() && m_connection)
            m_connection->SetEventBufferDepth(std::wcstol(depth.c_str(), nullptr, 10));
        return true;
    }
    bool setMemManager(void* memory) override
    {
        Record(L"setMemManager");
        m_memory = static_cast<IMemoryManager*>(memory);
        return !Failing(L"setMemManager") && m_memory;
    }
    long GetInfo() override { return 2000; }
    void Done() override { Record(L"Done"); }

    // --- ILanguageExtenderBase
    bool RegisterExtensionAs(WCHAR_T** name) override
    {
        *name = Copy(L"FakeExtension");
        return *name != nullptr;
    }
    long GetNProps() override { return PropCount; }
    long FindProp(const WCHAR_T* name) override
    {
        for (long i = 0; i < PropCount; ++i)
            if (std::wcscmp(name, Props[i]) == 0)
                return i;
        return -1;
    }
    const WCHAR_T* GetPropName(long number, long alias) override
    {
        if (number < 0 || number >= PropCount || alias < 0 || alias > 1)
            return nullptr;
        return Copy(((alias ? L"Ru" : L"") + std::wstring(Props[number])).c_str());
    }
    bool GetPropVal(const long number, tVariant* value) override
    {
        std::memset(value, 0, sizeof(*value));
        if (number == 0)
            return SetText(*value, m_port);
        if (number == 1) {
            value->vt = VTYPE_I4;
            value->i32Val = m_status;
            return true;
        }
        return false;
    }
    bool SetPropVal(const long number, tVariant* value) override
    {
        Record(L"SetPropVal " + std::wstring(number >= 0 && number < PropCount ? Props[number] : L"?") + L" " +
               Describe(*value));
        if (number == 0) {
            if (value->vt != VTYPE_PWSTR)
                return false;
            if (TextOf(*value) == L"BAD") {
                m_connection->AddError(1004, L"Parvel", L"Port refused.", static_cast<long>(0x80040203));
                return false;
            }
            m_port = TextOf(*value);
            return true;
        }
        if (number == 1 && IsInteger(*value)) {
            m_status = value->i32Val;
            return true;
        }
        return false;
    }
    bool IsPropReadable(const long number) override { return number >= 0 && number < PropCount; }
    bool IsPropWritable(const long number) override { return number >= 0 && number < PropCount; }
    long GetNMethods() override { return MethodCount; }
    long FindMethod(const WCHAR_T* name) override
    {
        for (long i = 0; i < MethodCount; ++i)
            if (std::wcscmp(name, Methods[i].name) == 0 || (std::wstring(L"Ru") + Methods[i].name) == name)
                return i;
        return -1;
    }
    const WCHAR_T* GetMethodName(const long number, const long alias) override
    {
        if (number < 0 || number >= MethodCount || alias < 0 || alias > 1)
            return nullptr;
        return Copy(((alias ? L"Ru" : L"") + std::wstring(Methods[number].name)).c_str());
    }
    long GetNParams(const long method) override { return method >= 0 && method < MethodCount ? Methods[method].params : 0; }
    bool GetParamDefValue(const long method, const long param, tVariant* value) override
    {
        std::memset(value, 0, sizeof(*value));
        if (method == MLoadSettings && param == 0) {
            value->vt = VTYPE_UI4;
            value->ui32Val = 3;
            return true;
        }
        return false;
    }
    bool HasRetVal(const long method) override { return method >= 0 && method < MethodCount && Methods[method].returns; }
    bool CallAsProc(const long method, tVariant* params, const long count) override
    {
        return Call(L"CallAsProc", method, nullptr, params, count);
    }
    bool CallAsFunc(const long method, tVariant* result, tVariant* params, const long count) override
    {
        return Call(L"CallAsFunc", method, result, params, count);
    }

    // --- LocaleBase
    void SetLocale(const WCHAR_T* locale) override { Record(L"SetLocale " + std::wstring(locale ? locale : L"(null)")); }

private:
    WCHAR_T* Copy(const wchar_t* text)
    {
        void* block = nullptr;
        size_t bytes = (std::wcslen(text) + 1) * sizeof(WCHAR_T);
        if (!m_memory || !m_memory->AllocMemory(&block, static_cast<unsigned long>(bytes)))
            return nullptr;
        std::memcpy(block, text, bytes);
        return static_cast<WCHAR_T*>(block);
    }

    // Replaces a variant's value by a text, freeing a text it held (out parameters).
    bool SetText(tVariant& v, const std::wstring& text)
    {
        Free(v);
        WCHAR_T* copy = Copy(text.c_str());
        if (!copy)
            return false;
        v.vt = VTYPE_PWSTR;
        v.wstr.ptr = copy;
        v.wstr.len = static_cast<uint32_t>(text.size());
        return true;
    }

    void Free(tVariant& v)
    {
        if ((v.vt == VTYPE_PWSTR || v.vt == VTYPE_PSTR || v.vt == VTYPE_BLOB) && v.bytes.ptr) {
            void* block = v.bytes.ptr;
            m_memory->FreeMemory(&block);
        }
        std::memset(&v, 0, sizeof(v));
    }

    static void SetBool(tVariant* v, bool value)
    {
        if (!v)
            return;
        v->vt = VTYPE_BOOL;
        v->bVal = value;
    }
    static void SetI4(tVariant& v, int32_t value)
    {
        v.vt = VTYPE_I4;
        v.i32Val = value;
    }

    // The add-in's rule for the format methods: integers for I4/UI4 slots, exact PWSTR, NULL where allowed.
    bool CheckFormatArgs(const tVariant* p, unsigned nullMask)
    {
        static const TYPEVAR expected[7] = {VTYPE_I4, VTYPE_PWSTR, VTYPE_PWSTR, VTYPE_PWSTR, VTYPE_UI4, VTYPE_I4, VTYPE_PWSTR};
        for (int i = 0; i < 7; ++i) {
            bool ok = p[i].vt == VTYPE_NULL ? (nullMask >> i & 1) != 0
                    : expected[i] == VTYPE_PWSTR ? p[i].vt == VTYPE_PWSTR : IsInteger(p[i]);
            if (!ok) {
                m_lastErrorCode = static_cast<int32_t>(0x80040202);
                m_lastErrorText = L"Invalid parameter type.";
                return false;
            }
        }
        return true;
    }

    bool Call(const wchar_t* how, long method, tVariant* result, tVariant* p, long count)
    {
        std::wstring line = std::wstring(how) + L" " + (method >= 0 && method < MethodCount ? Methods[method].name : L"?");
        for (long i = 0; i < count && p; ++i)
            line += (i ? L"," : L" ") + Describe(p[i]);
        Record(line);
        if (method < 0 || method >= MethodCount || count < Methods[method].params || (count > 0 && !p))
            return false;
        switch (method) {
        case MGetVersion:
            return result && SetText(*result, L"9.8.7");
        case MGetLastError:
            SetText(p[0], m_lastErrorText);
            if (result)
                SetI4(*result, m_lastErrorCode);
            return true;
        case MSetParameter:
            SetBool(result, p[0].vt == VTYPE_PWSTR && p[1].vt == VTYPE_PWSTR);
            return true;
        case MOpen:
            if (m_port == L"FAILOPEN") {
                SetBool(result, false);
                return true;
            }
            SetText(p[0], m_port);
            SetBool(result, true);
            return true;
        case MClose:
            if (p[0].vt != VTYPE_PWSTR)
                return false;
            SetBool(result, TextOf(p[0]) != L"BUSY");
            return true;
        case MGetStatus:
            if (p[0].vt != VTYPE_PWSTR || !result)
                return false;
            SetI4(*result, m_status);
            return true;
        case MReconnect:
            SetBool(result, p[0].vt == VTYPE_PWSTR);
            return true;
        case MLoadSettings:
            return true;
        case MFindFormat: {
            if (p[0].vt != VTYPE_PWSTR || !result)
                return false;
            int32_t found = -1;
            for (size_t i = 0; i < m_formats.size(); ++i)
                if (m_formats[i] == TextOf(p[0]))
                    found = static_cast<int32_t>(i);
            SetI4(*result, found);
            return true;
        }
        case MDeleteFormat: {
            bool ok = IsInteger(p[0]) && p[0].i32Val >= 0 && p[0].i32Val < static_cast<int32_t>(m_formats.size());
            if (ok)
                m_formats.erase(m_formats.begin() + p[0].i32Val);
            SetBool(result, ok);
            return true;
        }
        case MInsertFormat: {
            if (!CheckFormatArgs(p, 1u << 6)) {
                SetBool(result, false);
                return true;
            }
            int32_t index = p[0].i32Val;
            if (index < 0 || index > static_cast<int32_t>(m_formats.size()))
                index = static_cast<int32_t>(m_formats.size());
            m_formats.insert(m_formats.begin() + index, TextOf(p[1]));
            SetI4(p[0], index);
            SetBool(result, true);
            return true;
        }
        case MSetFormat: {
            bool ok = CheckFormatArgs(p, 0x7E) && p[0].i32Val >= 0 && p[0].i32Val < static_cast<int32_t>(m_formats.size());
            SetBool(result, ok);
            return true;
        }
        case MCheckFormat: {
            if (p[0].vt != VTYPE_PWSTR || p[1].vt != VTYPE_PWSTR) {
                SetBool(result, false);
                return true;
            }
            size_t bad = TextOf(p[0]).find(L'?');
            if (bad != std::wstring::npos) {
                Free(p[2]);
                SetI4(p[2], static_cast<int32_t>(bad));
            }
            SetBool(result, bad == std::wstring::npos);
            return true;
        }
        case MFail:
            if (m_connection)
                m_connection->AddError(static_cast<unsigned short>(IsInteger(p[0]) ? p[0].i32Val : 1004), L"Parvel",
                                       L"Fake failure.", static_cast<long>(0x80004005));
            return false;
        case MEcho:
            if (result) {
                // The result gets values of its own; a text is copied, other owned values dropped.
                std::memset(result, 0, sizeof(*result));
                if (p[0].vt == VTYPE_PWSTR) {
                    if (!SetText(*result, TextOf(p[0])))
                        return false;
                } else if (p[0].vt != VTYPE_PSTR && p[0].vt != VTYPE_BLOB) {
                    *result = p[0];
                }
            }
            // The parameter's own value is freed and replaced, as out parameters are.
            SetText(p[0], L"replaced");
            return true;
        case MRaiseEvent: {
            std::wstring source = TextOf(p[0]), message = TextOf(p[1]), data = TextOf(p[2]);
            SetBool(result, m_connection &&
                                m_connection->ExternalEvent(&source[0], &message[0], &data[0]));
            return true;
        }
        default:
            return false;
        }
    }

    IAddInDefBase* m_connection = nullptr;
    IMemoryManager* m_memory = nullptr;
    std::wstring m_port = L"COM1";
    int32_t m_status = 3;
    std::vector<std::wstring> m_formats;
    std::wstring m_lastErrorText;
    int32_t m_lastErrorCode = 0;
};

std::wstring ClassNames;

} // namespace

extern "C" {

long GetClassObject(const WCHAR_T* className, IComponentBase** component)
{
    Record(L"GetClassObject " + std::wstring(className ? className : L"(null)"));
    if (!component || *component || Failing(L"GetClassObject"))
        return 0;
    *component = new CFakeComponent();
    return 1;
}

long DestroyObject(IComponentBase** component)
{
    Record(L"DestroyObject");
    if (!component || !*component)
        return -1;
    delete static_cast<CFakeComponent*>(*component);
    *component = nullptr;
    return 0;
}

const WCHAR_T* GetClassNames()
{
    Record(L"GetClassNames");
    ClassNames = Env(L"FAKEADDIN_CLASSES");
    if (ClassNames.empty())
        ClassNames = L"ParvelExtension|FakeSecond";
    return ClassNames.c_str();
}

AppCapabilities SetPlatformCapabilities(const AppCapabilities capabilities)
{
    Record(L"SetPlatformCapabilities " + std::to_wstring(static_cast<int>(capabilities)));
    return AppCapabilitiesVersion1;
}

} // extern "C"
