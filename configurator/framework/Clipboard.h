// Copying text to the clipboard.
#pragma once
#include <windows.h>
#include <cstdint>

// Puts `length` characters of `text` (negative: up to its NUL) on the clipboard as Unicode text,
// owned by the main window. Throws COSException ("OpenClipboard", "GlobalAlloc",
// "SetClipboardData"); the clipboard is closed and an unclaimed block freed on every way out.
void CopyToClipboard(const wchar_t* text, int64_t length);
