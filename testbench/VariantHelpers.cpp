// Variant argument arrays, parsing of typed texts into variants and display texts of variants.
#include "VariantHelpers.h"
#include "CodePage.h"
#include "ResText.h"
#include "TestHost.h"
#include "WFormat.h"
#include <windows.h>
#include <oleauto.h>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <new>
#include <vector>

const wchar_t* const VariantTypeNames[VariantTypeCount] = {
    L"EMPTY", L"NULL",    L"I2",   L"I4",      L"R4",     L"R8",  L"DATE", L"TM",   L"PSTR",
    L"INTERFACE", L"ERROR", L"BOOL", L"VARIANT", L"I1",  L"UI1", L"UI2",  L"UI4",  L"I8",
    L"UI8",  L"INT",      L"UINT", L"HRESULT", L"PWSTR", L"BLOB", L"CLSID",
};

namespace {

bool OwnsPointer(const tVariant& v)
{
    return v.vt == VTYPE_PSTR || v.vt == VTYPE_PWSTR || v.vt == VTYPE_BLOB;
}

// One hexadecimal digit as the BLOB text reads it: digits and "A"-"F" as usual, any other
// character as its code minus 87 (which makes "a"-"f" 10-15); only the low four bits count.
unsigned HexDigitValue(wchar_t c)
{
    int value;
    if (c >= L'0' && c <= L'9')
        value = c - L'0';
    else if (c >= L'A' && c <= L'F')
        value = c - L'A' + 10;
    else
        value = static_cast<int>(c) - 87;
    return static_cast<unsigned>(value) & 0xF;
}

void AppendHexBytes(std::wstring& out, const unsigned char* bytes, size_t count)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xF];
    }
}

// "%x" of a broken-down time; empty when the runtime cannot format it.
void FormatDate(std::wstring& out, const struct tm& when)
{
    wchar_t buffer[128];
    size_t n = wcsftime(buffer, sizeof(buffer) / sizeof(buffer[0]), L"%x", &when);
    out.assign(buffer, n);
}

} // namespace

CVariantArray::CVariantArray(long long count, IMemoryManager* memory) : m_memory(memory)
{
    if (count > 0) {
        m_items = new tVariant[static_cast<size_t>(count)];
        std::memset(m_items, 0, sizeof(tVariant) * static_cast<size_t>(count));
        m_count = count;
    }
}

CVariantArray::~CVariantArray()
{
    if (!m_items)
        return;
    for (long long i = 0; i < m_count; ++i)
        Release(i);
    delete[] m_items;
}

void CVariantArray::Release(long long index)
{
    tVariant& v = m_items[index];
    // A pointer the memory manager did not hand out cannot be returned to it; with no manager
    // there is nothing sound to do but forget it.
    if (OwnsPointer(v) && v.bytes.ptr && m_memory) {
        void* block = v.bytes.ptr;
        m_memory->FreeMemory(&block);
    }
    std::memset(&v, 0, sizeof(v));
}

void CVariantArray::SetWStr(long long index, const wchar_t* text, int length)
{
    Release(index);
    if (!text)
        text = L"";
    size_t n = length < 0 ? std::wcslen(text) : static_cast<size_t>(length);
    void* block = nullptr;
    if (!m_memory || !m_memory->AllocMemory(&block, static_cast<unsigned long>((n + 1) * sizeof(WCHAR_T))) ||
        !block)
        throw std::bad_alloc();
    WCHAR_T* copy = static_cast<WCHAR_T*>(block);
    std::memcpy(copy, text, n * sizeof(WCHAR_T));
    copy[n] = 0;
    tVariant& v = m_items[index];
    v.wstr.ptr = copy;
    v.wstr.len = static_cast<uint32_t>(n);
    v.vt = VTYPE_PWSTR;
}

void CVariantArray::SetI4(long long index, int32_t value)
{
    Release(index);
    m_items[index].i32Val = value;
    m_items[index].vt = VTYPE_I4;
}

void CVariantArray::SetUI4(long long index, uint32_t value)
{
    Release(index);
    m_items[index].ui32Val = value;
    m_items[index].vt = VTYPE_UI4;
}

void CVariantArray::SetBool(long long index, int value)
{
    Release(index);
    m_items[index].bVal = value != 0;
    m_items[index].vt = VTYPE_BOOL;
}

void CVariantArray::SetNull(long long index)
{
    Release(index);
    m_items[index].vt = VTYPE_NULL;
}

void CVariantArray::Parse(long long index, int type, const wchar_t* text)
{
    if (!text)
        text = L"";
    tVariant& v = m_items[index];
    switch (type) {
    case VTYPE_NULL:
        SetNull(index);
        break;
    case VTYPE_I2:
    case VTYPE_I4:
        SetI4(index, _wtoi(text));
        break;
    case VTYPE_BOOL:
        SetBool(index, !(text[0] == L'0' && text[1] == 0));
        break;
    case VTYPE_UI2:
    case VTYPE_UI4:
        SetUI4(index, static_cast<uint32_t>(std::wcstoul(text, nullptr, 10)));
        break;
    case VTYPE_I8:
        Release(index);
        v.i64Val = _wcstoi64(text, nullptr, 10);
        v.vt = VTYPE_I8;
        break;
    case VTYPE_UI8:
        Release(index);
        v.ui64Val = _wcstoui64(text, nullptr, 10);
        v.vt = VTYPE_UI8;
        break;
    case VTYPE_PWSTR:
        SetWStr(index, text, -1);
        break;
    case VTYPE_BLOB: {
        Release(index);
        std::wstring digits;
        for (const wchar_t* p = text; *p; ++p)
            if (*p != L' ')
                digits += *p;
        std::vector<unsigned char> bytes(digits.size() / 2);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<unsigned char>((HexDigitValue(digits[2 * i]) << 4) |
                                                  HexDigitValue(digits[2 * i + 1]));
        v.vt = VTYPE_BLOB;
        void* block = nullptr;
        if (!bytes.empty() && m_memory &&
            m_memory->AllocMemory(&block, static_cast<unsigned long>(bytes.size())) && block) {
            std::memcpy(block, bytes.data(), bytes.size());
            v.bytes.ptr = static_cast<char*>(block);
            v.bytes.len = static_cast<uint32_t>(bytes.size());
        }
        break;
    }
    default:
        break; // no text form: the item stays as it was
    }
}

void FormatVariant(std::wstring& out, const tVariant& v, const CTestParvel* host)
{
    out.clear();
    switch (v.vt) {
    case VTYPE_I2:
        FormatString(out, L"%d", static_cast<int>(v.i16Val));
        break;
    case VTYPE_I4:
    case VTYPE_INT:
        FormatString(out, L"%d", static_cast<int>(v.i32Val));
        break;
    case VTYPE_I1:
        FormatString(out, L"%d", static_cast<int>(v.i8Val));
        break;
    case VTYPE_R4:
    case VTYPE_R8: {
        char buffer[64];
        _gcvt(v.vt == VTYPE_R4 ? static_cast<double>(v.r4Val) : v.r8Val, 3, buffer);
        AnsiToWide(out, buffer);
        break;
    }
    case VTYPE_DATE: {
        UDATE date = {};
        if (FAILED(VarUdateFromDate(v.dateVal, 0, &date)))
            break;
        struct tm when = {};
        when.tm_sec = date.st.wSecond;
        when.tm_min = date.st.wMinute;
        when.tm_hour = date.st.wHour;
        when.tm_mday = date.st.wDay;
        when.tm_mon = date.st.wMonth - 1;
        when.tm_year = date.st.wYear - 1900;
        when.tm_wday = date.st.wDayOfWeek;
        when.tm_yday = date.wDayOfYear - 1;
        when.tm_isdst = 0;
        FormatDate(out, when);
        break;
    }
    case VTYPE_TM:
        FormatDate(out, v.tmVal);
        break;
    case VTYPE_PSTR:
        // A null text with a non-zero length is a broken value, shown as no text.
        if (v.bytes.ptr)
            AnsiToWide(out, v.bytes.ptr, static_cast<int>(v.bytes.len));
        break;
    case VTYPE_INTERFACE:
        FormatString(out, L"%p", v.iface.ptr);
        break;
    case VTYPE_BOOL:
        out = v.ui8Val != 0 ? L"true" : L"false";
        break;
    case VTYPE_UI1:
        FormatString(out, L"%d (0x%X)", static_cast<int>(v.ui8Val), static_cast<unsigned>(v.ui8Val));
        break;
    case VTYPE_UI2:
        FormatString(out, L"%d (0x%X)", static_cast<int>(v.ui16Val), static_cast<unsigned>(v.ui16Val));
        break;
    case VTYPE_UI4:
    case VTYPE_UINT:
        FormatString(out, L"%d (0x%X)", static_cast<int>(v.ui32Val), static_cast<unsigned>(v.ui32Val));
        break;
    case VTYPE_I8:
        FormatString(out, L"%I64d", static_cast<long long>(v.i64Val));
        break;
    case VTYPE_UI8:
        FormatString(out, L"%I64d (0x%I64X)", static_cast<long long>(v.ui64Val),
                     static_cast<unsigned long long>(v.ui64Val));
        break;
    case VTYPE_HRESULT: {
        std::wstring text;
        if (host)
            GetErrorText(text, host->Library(), static_cast<DWORD>(v.hresVal));
        FormatString(out, L"0x%X: \"%s\"", static_cast<unsigned>(v.hresVal), text.c_str());
        break;
    }
    case VTYPE_PWSTR:
        if (v.wstr.ptr)
            out.assign(v.wstr.ptr, v.wstr.len);
        break;
    case VTYPE_BLOB:
        if (!v.bytes.ptr && v.bytes.len != 0)
            break;
        FormatString(out, L"(%d){", static_cast<int>(v.bytes.len));
        AppendHexBytes(out, reinterpret_cast<const unsigned char*>(v.bytes.ptr), v.bytes.len);
        out += L'}';
        break;
    default:
        break; // EMPTY, NULL, ERROR, VARIANT, CLSID and unknown codes have no text
    }
}
