// Small text helpers shared by the reader's protocol code: line splitting of received bytes, the
// tests that classify a reader line, and error texts made fit to be joined into one line.
#pragma once
#include <windows.h>
#include <exception>
#include <string>

namespace readertext {

// The longest line a reader sends is well under this (replies and key lines are short); more
// received without a line end is not a reader's line.
const size_t MaxLineLength = 4096;

// Takes the first complete line (ended by a line feed) out of buf, without the line feed and
// without a carriage return before it. False, and buf untouched, when no line feed is there.
inline bool TakeLine(std::string& buf, std::string& line)
{
    size_t lf = buf.find('\n');
    if (lf == std::string::npos)
        return false;
    size_t end = lf;
    if (end > 0 && buf[end - 1] == '\r')
        --end;
    line.assign(buf, 0, end);
    buf.erase(0, lf + 1);
    return true;
}

// Removes trailing carriage returns, line feeds and blanks (system and message-table texts end
// with CR LF; event and log texts are single lines).
template <class S>
inline void TrimLineEnd(S& s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' '))
        s.pop_back();
}

inline wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c + 32) : c; }
inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

template <class S>
inline S Lowered(S s)
{
    for (auto& c : s)
        c = LowerAscii(c);
    return s;
}

// Equality ignoring the letter case of ASCII letters.
inline bool EqualsNoCase(const std::wstring& a, const wchar_t* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return i == a.size() && !b[i];
}

// A key line names a card before "[" and never contains ":" (identification lines all do).
inline bool LooksLikeKeyLine(const std::wstring& line)
{
    return line.find(L'[') != std::wstring::npos && line.find(L':') == std::wstring::npos;
}

inline bool Contains(const std::string& s, const char* what) { return s.find(what) != std::string::npos; }

// The code's message text (the add-in's table or the system's), as one line.
std::wstring ErrorLine(HRESULT code);
// An exception's narrow text widened from the ANSI code page, as one line.
std::wstring ExceptionLine(const char* what);
// An exception's message as one line (ours keep theirs in UTF-16: nothing lost to the code page).
std::wstring ExceptionLine(const std::exception& e);

} // namespace readertext
