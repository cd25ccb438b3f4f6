// Measuring a window's controls, for the tests that check that every page and dialog shows whole
// (in either language, at any DPI): each control inside its parent's client area and clear of its
// siblings, and each label fitting its control (the text's extent in the control's own font, and
// a character more, against the room the control gives it).
#pragma once
#include "NarrowText.h"
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

// One line per visible control under `root` that reaches out of its parent's client area (in a
// direction the parent does not scroll), overlaps a visible sibling (a group box or tab control
// around it, and an up-down control on its buddy's edge, excepted), or, a one-line edit, is lower
// inside than a line of its text.
void CheckPlacement(HWND root, const std::wstring& where, std::wostringstream& problems);

// A dialog procedure that only lets the dialog be made (a template measured without its code).
INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM);

