// The properties page.
#include "PropertiesPage.h"
#include "BenchStrings.h"
#include "BenchUi.h"
#include "PropertiesRes.h"
#include "PropertyDialog.h"
#include "TestHost.h"
#include "UiSeam.h"
#include "VariantHelpers.h"

namespace {
const int DefaultWidths[PropertyColumns] = {30, 110, 140, 70, 0, 60};
}

CPropertiesPage::CPropertiesPage(const BenchContext& bench)
    : CAddinListPage(bench, m_view, &CAppData::PropertiesSortColumn, &CAppData::PropertiesColumns)
{
}

BOOL CPropertiesPage::OnInitDialog()
{
    InitList(IDC_PROPS_LIST, {IDC_PROPS_REFRESH, IDC_PROPS_CHANGE, IDC_PROPS_LOAD, IDC_PROPS_SAVE}, IDS_PROPS_COL_FIRST,
             DefaultWidths, PropertyColumns);
    return TRUE;
}

void CPropertiesPage::UpdateButtons()
{
    m_buttonsPending = false;
    const bool loaded = m_bench.host.IsLoaded();
    EnableItem(IDC_PROPS_REFRESH, loaded);
    EnableItem(IDC_PROPS_LOAD, loaded);
    EnableItem(IDC_PROPS_SAVE, loaded);
    const int row = SelectedRow();
    const bool one = SendMessageW(m_list, LVM_GETSELECTEDCOUNT, 0, 0) == 1;
    EnableItem(IDC_PROPS_CHANGE, loaded && one && row >= 0 && row < static_cast<int>(m_view.Rows().size()) &&
                                     PropertyTypeEditable(m_view.Rows()[row].type));
}

void CPropertiesPage::EditProperty()
{
    const int row = SelectedRow();
    if (row < 0 || row >= static_cast<int>(m_view.Rows().size()) || !PropertyTypeEditable(m_view.Rows()[row].type))
        return;
    CTestParvel& host = m_bench.host;
    if (!host.Extender())
        return;
    const uint32_t index = m_view.Rows()[row].index;
    CVariantArray value(1, host.MemoryManager());
    host.Extender()->GetPropVal(index, &value[0]);
    CDlgProperty dialog(&host, index, value);
    AppDialogBox(dialog, IDD_PROPERTY, m_hWnd);
}

LRESULT CPropertiesPage::OnNotify(NMHDR* hdr)
{
    // A change of selection re-enables the buttons once the list has settled (one posted message
    // for a whole burst of notifications).
    if (hdr->hwndFrom == m_list && (hdr->code == LVN_ITEMCHANGED || hdr->code == LVN_ODSTATECHANGED)) {
        const bool changed = hdr->code == LVN_ITEMCHANGED
                                 ? ((reinterpret_cast<NMLISTVIEW*>(hdr)->uOldState ^ reinterpret_cast<NMLISTVIEW*>(hdr)->uNewState) &
                                    LVIS_SELECTED) != 0
                                 : ((reinterpret_cast<NMLVODSTATECHANGE*>(hdr)->uOldState ^
                                     reinterpret_cast<NMLVODSTATECHANGE*>(hdr)->uNewState) &
                                    LVIS_SELECTED) != 0;
        if (changed && !m_buttonsPending) {
            m_buttonsPending = true;
            PostMessageW(m_hWnd, WM_USER + 1, 0, 0);
        }
        return TRUE;
    }
    return CAddinListPage::OnNotify(hdr);
}

LRESULT CPropertiesPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PROPS_REFRESH: Refresh(); return TRUE;
        case IDC_PROPS_LOAD: m_bench.host.LoadSettings(); return TRUE;
        case IDC_PROPS_SAVE: {
            CTestParvel& host = m_bench.host;
            CVariantArray args(1, host.MemoryManager());
            args.SetUI4(0, 3);
            host.CallAsProc(L"SaveSettings", &args[0], 1);
            return TRUE;
        }
        case IDC_PROPS_CHANGE: EditProperty(); return TRUE;
        }
        break;
    case WM_USER + 1:
        if (m_buttonsPending)
            UpdateButtons();
        return TRUE;
    }
    return CAddinListPage::DialogProc(hWnd, message, wParam, lParam);
}
