// Conversions between UTF-16 and the ANSI code page or UTF-8. Each replaces the whole output,
// returns its new length, and leaves the output empty on any conversion failure; a length of -1
// means "up to the terminating NUL".
//
// The ANSI code page is the system's unless a scope below names another: a test can so play a
// system whose code page for non-Unicode programs differs from its user's language.
#pragma once
#include <string>

int AnsiToWide(std::wstring& out, const char* text, int length = -1);
int WideToAnsi(std::string& out, const wchar_t* text, int length = -1);
int Utf8ToWide(std::wstring& out, const char* text, int length = -1);
int WideToUtf8(std::string& out, const wchar_t* text, int length = -1);

inline std::wstring AnsiToWide(const std::string& s) { std::wstring w; AnsiToWide(w, s.data(), (int)s.size()); return w; }
inline std::string WideToAnsi(const std::wstring& s) { std::string a; WideToAnsi(a, s.data(), (int)s.size()); return a; }
inline std::wstring Utf8ToWide(const std::string& s) { std::wstring w; Utf8ToWide(w, s.data(), (int)s.size()); return w; }
inline std::string WideToUtf8(const std::wstring& s) { std::string a; WideToUtf8(a, s.data(), (int)s.size()); return a; }

// The code page the ANSI conversions use now.
unsigned AnsiCodePage();

// Makes the ANSI conversions use `codePage` for the scope's life (tests; one scope at a time, set
// while no other thread converts).
class CAnsiCodePageScope
{
public:
    explicit CAnsiCodePageScope(unsigned codePage);
    ~CAnsiCodePageScope();
    CAnsiCodePageScope(const CAnsiCodePageScope&) = delete;
    CAnsiCodePageScope& operator=(const CAnsiCodePageScope&) = delete;

private:
    unsigned m_previous;
};
