// Backslash escapes of key-format templates: \n \r \t, \" \' \? \\, \#ddd (decimal),
// \$hhhh and \xhhhh (hexadecimal), \ooo (octal); \a \b \f \v are dropped; any other
// escaped character stands for itself.
#pragma once
#include <string>

void UnescapeCText(std::wstring& out, const wchar_t* text);
