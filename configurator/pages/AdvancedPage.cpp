// The advanced page: three check boxes over the confirmation flags.
#include "AdvancedPage.h"
#include "AdvancedPageExchange.h"
#include "AdvancedPageRes.h"
#include "App.h"
#include "LoadingScope.h"

namespace {

uint32_t ConfirmBit(int id)
{
    switch (id)
    {
    case IDC_AP_CONFIRM_DELETE: return CONFIRM_REMOVE_FORMATS;
    case IDC_AP_CONFIRM_LOAD: return CONFIRM_LOAD;
    case IDC_AP_CONFIRM_SAVE: return CONFIRM_SAVE;
    }
    return 0;
}

} // namespace

void CZAdvancedPage::UpdateData(bool save)
{
    if (save)
    {
        AdvancedPageControls c;
        c.ConfirmDelete = IsChecked(IDC_AP_CONFIRM_DELETE);
        c.ConfirmLoad = IsChecked(IDC_AP_CONFIRM_LOAD);
        c.ConfirmSave = IsChecked(IDC_AP_CONFIRM_SAVE);
        GetApp().ConfirmFlags = StoreAdvancedPage(c);
        return;
    }
    CLoadingScope loading(m_loading);
    const AdvancedPageControls c = LoadAdvancedPage(GetApp().ConfirmFlags);
    SetCheck(IDC_AP_CONFIRM_DELETE, c.ConfirmDelete);
    SetCheck(IDC_AP_CONFIRM_LOAD, c.ConfirmLoad);
    SetCheck(IDC_AP_CONFIRM_SAVE, c.ConfirmSave);
}

LRESULT CZAdvancedPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_INITDIALOG:
        MakeChild();
        UpdateData(false);
        return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_COMMAND:
        if (uint32_t bit = ConfirmBit(LOWORD(wParam)))
        {
            if (HIWORD(wParam) == BN_CLICKED && m_loading == 0)
            {
                CConfigParvelApp& app = GetApp();
                if (IsChecked(LOWORD(wParam)))
                    app.ConfirmFlags |= bit;
                else
                    app.ConfirmFlags &= ~bit;
                app.ModifiedFlags |= DATA_UI;
            }
            return TRUE;
        }
        break;
    }
    return FALSE;
}
