// Reading back the numbers of the pages' edit boxes, with or without thousands separators.
#include "ControlNumbers.h"
#include <cwctype>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == 0x00A0 || c == 0x202F; }
bool IsGroupSeparator(wchar_t c) { return c == L',' || c == L'.' || c == L'\'' || IsBlank(c); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

} // namespace

int64_t ParseControlNumber(const std::wstring& text, bool isSigned)
{
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
            return 0;
        ++begin;
    }
    if (begin == end || !IsDigit(text[begin]))
        return 0;

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
                return 0;
            ++groupDigits;
            if (grouped && groupDigits > 3)
                return 0;
            continue;
        }
        if (!IsGroupSeparator(c) || i + 1 >= end || !IsDigit(text[i + 1]))
            return 0;
        if (grouped ? (groupDigits != 3 || c != separator) : groupDigits > 3)
            return 0;
        grouped = true;
        separator = c;
        groupDigits = 0;
    }
    if (grouped && groupDigits != 3)
        return 0;
    return negative ? -value : value;
}

std::wstring ControlNumberText(int64_t value) { return std::to_wstring(value); }
