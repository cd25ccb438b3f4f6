// The method-argument dialog.
#include "MethodArgDialog.h"
#include "AppMessageBox.h"
#include "BenchStrings.h"
#include "MethodText.h"
#include "MethodsRes.h"
#include "ValueEditor.h"
#include "WFormat.h"

namespace {

// The types the dialog offers, in its combo's order.
const uint16_t OfferedTypes[] = {0, 1, 3, 11, 16, 17, 18, 21, 22, 23};

} // namespace

BOOL CDlgMethArg::OnInitDialog()
{
    m_kind = 0;
    m_area = ValueArea(m_hWnd, IDC_ARG_VALUE_AREA);
    HWND combo = GetItem(IDC_ARG_TYPE);
    for (uint16_t type : OfferedTypes) {
        const LRESULT at = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(TypeName(type, L"")));
        SendMessageW(combo, CB_SETITEMDATA, at, type + 1);
    }
    SetType(Type);
    SetDlgItemTextW(m_hWnd, IDC_ARG_NUMBER, std::to_wstring(Number).c_str());
    if (!Default.empty()) {
        std::wstring text;
        FormatString(text, L"(%s): \"%s\"", TypeName(DefaultType, L""), Default.c_str());
        SetDlgItemTextW(m_hWnd, IDC_ARG_DEFAULT_TEXT, text.c_str());
        EnableItem(IDC_ARG_DEFAULT, true);
    } else {
        EnableItem(IDC_ARG_DEFAULT, false);
    }
    CenterWindow();
    return FocusValueControls(m_hWnd, m_controls) ? FALSE : TRUE;
}

void CDlgMethArg::SetType(uint16_t type)
{
    Type = type;
    HWND combo = GetItem(IDC_ARG_TYPE);
    const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    int found = -1;
    for (int i = 0; i < count; ++i)
        if (static_cast<int>(SendMessageW(combo, CB_GETITEMDATA, i, 0)) - 1 == type)
            found = i;
    SendMessageW(combo, CB_SETCURSEL, found, 0);
    SetEditorKind(ArgEditorKind(type));
}

void CDlgMethArg::SetEditorKind(int kind)
{
    if (kind == m_kind)
        return;
    DestroyValueControls(m_controls);
    m_kind = kind;
    CreateValueControls(m_hWnd, m_area, kind, Hex, m_controls);
    UpdateValue(false);
}

void CDlgMethArg::UpdateValue(bool save)
{
    switch (m_kind) {
    case ValueEditorBool:
        if (save)
            Value = IsChecked(IDC_VALUE_YES) ? L"1" : L"0";
        else
            CheckRadioButton(m_hWnd, IDC_VALUE_YES, IDC_VALUE_NO, Value == L"0" ? IDC_VALUE_NO : IDC_VALUE_YES);
        break;
    case ValueEditorInt32:
    case ValueEditorInt64:
        if (save) {
            const std::wstring text = ValueText(m_hWnd, IDC_VALUE_NUMBER);
            bool flipped = false;
            const bool taken = ArgNumberFromEditor(Type, text, Hex, flipped, Value);
            if (flipped) {
                CheckRadioButton(m_hWnd, IDC_VALUE_DECIMAL, IDC_VALUE_HEX, Hex ? IDC_VALUE_HEX : IDC_VALUE_DECIMAL);
                SetSpinBase(m_hWnd, Hex);
            }
            // Dropped in silence, the text would leave the old value behind a dialog that closed
            // as if it had taken what the user typed.
            if (!taken)
                throw NumberNotOfType(m_hWnd, IDS_BENCH_ARG_NOT_OF_TYPE, text, Type);
        } else {
            SetDlgItemTextW(m_hWnd, IDC_VALUE_NUMBER, ArgNumberForEditor(m_kind, Value, Hex).c_str());
        }
        break;
    case ValueEditorText:
        if (save)
            Value = ValueText(m_hWnd, IDC_VALUE_TEXT);
        else
            SetDlgItemTextW(m_hWnd, IDC_VALUE_TEXT, Value.c_str());
        break;
    default:
        break;
    }
    if (!save)
        m_shown = EditorState();
}

std::wstring CDlgMethArg::EditorState() const
{
    switch (m_kind) {
    case ValueEditorBool:
        return IsChecked(IDC_VALUE_YES) ? L"1" : L"0";
    case ValueEditorInt32:
    case ValueEditorInt64:
        return ValueText(m_hWnd, IDC_VALUE_NUMBER);
    case ValueEditorText:
        return ValueText(m_hWnd, IDC_VALUE_TEXT);
    default:
        return std::wstring();
    }
}

bool CDlgMethArg::OnOk()
{
    if (m_kind)
        UpdateValue(true);
    if (Type == VTYPE_BLOB && !IsBlobText(Value)) {
        AppMessageBox(IDS_BENCH_BLOB_NOT_HEX, MB_ICONERROR, m_hWnd);
        if (HWND text = GetItem(IDC_VALUE_TEXT)) {
            SetFocus(text);
            SendMessageW(text, EM_SETSEL, 0, -1);
        }
        return false;
    }
    return true;
}

LRESULT CDlgMethArg::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_ARG_TYPE:
            if (HIWORD(wParam) == CBN_SELCHANGE) {
                if (m_kind && EditorState() != m_shown) {
                    try {
                        UpdateValue(true);
                    } catch (...) {
                        // The number was refused: the type stays the one its text was typed for.
                        SetType(Type);
                        throw;
                    }
                }
                const LRESULT at = SendItemMessage(IDC_ARG_TYPE, CB_GETCURSEL);
                if (at != CB_ERR)
                    SetType(static_cast<uint16_t>(SendItemMessage(IDC_ARG_TYPE, CB_GETITEMDATA, at) - 1));
            }
            return TRUE;
        case IDC_ARG_DEFAULT:
            SetType(DefaultType);
            Value = Default;
            UpdateValue(false);
            return TRUE;
        case IDC_VALUE_DECIMAL:
        case IDC_VALUE_HEX: {
            const bool hex = LOWORD(wParam) == IDC_VALUE_HEX;
            if (HIWORD(wParam) == BN_CLICKED && hex != Hex) {
                try {
                    UpdateValue(true);
                } catch (...) {
                    // The number was refused: the editor stays in the base its text is written in.
                    CheckRadioButton(hWnd, IDC_VALUE_DECIMAL, IDC_VALUE_HEX, Hex ? IDC_VALUE_HEX : IDC_VALUE_DECIMAL);
                    throw;
                }
                Hex = hex;
                if (m_kind == ValueEditorInt32)
                    SetSpinBase(m_hWnd, Hex);
                UpdateValue(false);
            }
            return TRUE;
        }
        case IDOK:
            if (OnOk())
                EndDialog(hWnd, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(hWnd, IDCANCEL);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        DestroyValueControls(m_controls);
        break;
    }
    return FALSE;
}
