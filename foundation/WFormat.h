// printf-style formatting into wide strings, with the Microsoft conventions of the wide functions:
// %s and %c take wide arguments, %S and %C narrow ones. Texts of any length are formatted whole.
// Formatting never throws; a bad format yields an empty result (or nothing appended).
#pragma once
#include <windows.h>
#include <cstdarg>
#include <string>

int FormatStringV(std::wstring& out, const wchar_t* format, va_list args);
int FormatString(std::wstring& out, const wchar_t* format, ...);
int AppendFormatV(std::wstring& out, const wchar_t* format, va_list args);
int AppendFormat(std::wstring& out, const wchar_t* format, ...);
// The string-table text `id` used as the format.
int FormatResString(std::wstring& out, UINT id, ...);
int AppendResFormat(std::wstring& out, UINT id, ...);
