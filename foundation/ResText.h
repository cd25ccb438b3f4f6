// Texts of the program: string-table entries in the message language and error texts (the
// add-in's own message table for HRESULTs of the interface facility, the system's for the rest).
// Neither lookup throws. A language that has no table of its own falls back to English.
#pragma once
#include <windows.h>
#include <initializer_list>
#include <string>

// out = string-table text `id` in MessageLcid's language; returns its length (0 when absent).
int LoadResString(std::wstring& out, UINT id);
inline std::wstring LoadResString(UINT id) { std::wstring s; LoadResString(s, id); return s; }

// out = text of `code`, without the line end the table or system closes it with; returns whether a
// text was found, leaving out unchanged otherwise. `module` null means ModuleHandle.
// Without inserts, insert sequences such as %1 stay in the text as they are: nothing is read
// that the caller did not give.
bool GetErrorText(std::wstring& out, HMODULE module, DWORD code);
// With inserts: %1, %2 ... are filled from the given texts; sequences beyond them become empty.
bool GetErrorText(std::wstring& out, HMODULE module, DWORD code,
                  std::initializer_list<const wchar_t*> inserts);
