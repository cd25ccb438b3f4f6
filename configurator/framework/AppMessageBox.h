// Message boxes with the program's caption, through the user-interface seam.
#pragma once
#include <windows.h>
#include <string>

// `text` is a string-table id (MAKEINTRESOURCEW, any value below 0x10000) or a wide text. The
// caption is always the program's title. A null owner means the main window. A missing string
// shows an empty text.
int AppMessageBox(const wchar_t* text, UINT flags, HWND owner = nullptr);
inline int AppMessageBox(UINT textId, UINT flags, HWND owner = nullptr)
{
    return AppMessageBox(MAKEINTRESOURCEW(textId), flags, owner);
}
inline int AppMessageBox(const std::wstring& text, UINT flags, HWND owner = nullptr)
{
    return AppMessageBox(text.c_str(), flags, owner);
}

// A string of the program's string table in the thread's UI language; empty when absent.
std::wstring LoadAppString(UINT id);
