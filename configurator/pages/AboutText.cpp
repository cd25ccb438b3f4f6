// The About box's version line and mail link.
#include "AboutText.h"
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>

bool ParseBuildDate(const char* compilerDate, SYSTEMTIME& date)
{
    char month[8] = {};
    int day = 0, year = 0;
    if (std::sscanf(compilerDate, "%7s %d %d", month, &day, &year) != 3 || std::strlen(month) != 3)
        return false;
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* found = std::strstr(months, month);
    if (!found || (found - months) % 3 != 0 || day < 1 || day > 31 || year < 1601)
        return false;
    date = SYSTEMTIME{};
    date.wYear = static_cast<WORD>(year);
    date.wMonth = static_cast<WORD>((found - months) / 3 + 1);
    date.wDay = static_cast<WORD>(day);
    return true;
}

std::wstring FormatBuildDate(const SYSTEMTIME& date)
{
    std::tm tm = {};
    tm.tm_year = date.wYear - 1900;
    tm.tm_mon = date.wMonth - 1;
    tm.tm_mday = date.wDay;
    tm.tm_hour = 12; // noon: no daylight-saving shift can move the day
    tm.tm_isdst = -1;
    if (std::mktime(&tm) == static_cast<std::time_t>(-1))
        return std::wstring();
    wchar_t text[128];
    size_t length = std::wcsftime(text, 128, L"%x", &tm);
    return std::wstring(text, length);
}

std::wstring AboutVersionText(const std::wstring& version, const std::wstring& date)
{
    return L"v" + version + L" (" + date + L")";
}

std::wstring AboutMailLink(const std::wstring& address, const std::wstring& version)
{
    // The blank of the subject is escaped: a mail program reads the link as a URL.
    return L"mailto:" + address + L"?subject=Parvel%20v" + version;
}
