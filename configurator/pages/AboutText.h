// The texts of the About box that do not depend on its window: the build date taken from the
// compiler's date text, the version line, and the mail link.
#pragma once
#include <windows.h>
#include <string>

// The compiler's date text ("Dec  9 2026": month abbreviation, day, year) as a calendar date;
// false when the month is not one of the twelve abbreviations or a number is missing.
bool ParseBuildDate(const char* compilerDate, SYSTEMTIME& date);
// The date in the current locale's short form ("%x"); empty when it cannot be formed.
std::wstring FormatBuildDate(const SYSTEMTIME& date);
// "v<version> (<date>)".
std::wstring AboutVersionText(const std::wstring& version, const std::wstring& date);
// A mailto link to `address` whose subject is "Parvel v<version>".
std::wstring AboutMailLink(const std::wstring& address, const std::wstring& version);
