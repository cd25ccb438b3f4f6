// The value controls that the property and method-argument dialogs create at run time in place of
// a marker static: Yes/No radio buttons, a number edit (with an up-down control for 32-bit values)
// with Decimal/Hexadecimal radio buttons, or a text edit.
#pragma once
#include <windows.h>
#include <string>

enum ValueEditorKind
{
    ValueEditorNone = 0,
    ValueEditorBool = 1,
    ValueEditorInt32 = 2,
    ValueEditorInt64 = 3,
    ValueEditorText = 4,
};

// The dialog-coordinate rectangle of the marker `markerId`, in client pixels.
RECT ValueArea(HWND dialog, int markerId);
// Creates the controls of `kind` in `area` in the dialog's font; `controls` receives up to four
// handles (the caller destroys them). The radio button of the hex mode is checked.
void CreateValueControls(HWND dialog, const RECT& area, int kind, bool hex, HWND controls[4]);
void DestroyValueControls(HWND controls[4]);
// Base 16 with the range 0..0xFFFFFFFF in hex mode, else base 10 over the signed 32-bit range.
void SetSpinBase(HWND dialog, bool hex);
// The text of the dialog's control `id` (the number or text edit), as typed.
std::wstring ValueText(HWND dialog, int id);
