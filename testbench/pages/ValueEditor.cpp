// Run-time value controls of the property and argument dialogs.
#include "ValueEditor.h"
#include "AppMessageBox.h"
#include "BenchStrings.h"
#include "DpiScale.h"
#include "MethodText.h"
#include "NumberText.h"
#include "PropertiesRes.h"
#include "WFormat.h"
#include <commctrl.h>

namespace {

HWND Make(HWND dialog, const wchar_t* cls, const std::wstring& text, DWORD style, DWORD exStyle, int x, int y, int w,
          int h, int id)
{
    HWND hWnd = CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, dialog,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE)), nullptr);
    if (hWnd) {
        SendMessageW(hWnd, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
        // A new child would come last in the tab order, after OK and Cancel: it goes before OK,
        // right after the controls made before it and so after the "Value:" label, whose access
        // key thereby lands on the value.
        HWND ok = GetDlgItem(dialog, IDOK);
        HWND before = ok ? GetWindow(ok, GW_HWNDPREV) : nullptr;
        if (before && before != hWnd)
            SetWindowPos(hWnd, before, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    return hWnd;
}

} // namespace

RECT ValueArea(HWND dialog, int markerId)
{
    RECT r = {};
    HWND marker = GetDlgItem(dialog, markerId);
    if (marker) {
        GetWindowRect(marker, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        DestroyWindow(marker);
    }
    return r;
}

void CreateValueControls(HWND dialog, const RECT& area, int kind, bool hex, HWND controls[4])
{
    for (int i = 0; i < 4; ++i)
        controls[i] = nullptr;
    // The controls' sizes at 96 DPI, grown with the screen's DPI as the dialog's own controls are.
    const int rowHeight = ScalePixels(23), radioWidth = ScalePixels(85), radioHeight = ScalePixels(21);
    switch (kind) {
    case ValueEditorBool:
        controls[0] = Make(dialog, L"Button", LoadAppString(IDS_YES), BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, 0,
                           area.left, area.top, ScalePixels(50), rowHeight, IDC_VALUE_YES);
        controls[1] = Make(dialog, L"Button", LoadAppString(IDS_NO), BS_AUTORADIOBUTTON, 0, area.left + ScalePixels(58),
                           area.top, ScalePixels(50), rowHeight, IDC_VALUE_NO);
        break;
    case ValueEditorInt32:
    case ValueEditorInt64: {
        controls[0] = Make(dialog, L"Edit", L"", ES_RIGHT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, area.left,
                           area.top, ScalePixels(kind == ValueEditorInt64 ? 150 : 100), rowHeight, IDC_VALUE_NUMBER);
        if (kind == ValueEditorInt32) {
            controls[1] = Make(dialog, UPDOWN_CLASSW, L"",
                               UDS_WRAP | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                               0, 0, 0, 0, 0, IDC_VALUE_SPIN);
            SetSpinBase(dialog, hex);
        }
        controls[2] = Make(dialog, L"Button", LoadAppString(IDS_DECIMAL), BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, 0,
                           area.right - radioWidth, area.top, radioWidth, radioHeight, IDC_VALUE_DECIMAL);
        controls[3] = Make(dialog, L"Button", LoadAppString(IDS_HEXADECIMAL), BS_AUTORADIOBUTTON, 0,
                           area.right - radioWidth, area.top + radioHeight, radioWidth, radioHeight, IDC_VALUE_HEX);
        CheckRadioButton(dialog, IDC_VALUE_DECIMAL, IDC_VALUE_HEX, hex ? IDC_VALUE_HEX : IDC_VALUE_DECIMAL);
        break;
    }
    case ValueEditorText:
        controls[0] = Make(dialog, L"Edit", L"", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, area.left, area.top,
                           area.right - area.left, rowHeight, IDC_VALUE_TEXT);
        break;
    default:
        break;
    }
}

bool FocusValueControls(HWND dialog, HWND controls[4])
{
    HWND target = nullptr;
    for (int i = 0; i < 4 && !target; ++i) {
        HWND control = controls[i];
        if (!control || !IsWindowEnabled(control) || !(GetWindowLongW(control, GWL_STYLE) & WS_TABSTOP))
            continue;
        target = control;
        // Of two radio buttons the one that is checked, as Tab would reach the group.
        if (SendMessageW(control, BM_GETCHECK, 0, 0) != BST_CHECKED && i + 1 < 4 && controls[i + 1] &&
            SendMessageW(controls[i + 1], BM_GETCHECK, 0, 0) == BST_CHECKED)
            target = controls[i + 1];
    }
    if (!target)
        return false;
    // Posted: the dialog manager gives the focus to the first tab stop when the dialog is first
    // shown and activated, after WM_INITDIALOG (Wine does so even when it returned FALSE).
    PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
    return true;
}

void DestroyValueControls(HWND controls[4])
{
    for (int i = 0; i < 4; ++i) {
        if (controls[i] && IsWindow(controls[i]))
            DestroyWindow(controls[i]);
        controls[i] = nullptr;
    }
}

void SetSpinBase(HWND dialog, bool hex)
{
    HWND spin = GetDlgItem(dialog, IDC_VALUE_SPIN);
    if (!spin)
        return;
    SendMessageW(spin, UDM_SETBASE, hex ? 16 : 10, 0);
    if (hex)
        SendMessageW(spin, UDM_SETRANGE32, 0, static_cast<LPARAM>(0xFFFFFFFF));
    else
        SendMessageW(spin, UDM_SETRANGE32, static_cast<WPARAM>(-2147483647 - 1), 2147483647);
}

std::wstring ValueText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    const int length = GetWindowTextLengthW(item);
    std::wstring text(length + 1, L'\0');
    text.resize(GetWindowTextW(item, &text[0], length + 1));
    return text;
}

CPageRefusal NumberNotOfType(HWND dialog, UINT messageId, const std::wstring& text, uint16_t type)
{
    const NumberType numberType = NumberTypeOf(type);
    std::wstring min, max, message;
    NumberTypeRange(numberType, min, max);
    FormatString(message, LoadAppString(messageId).c_str(), text.c_str(), TypeName(type, L"?"), min.c_str(), max.c_str(),
                 static_cast<int>(numberType.bits / 4));
    return CPageRefusal(message, GetDlgItem(dialog, IDC_VALUE_NUMBER));
}
