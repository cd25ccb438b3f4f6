// Calls into the component by method or property name, the wrappers of the add-in's methods that
// the configurator uses, and the list of devices the test bench opened.
//
// Argument arrays follow one layout: item 0 receives the return value, items 1..n the parameters,
// whose types are the ones the add-in's argument checks accept.
#include "TestHost.h"
#include "ResText.h"
#include "TestbenchStrings.h"
#include "VariantHelpers.h"
#include "WFormat.h"
#include <algorithm>

const wchar_t TestFormatName[] = L"FormatTemp";

namespace {

bool BoolResult(const tVariant& v)
{
    return v.vt == VTYPE_BOOL && v.ui8Val != 0;
}

// The value of an integer-typed variant as 32 bits; `otherwise` for any other type.
int32_t IntResult(const tVariant& v, int32_t otherwise)
{
    switch (v.vt) {
    case VTYPE_I1: return v.i8Val;
    case VTYPE_I2: return v.i16Val;
    case VTYPE_UI1: return v.ui8Val;
    case VTYPE_UI2: return v.ui16Val;
    case VTYPE_I4:
    case VTYPE_INT:
    case VTYPE_ERROR:
    case VTYPE_HRESULT:
    case VTYPE_UI4:
    case VTYPE_UINT:
    case VTYPE_I8:
    case VTYPE_UI8: return v.i32Val;
    default: return otherwise;
    }
}

std::wstring TextOf(const tVariant& v)
{
    if (v.vt != VTYPE_PWSTR || !v.wstr.ptr)
        return std::wstring();
    return std::wstring(v.wstr.ptr, v.wstr.len);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Calls by name

long CTestParvel::FindMethodOrThrow(const wchar_t* method)
{
    // Without a component no method can be found either.
    const long number = m_component ? Extender()->FindMethod(method) : -1;
    if (number < 0) {
        std::wstring text;
        FormatResString(text, IDS_TEST_METHOD_NOT_FOUND, method);
        ThrowTestError(text.c_str());
    }
    return number;
}

void CTestParvel::ThrowCallFailed(const wchar_t* method)
{
    std::wstring text;
    FormatResString(text, IDS_TEST_CALL_FAILED, method);
    if (LastErrorCode() != 0)
        text += L" " + LastErrorDescription();
    ThrowTestError(text.c_str());
}

void CTestParvel::CallAsProc(const wchar_t* method, tVariant* params, long count)
{
    const long number = FindMethodOrThrow(method);
    {
        CritSecLock lock(m_queueLock);
        m_lastErrorCode = 0;
    }
    if (!Extender()->CallAsProc(number, params, count))
        ThrowCallFailed(method);
}

bool CTestParvel::CallAsFunc(const wchar_t* method, tVariant* result, tVariant* params, long count)
{
    const long number = FindMethodOrThrow(method);
    {
        CritSecLock lock(m_queueLock);
        m_lastErrorCode = 0;
    }
    if (!Extender()->CallAsFunc(number, result, params, count))
        ThrowCallFailed(method);
    return true;
}

void CTestParvel::SetPort(tVariant* value)
{
    SetProperty(L"Port", value);
}

std::wstring CTestParvel::GetPort()
{
    const long number = m_component ? Extender()->FindProp(L"Port") : -1;
    if (number < 0) {
        std::wstring text;
        FormatResString(text, IDS_TEST_PROP_NOT_FOUND, L"Port");
        ThrowTestError(text.c_str());
    }
    CVariantArray value(1, this);
    if (!Extender()->GetPropVal(number, &value[0]) || value[0].vt != VTYPE_PWSTR || !value[0].wstr.ptr)
        return std::wstring();
    return std::wstring(value[0].wstr.ptr, value[0].wstr.len);
}

void CTestParvel::SetProperty(const wchar_t* name, tVariant* value)
{
    const long number = m_component ? Extender()->FindProp(name) : -1;
    if (number < 0) {
        std::wstring text;
        FormatResString(text, IDS_TEST_PROP_NOT_FOUND, name);
        ThrowTestError(text.c_str());
    }
    SetPropertyAt(number, name, value);
}

void CTestParvel::SetPropertyAt(long number, const wchar_t* name, tVariant* value)
{
    {
        CritSecLock lock(m_queueLock);
        m_lastErrorCode = 0;
    }
    if (Extender()->SetPropVal(number, value))
        return;
    std::wstring valueText;
    switch (value ? static_cast<int>(value->vt) : static_cast<int>(VTYPE_EMPTY)) {
    case VTYPE_I4:
    case VTYPE_UI4:
        FormatString(valueText, L"%d", static_cast<int>(value->i32Val));
        break;
    case VTYPE_BOOL:
        valueText = value->ui8Val ? L"true" : L"false";
        break;
    default:
        valueText = L"???";
        break;
    }
    std::wstring text;
    FormatResString(text, IDS_TEST_SET_PROP_FAILED, name, valueText.c_str());
    if (LastErrorCode() != 0)
        text += L" " + LastErrorDescription();
    ThrowTestError(text.c_str());
}

void CTestParvel::GetPropName(std::wstring& out, long number, long alias)
{
    out.clear();
    if (!m_component)
        return;
    const WCHAR_T* name = Extender()->GetPropName(number, alias);
    if (!name)
        return;
    out = name;
    void* block = const_cast<WCHAR_T*>(name);
    FreeMemory(&block);
}

void CTestParvel::GetMethodName(std::wstring& out, long number, long alias)
{
    out.clear();
    if (!m_component)
        return;
    const WCHAR_T* name = Extender()->GetMethodName(number, alias);
    if (!name)
        return;
    out = name;
    void* block = const_cast<WCHAR_T*>(name);
    FreeMemory(&block);
}

// ---------------------------------------------------------------------------------------------
// Wrappers

bool CTestParvel::IsConnected()
{
    if (!m_component || m_devices.empty())
        return false;
    CVariantArray args(2, this);
    args.SetWStr(1, m_devices.front().c_str());
    CallAsFunc(L"GetStatus", &args[0], &args[1], 1);
    return args[0].vt == VTYPE_I4 && args[0].i32Val == 3;
}

int32_t CTestParvel::GetLastError(std::wstring& text)
{
    CVariantArray args(2, this);
    CallAsFunc(L"GetLastError", &args[0], &args[1], 1);
    if (args[1].vt == VTYPE_PWSTR)
        text = TextOf(args[1]);
    return IntResult(args[0], 0);
}

bool CTestParvel::SetParameter(const wchar_t* name, const wchar_t* value)
{
    CVariantArray args(3, this);
    args.SetWStr(1, name);
    args.SetWStr(2, value);
    CallAsFunc(L"SetParameter", &args[0], &args[1], 2);
    return BoolResult(args[0]);
}

bool CTestParvel::Open(std::wstring& device)
{
    CVariantArray args(2, this);
    CallAsFunc(L"Open", &args[0], &args[1], 1);
    if (!BoolResult(args[0]))
        return false;
    device = TextOf(args[1]);
    if (std::find(m_devices.begin(), m_devices.end(), device) == m_devices.end()) {
        m_devices.push_back(device);
        Notify(ListenDevices);
    }
    return true;
}

bool CTestParvel::Close(const std::wstring& device)
{
    CVariantArray args(2, this);
    args.SetWStr(1, device.c_str(), static_cast<int>(device.size()));
    CallAsFunc(L"Close", &args[0], &args[1], 1);
    if (!BoolResult(args[0]))
        return false;
    auto it = std::find(m_devices.begin(), m_devices.end(), device);
    if (it != m_devices.end()) {
        m_devices.erase(it);
        Notify(ListenDevices);
    }
    return true;
}

void CTestParvel::CloseAll()
{
    while (!m_devices.empty()) {
        const std::wstring device = m_devices.back();
        Close(device);
        // Whether the add-in closed it or not, the test bench is done with it.
        auto it = std::find(m_devices.begin(), m_devices.end(), device);
        if (it != m_devices.end())
            m_devices.erase(it);
    }
    Notify(ListenDevices);
}

bool CTestParvel::Reconnect(const std::wstring& device)
{
    CVariantArray args(2, this);
    args.SetWStr(1, device.c_str(), static_cast<int>(device.size()));
    CallAsFunc(L"Reconnect", &args[0], &args[1], 1);
    return BoolResult(args[0]);
}

void CTestParvel::LoadSettings()
{
    // Main values, lists and formats.
    CVariantArray args(1, this);
    args.SetUI4(0, 3);
    CallAsProc(L"LoadSettings", &args[0], 1);
    Notify(ListenComponent);
}

int32_t CTestParvel::FindFormat(const wchar_t* name)
{
    CVariantArray args(2, this);
    args.SetI4(0, -1);
    args.SetWStr(1, name);
    CallAsFunc(L"FindFormat", &args[0], &args[1], 1);
    return IntResult(args[0], -1);
}

bool CTestParvel::DeleteFormat(int32_t index)
{
    CVariantArray args(2, this);
    args.SetI4(1, index);
    CallAsFunc(L"DeleteFormat", &args[0], &args[1], 1);
    return BoolResult(args[0]);
}

void CTestParvel::FillFormatArgs(CVariantArray& args, int32_t index, const wchar_t* name,
                                 const wchar_t* formatTemplate, const wchar_t* params, uint32_t keyTypes,
                                 int32_t keySize)
{
    args.SetI4(1, index);
    args.SetWStr(2, name);
    args.SetWStr(3, formatTemplate);
    args.SetWStr(4, params);
    args.SetUI4(5, keyTypes);
    args.SetI4(6, keySize);
    // No comment: the add-in takes NULL here, an empty variant would fail its type check.
    args.SetNull(7);
}

bool CTestParvel::InsertFormat(int32_t& index, const wchar_t* formatTemplate, const wchar_t* params,
                               uint32_t keyTypes, int32_t keySize, const wchar_t* name)
{
    CVariantArray args(8, this);
    FillFormatArgs(args, index, name, formatTemplate, params, keyTypes, keySize);
    CallAsFunc(L"InsertFormat", &args[0], &args[1], 7);
    if (!BoolResult(args[0]))
        return false;
    index = IntResult(args[1], index);
    return true;
}

bool CTestParvel::SetFormat(int32_t index, const wchar_t* formatTemplate, const wchar_t* params,
                            uint32_t keyTypes, int32_t keySize, const wchar_t* name)
{
    CVariantArray args(8, this);
    FillFormatArgs(args, index, name, formatTemplate, params, keyTypes, keySize);
    CallAsFunc(L"SetFormat", &args[0], &args[1], 7);
    return BoolResult(args[0]);
}

bool CTestParvel::CheckFormat(const wchar_t* formatTemplate, const wchar_t* params, int32_t& errorPosition)
{
    CVariantArray args(4, this);
    args.SetWStr(1, formatTemplate);
    args.SetWStr(2, params);
    CallAsFunc(L"CheckFormat", &args[0], &args[1], 3);
    errorPosition = args[3].vt == VTYPE_I4 ? args[3].i32Val : -1;
    return BoolResult(args[0]);
}
