// Measuring labels against their controls, for the tests that check that every label of every
// dialog and page fits (in either language, at any DPI): the text's extent in the control's own
// font, and a character more, against the room the control gives it.
#pragma once
#include <windows.h>
#include <sstream>
#include <string>

// The dialog templates of ConfigParvel and its test bench.
constexpr int kDialogTemplateCount = 21;
extern const int kDialogTemplates[kDialogTemplateCount];

std::wstring ClassOf(HWND hWnd);

// One line per label under `root` that does not fit: the dialog, the control's id, its text,
// needed and given.
void CheckLabels(HWND root, int dialogId, std::wostringstream& problems);

// A dialog procedure that only lets the dialog be made (a template measured without its code).
INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM);

// UTF-8 for GoogleTest's messages.
std::string Narrow(const std::wstring& text);
