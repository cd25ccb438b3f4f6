// Backslash escapes of key-format templates.
#include "Unescape.h"
#include "Numbers.h"
#include <cwctype>

namespace {

bool IsDecimal(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsOctal(wchar_t c) { return c >= L'0' && c <= L'7'; }
bool IsHex(wchar_t c) { return HexDigitValue(c) >= 0; }

// Reads up to `most` digits accepted by `accept` from p; the value in `base`; p advances past them.
template <typename Accept>
bool ReadDigits(const wchar_t*& p, int most, int base, Accept accept, unsigned& value)
{
    value = 0;
    int n = 0;
    while (n < most && *p && accept(*p)) {
        value = value * base + HexDigitValue(*p);
        ++p;
        ++n;
    }
    return n > 0;
}

} // namespace

void UnescapeCText(std::wstring& out, const wchar_t* text)
{
    out.clear();
    if (!text)
        return;
    const wchar_t* p = text;
    while (*p) {
        wchar_t c = *p++;
        if (c != L'\\') {
            out += c;
            continue;
        }
        if (!*p)
            break; // a lone backslash at the end is dropped
        c = *p++;
        unsigned value = 0;
        switch (c) {
        case L'"': case L'\'': case L'?': case L'\\':
            out += c;
            break;
        case L'n': out += L'\n'; break;
        case L'r': out += L'\r'; break;
        case L't': out += L'\t'; break;
        case L'a': case L'b': case L'f': case L'v':
            break;
        case L'#':
            if (ReadDigits(p, 3, 10, IsDecimal, value))
                out += static_cast<wchar_t>(value);
            break;
        case L'$': case L'x':
            if (ReadDigits(p, 4, 16, IsHex, value))
                out += static_cast<wchar_t>(value);
            break;
        default:
            if (IsOctal(c)) {
                --p; // the digit after the backslash is the first of the octal number
                ReadDigits(p, 3, 8, IsOctal, value);
                out += static_cast<wchar_t>(value);
            } else {
                out += c; // 8, 9 and any other character stand for themselves
            }
            break;
        }
    }
}
