// The property dialog.
#include "PropertyDialog.h"
#include "BenchStrings.h"
#include "NumberText.h"
#include "PropertiesRes.h"
#include "TestHost.h"
#include "ValueEditor.h"
#include "VariantHelpers.h"

BOOL CDlgProperty::OnInitDialog()
{
    ILanguageExtenderBase* component = m_host->Extender();
    m_writable = component && component->IsPropWritable(m_index);
    const RECT area = ValueArea(m_hWnd, IDC_PROP_VALUE_AREA);
    int kind = ValueEditorNone;
    switch (m_value[0].vt) {
    case VTYPE_BOOL: kind = ValueEditorBool; break;
    case VTYPE_PWSTR: kind = ValueEditorText; break;
    case VTYPE_I4:
    case VTYPE_UI4: kind = ValueEditorInt32; break;
    default: break;
    }
    CreateValueControls(m_hWnd, area, kind, m_hex, m_controls);
    for (HWND control : m_controls)
        if (control)
            EnableWindow(control, m_writable);

    std::wstring name;
    m_host->GetPropName(name, m_index, 0);
    SetDlgItemTextW(m_hWnd, IDC_PROP_ENGLISH, name.c_str());
    m_host->GetPropName(name, m_index, 1);
    SetDlgItemTextW(m_hWnd, IDC_PROP_RUSSIAN, name.c_str());
    SetDlgItemTextW(m_hWnd, IDC_PROP_TYPE, m_value[0].vt < VariantTypeCount ? VariantTypeNames[m_value[0].vt] : L"?");
    UpdateValue(false);
    CenterWindow();
    return FocusValueControls(m_hWnd, m_controls) ? FALSE : TRUE;
}

void CDlgProperty::SetSpinBase()
{
    ::SetSpinBase(m_hWnd, m_hex);
}

void CDlgProperty::UpdateValue(bool save)
{
    tVariant& v = m_value[0];
    switch (v.vt) {
    case VTYPE_BOOL:
        if (save)
            m_value.SetBool(0, IsChecked(IDC_VALUE_YES));
        else
            CheckRadioButton(m_hWnd, IDC_VALUE_YES, IDC_VALUE_NO, v.bVal ? IDC_VALUE_YES : IDC_VALUE_NO);
        break;
    case VTYPE_PWSTR:
        if (save) {
            const std::wstring text = ValueText(m_hWnd, IDC_VALUE_TEXT);
            m_value.SetWStr(0, text.c_str(), static_cast<int>(text.size()));
        } else {
            SetDlgItemTextW(m_hWnd, IDC_VALUE_TEXT, v.wstr.ptr ? std::wstring(v.wstr.ptr, v.wstr.len).c_str() : L"");
        }
        break;
    case VTYPE_I4:
    case VTYPE_UI4:
        if (save) {
            const std::wstring text = ValueText(m_hWnd, IDC_VALUE_NUMBER);
            const bool hex = NumberTextIsHex(text);
            if (hex != m_hex) {
                m_hex = hex;
                CheckRadioButton(m_hWnd, IDC_VALUE_DECIMAL, IDC_VALUE_HEX, m_hex ? IDC_VALUE_HEX : IDC_VALUE_DECIMAL);
                SetSpinBase();
            }
            // Taken as far as it went, or cut to 32 bits, the text would set another value than the
            // user typed; dropped in silence, OK would set the old one and say nothing.
            uint64_t number;
            if (!ParseTypedNumber(text, m_hex, NumberTypeOf(v.vt), number))
                throw NumberNotOfType(m_hWnd, IDS_BENCH_NOT_OF_TYPE, text, v.vt);
            if (v.vt == VTYPE_I4)
                m_value.SetI4(0, static_cast<int32_t>(static_cast<uint32_t>(number)));
            else
                m_value.SetUI4(0, static_cast<uint32_t>(number));
        } else {
            SetDlgItemTextW(m_hWnd, IDC_VALUE_NUMBER, FormatNumber32(v.ui32Val, m_hex).c_str());
        }
        break;
    default:
        break;
    }
}

void CDlgProperty::OnOk()
{
    if (!m_writable) {
        EndDialog(m_hWnd, IDOK);
        return;
    }
    UpdateValue(true);
    if (!m_host->Extender())
        return;
    // A refused value keeps the dialog open, and the add-in's reason is thrown, so that it shows
    // in a box over the dialog instead of only in the events list behind it.
    std::wstring name;
    m_host->GetPropName(name, static_cast<long>(m_index), 0);
    m_host->SetPropertyAt(static_cast<long>(m_index), name.c_str(), &m_value[0]);
    m_host->Notify(ListenComponent);
    EndDialog(m_hWnd, IDOK);
}

void CDlgProperty::DestroyValueControls()
{
    ::DestroyValueControls(m_controls);
}

LRESULT CDlgProperty::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: OnOk(); return TRUE;
        case IDCANCEL: EndDialog(hWnd, IDCANCEL); return TRUE;
        case IDC_VALUE_DECIMAL:
        case IDC_VALUE_HEX: {
            const bool hex = LOWORD(wParam) == IDC_VALUE_HEX;
            if (HIWORD(wParam) == BN_CLICKED && hex != m_hex) {
                try {
                    UpdateValue(true);
                } catch (...) {
                    // The value was refused: the editor stays in the base its text is written in.
                    CheckRadioButton(hWnd, IDC_VALUE_DECIMAL, IDC_VALUE_HEX, m_hex ? IDC_VALUE_HEX : IDC_VALUE_DECIMAL);
                    throw;
                }
                m_hex = hex;
                SetSpinBase();
                UpdateValue(false);
            }
            return TRUE;
        }
        }
        break;
    case WM_DESTROY:
        DestroyValueControls();
        break;
    }
    return FALSE;
}
