// UTF-16 <-> ANSI / UTF-8 conversions.
#include "CodePage.h"
#include <windows.h>
#include <atomic>

namespace {

std::atomic<unsigned> AnsiOverride{0}; // 0: the system's

int ToWide(UINT codePage, std::wstring& out, const char* text, int length)
{
    out.clear();
    if (!text || length == 0)
        return 0;
    int n = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    if (n <= 0)
        return 0;
    out.resize(n);
    n = MultiByteToWideChar(codePage, 0, text, length, &out[0], n);
    if (n <= 0) {
        out.clear();
        return 0;
    }
    // With length -1 the count includes the terminator, which the string does not keep.
    if (length < 0 && n > 0 && out[n - 1] == L'\0')
        --n;
    out.resize(n);
    return n;
}

int FromWide(UINT codePage, std::string& out, const wchar_t* text, int length)
{
    out.clear();
    if (!text || length == 0)
        return 0;
    int n = WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return 0;
    out.resize(n);
    n = WideCharToMultiByte(codePage, 0, text, length, &out[0], n, nullptr, nullptr);
    if (n <= 0) {
        out.clear();
        return 0;
    }
    if (length < 0 && n > 0 && out[n - 1] == '\0')
        --n;
    out.resize(n);
    return n;
}

} // namespace

unsigned AnsiCodePage()
{
    const unsigned chosen = AnsiOverride.load(std::memory_order_acquire);
    return chosen ? chosen : CP_ACP;
}

CAnsiCodePageScope::CAnsiCodePageScope(unsigned codePage) : m_previous(AnsiOverride.exchange(codePage)) {}

CAnsiCodePageScope::~CAnsiCodePageScope()
{
    AnsiOverride.store(m_previous, std::memory_order_release);
}

int AnsiToWide(std::wstring& out, const char* text, int length) { return ToWide(AnsiCodePage(), out, text, length); }
int WideToAnsi(std::string& out, const wchar_t* text, int length) { return FromWide(AnsiCodePage(), out, text, length); }
int Utf8ToWide(std::wstring& out, const char* text, int length) { return ToWide(CP_UTF8, out, text, length); }
int WideToUtf8(std::string& out, const wchar_t* text, int length) { return FromWide(CP_UTF8, out, text, length); }
