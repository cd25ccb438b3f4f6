// The value controls that the property and method-argument dialogs create at run time in place of
// a marker static: Yes/No radio buttons, a number edit (with an up-down control for 32-bit values)
// with Decimal/Hexadecimal radio buttons, or a text edit; and the refusal of a number that is no
// value of its type, which both dialogs tell the same way.
#pragma once
#include "PageRefusal.h"
#include <windows.h>
#include <cstdint>
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
// Puts the focus on the value, as a dialog that opens to change it does: the number or text edit
// with its text selected, or the checked one of Yes/No, once the dialog has been shown. False when
// no control takes it (none made, or all disabled), so that the dialog's first field keeps it.
bool FocusValueControls(HWND dialog, HWND controls[4]);
// Base 16 with the range 0..0xFFFFFFFF in hex mode, else base 10 over the signed 32-bit range.
void SetSpinBase(HWND dialog, bool hex);
// The text of the dialog's control `id` (the number or text edit), as typed.
std::wstring ValueText(HWND dialog, int id);

// The refusal of `text`, typed into the number edit, as no number of the variant type `type` (I4,
// UI4, HRESULT, I8, UI8): the string `messageId` is formatted with the text, the type's name, its
// decimal range (NumberTypeRange) and the hexadecimal digits it takes. Thrown from a dialog's
// message handler, it is told in a box over the dialog and puts the user back into the number edit.
CPageRefusal NumberNotOfType(HWND dialog, UINT messageId, const std::wstring& text, uint16_t type);
