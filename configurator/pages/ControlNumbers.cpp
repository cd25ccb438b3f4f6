// Reading back the numbers of the pages' edit boxes, with or without thousands separators.
#include "ControlNumbers.h"
#include <cwctype>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == 0x00A0 || c == 0x202F; }
bool IsGroupSeparator(wchar_t c) { return c == L',' || c == L'.' || c == L'\'' || IsBlank(c); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// The reading itself: false where ParseControlNumber gives 0 for a text that is no number.
bool TryParse(const std::wstring& text, bool isSigned, int64_t& result)
{
    result = 0;
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    bool negative = false;
    if (begin < end && (text[begin] == L'-' || text[begin] == L'+'))
    {
        negative = text[begin] == L'-';
        if (negative && !isSigned)
            return false;
        ++begin;
    }
    if (begin == end || !IsDigit(text[begin]))
        return false;

    // Digits, where a separator is allowed only between digits and must be followed by exactly
    // three of them; once a separator appeared, every later group must be separated the same way.
    const int64_t limit = isSigned ? (negative ? 2147483648LL : 2147483647LL) : 4294967295LL;
    int64_t value = 0;
    int groupDigits = 0;
    bool grouped = false;
    wchar_t separator = 0;
    for (size_t i = begin; i < end; ++i)
    {
        wchar_t c = text[i];
        if (IsDigit(c))
        {
            value = value * 10 + (c - L'0');
            if (value > limit)
                return false;
            ++groupDigits;
            if (grouped && groupDigits > 3)
                return false;
            continue;
        }
        if (!IsGroupSeparator(c) || i + 1 >= end || !IsDigit(text[i + 1]))
            return false;
        if (grouped ? (groupDigits != 3 || c != separator) : groupDigits > 3)
            return false;
        grouped = true;
        separator = c;
        groupDigits = 0;
    }
    if (grouped && groupDigits != 3)
        return false;
    result = negative ? -value : value;
    return true;
}

} // namespace

int64_t ParseControlNumber(const std::wstring& text, bool isSigned)
{
    int64_t value = 0;
    return TryParse(text, isSigned, value) ? value : 0;
}

bool ReadControlNumber(const std::wstring& text, int64_t min, int64_t max, int64_t& value)
{
    int64_t read = 0;
    if (!TryParse(text, min < 0, read) || read < min || read > max)
        return false;
    value = read;
    return true;
}

std::wstring ControlNumberText(int64_t value) { return std::to_wstring(value); }
