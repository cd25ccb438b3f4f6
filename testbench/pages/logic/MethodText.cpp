// The method dialogs' texts and conversions.
#include "MethodText.h"
#include "BenchStrings.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "NumberText.h"
#include "ResText.h"
#include "SearchOutput.h"
#include "VariantHelpers.h"
#include "WFormat.h"
#include <cwchar>

const wchar_t* TypeName(uint32_t type, const wchar_t* other)
{
    return type < static_cast<uint32_t>(VariantTypeCount) ? VariantTypeNames[type] : other;
}

void DefaultArgumentText(const tVariant& value, uint16_t& type, std::wstring& text)
{
    type = value.vt;
    text.clear();
    switch (value.vt) {
    case VTYPE_I2:
        FormatString(text, L"%d", static_cast<int>(value.i16Val));
        break;
    case VTYPE_UI2:
        FormatString(text, L"%u", static_cast<unsigned>(value.ui16Val));
        break;
    case VTYPE_I4:
    case VTYPE_UI4:
        FormatString(text, L"%d", value.i32Val);
        break;
    case VTYPE_BOOL:
        text = value.bVal ? L"1" : L"0";
        break;
    case VTYPE_I8:
    case VTYPE_UI8:
        FormatString(text, L"%lld", static_cast<long long>(value.i64Val));
        break;
    case VTYPE_PWSTR:
        if (value.wstr.ptr)
            text.assign(value.wstr.ptr, value.wstr.len);
        break;
    case VTYPE_BLOB:
        for (uint32_t i = 0; value.bytes.ptr && i < value.bytes.len; ++i)
            AppendFormat(text, L"%.2X", static_cast<unsigned>(static_cast<uint8_t>(value.bytes.ptr[i])));
        break;
    default:
        break;
    }
}

std::wstring DefaultParamsText(const std::vector<ParamDefault>& defaults)
{
    std::wstring text;
    for (const ParamDefault& d : defaults)
        AppendFormat(text, L"%d=%s(%s), ", d.index, d.text.c_str(), TypeName(d.type, L"?"));
    if (!text.empty())
        text.resize(text.size() - 2);
    return text;
}

int ArgEditorKind(uint32_t type)
{
    switch (type) {
    case VTYPE_I4:
    case VTYPE_UI4:
    case VTYPE_HRESULT:
        return 2;
    case VTYPE_BOOL:
        return 1;
    case VTYPE_I8:
    case VTYPE_UI8:
        return 3;
    case VTYPE_PWSTR:
    case VTYPE_BLOB:
        return 4;
    default:
        return 0;
    }
}

std::wstring ArgNumberForEditor(int kind, const std::wstring& value, bool hex)
{
    const long long number = _wcstoi64(value.c_str(), nullptr, 10);
    // A 32-bit editor shows the 32 bits: -1 is 0xFFFFFFFF there, which its hexadecimal scan can
    // read back, where sixteen digits could not.
    if (kind == 2)
        return FormatNumber32(static_cast<uint32_t>(number), hex);
    return FormatNumber64(static_cast<uint64_t>(number), hex);
}

bool ArgNumberFromEditor(uint16_t type, const std::wstring& editText, bool& hex, bool& modeChanged, std::wstring& value)
{
    const bool textHex = NumberTextIsHex(editText);
    modeChanged = textHex != hex;
    hex = textHex;
    const NumberType numberType = NumberTypeOf(type);
    uint64_t v;
    if (!ParseTypedNumber(editText, hex, numberType, v))
        return false;
    if (numberType.bits == 32)
        FormatString(value, L"%d", static_cast<int32_t>(static_cast<uint32_t>(v)));
    else
        FormatString(value, L"%lld", static_cast<long long>(v));
    return true;
}

bool IsBlobText(const std::wstring& text)
{
    size_t digits = 0;
    for (wchar_t c : text) {
        if (c == L' ')
            continue;
        if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f')))
            return false;
        ++digits;
    }
    return digits % 2 == 0;
}

std::wstring OutputLine(const SYSTEMTIME& time, const std::wstring& text)
{
    std::wstring line;
    FormatString(line, L"%.2d:%.2d:%.2d.%3d %s\r\n", time.wHour, time.wMinute, time.wSecond, time.wMilliseconds,
                 text.c_str());
    return line;
}

std::vector<std::wstring> ExecuteResultLines(bool hasReturn, const tVariant& result, const tVariant* params,
                                             long count, const CTestParvel* host)
{
    std::vector<std::wstring> lines;
    lines.push_back(LoadResString(IDS_SUCCESSFULLY));
    std::wstring value, line;
    if (hasReturn) {
        FormatVariant(value, result, host);
        FormatResString(line, IDS_METHOD_RESULT, TypeName(result.vt, L""), value.c_str());
        lines.push_back(line);
    }
    if (count >= 1) {
        lines.push_back(LoadResString(IDS_METHOD_OUTPUT_VALUES));
        for (long i = 0; i < count; ++i) {
            FormatVariant(value, params[i], host);
            // An error text handed out (GetLastError's) ends with a line break inside the quotes.
            value = TrimLineBreaks(value);
            FormatString(line, L"[%d] (%s): \"%s\"", static_cast<int>(i), TypeName(params[i].vt, L""), value.c_str());
            lines.push_back(line);
        }
    }
    return lines;
}

std::wstring ErrorTextForOutput(const char* what)
{
    std::wstring text;
    AnsiToWide(text, what ? what : "");
    return TrimLineBreaks(text);
}

std::wstring ErrorTextForOutput(const std::exception& e)
{
    return TrimLineBreaks(ExceptionMessage(e));
}
