// Parsing and showing the editors' numbers.
#include "NumberText.h"
#include "WFormat.h"
#include <cwctype>

namespace {

size_t SkipBlanks(const std::wstring& text, size_t i)
{
    while (i < text.size() && std::iswspace(text[i]))
        ++i;
    return i;
}

// Digits in the base up to the end of the text (trailing blanks allowed); false on anything else,
// on no digit at all, or when the magnitude passes limit.
bool ParseMagnitude(const std::wstring& text, size_t i, unsigned base, uint64_t limit, uint64_t& out)
{
    uint64_t value = 0;
    size_t digits = 0;
    for (; i < text.size(); ++i) {
        const wchar_t c = text[i];
        unsigned d;
        if (c >= L'0' && c <= L'9')
            d = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f')
            d = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F')
            d = c - L'A' + 10;
        else
            break;
        if (value > (limit - d) / base)
            return false;
        value = value * base + d;
        ++digits;
    }
    if (SkipBlanks(text, i) != text.size() || digits == 0)
        return false;
    out = value;
    return true;
}

bool ParseNumber(const std::wstring& text, bool hex, uint64_t positiveLimit, uint64_t negativeLimit,
                 uint64_t& value)
{
    size_t i = SkipBlanks(text, 0);
    if (hex) {
        if (NumberTextIsHex(text))
            i += 2;
        return ParseMagnitude(text, i, 16, positiveLimit, value);
    }
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+'))
        negative = text[i++] == L'-';
    uint64_t magnitude;
    if (!ParseMagnitude(text, i, 10, negative ? negativeLimit : positiveLimit, magnitude))
        return false;
    value = negative ? 0 - magnitude : magnitude;
    return true;
}

// The bits of a value of the type.
uint64_t AllBits(NumberType type)
{
    return type.bits == 64 ? ~0ull : 0xFFFFFFFFull;
}

} // namespace

bool NumberTextIsHex(const std::wstring& text)
{
    const size_t i = SkipBlanks(text, 0);
    return i + 1 < text.size() && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X');
}

NumberType NumberTypeOf(uint16_t variantType)
{
    switch (variantType) {
    case VTYPE_I8: return {64, true};
    case VTYPE_UI8: return {64, false};
    case VTYPE_I4: return {32, true};
    default: return {32, false};
    }
}

bool ParseTypedNumber(const std::wstring& text, bool hex, NumberType type, uint64_t& value)
{
    const uint64_t all = AllBits(type);
    const uint64_t signBit = all / 2 + 1;
    uint64_t v;
    if (!ParseNumber(text, hex, hex || !type.isSigned ? all : signBit - 1, signBit, v))
        return false;
    value = v & all;
    return true;
}

void NumberTypeRange(NumberType type, std::wstring& min, std::wstring& max)
{
    const uint64_t top = type.isSigned ? AllBits(type) / 2 : AllBits(type);
    FormatString(max, L"%llu", static_cast<unsigned long long>(top));
    if (type.isSigned)
        FormatString(min, L"-%llu", static_cast<unsigned long long>(top + 1));
    else
        min = L"0";
}

std::wstring FormatNumber32(uint32_t value, bool hex)
{
    std::wstring out;
    if (hex)
        FormatString(out, L"0x%.8X", value);
    else
        FormatString(out, L"%d", static_cast<int32_t>(value));
    return out;
}

std::wstring FormatNumber64(uint64_t value, bool hex)
{
    std::wstring out;
    if (hex)
        FormatString(out, L"0x%.8llX", value);
    else
        FormatString(out, L"%lld", static_cast<long long>(value));
    return out;
}
