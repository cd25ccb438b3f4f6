// Wide printf formatting. The C runtime's own _vsnwprintf is used on purpose: MinGW's C99 wide
// printf reads %s as a narrow string, the Microsoft one as a wide string, and every format text of
// this program (string tables included) is written for the Microsoft convention.
#include "WFormat.h"
#include "ResText.h"
#include <cstdio>
#include <cwchar>

namespace {

// The formatted text of format/args appended to out at `at`; false (and out cut back to `at`)
// when the format cannot be formatted.
bool FormatAt(std::wstring& out, size_t at, const wchar_t* format, va_list args)
{
    if (!format) {
        out.resize(at);
        return false;
    }
    va_list count;
    va_copy(count, args);
    int n = _vscwprintf(format, count);
    va_end(count);
    if (n < 0) {
        out.resize(at);
        return false;
    }
    out.resize(at + n);
    va_list fill;
    va_copy(fill, args);
    // The string's own terminator slot takes the NUL the runtime writes.
    int written = _vsnwprintf(&out[0] + at, static_cast<size_t>(n) + 1, format, fill);
    va_end(fill);
    if (written != n) {
        out.resize(at);
        return false;
    }
    return true;
}

} // namespace

int FormatStringV(std::wstring& out, const wchar_t* format, va_list args)
{
    FormatAt(out, 0, format, args);
    return static_cast<int>(out.size());
}

int FormatString(std::wstring& out, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = FormatStringV(out, format, args);
    va_end(args);
    return n;
}

int AppendFormatV(std::wstring& out, const wchar_t* format, va_list args)
{
    FormatAt(out, out.size(), format, args);
    return static_cast<int>(out.size());
}

int AppendFormat(std::wstring& out, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = AppendFormatV(out, format, args);
    va_end(args);
    return n;
}

int FormatResString(std::wstring& out, UINT id, ...)
{
    std::wstring format;
    LoadResString(format, id);
    va_list args;
    va_start(args, id);
    int n = FormatStringV(out, format.c_str(), args);
    va_end(args);
    return n;
}

int AppendResFormat(std::wstring& out, UINT id, ...)
{
    std::wstring format;
    LoadResString(format, id);
    va_list args;
    va_start(args, id);
    int n = AppendFormatV(out, format.c_str(), args);
    va_end(args);
    return n;
}
