// The properties page.
#include "PropertiesPage.h"
#include "App.h"
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

CPropertiesPage::~CPropertiesPage()
{
    if (m_listening && HasApp() && GetApp().HasTestHost())
        GetApp().GetTestHost()->RemoveListeners(this);
}

BOOL CPropertiesPage::OnInitDialog()
{
    MakeChild();
    m_list = GetItem(IDC_PROPS_LIST);
    m_anchors.SetOwner(m_hWnd);
    m_anchors.AddControl(IDC_PROPS_LIST, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : {IDC_PROPS_REFRESH, IDC_PROPS_CHANGE, IDC_PROPS_LOAD, IDC_PROPS_SAVE})
        m_anchors.AddControl(id, ANCHOR_LEFT | ANCHOR_BOTTOM);
    m_anchors.Capture();

    for (int c = 0; c < PropertyColumns; ++c)
        AddListColumn(m_list, c, IDS_PROPS_COL_FIRST + c, c == 4 ? RemainingColumnWidth(m_list, 436) : DefaultWidths[c]);
    ApplyColumnWidths(m_list, GetApp().PropertiesColumns);
    SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    ListView_InitSortImages(m_list);

    CTestParvel* host = GetApp().GetTestHost();
    m_view.SetHost(host);
    m_view.SetSortColumn(GetApp().PropertiesSortColumn);
    m_view.SetOwner(this, OnViewChanged);
    m_view.Refresh();
    UpdateButtons();
    host->AddListener(ListenComponent, this, OnHostChanged);
    m_listening = true;
    return TRUE;
}

void CPropertiesPage::OnHostChanged(void* context, CTestParvel*)
{
    CPropertiesPage* page = static_cast<CPropertiesPage*>(context);
    page->Refresh();
    page->UpdateButtons();
}

void CPropertiesPage::OnViewChanged(void* context, CVirtualListViewData*)
{
    CPropertiesPage* page = static_cast<CPropertiesPage*>(context);
    HWND list = page->m_list;
    const int pos = ListView_GetTrackPos(list);
    SendMessageW(list, LVM_SETITEMCOUNT, page->m_view.GetItemCount(), LVSICF_NOSCROLL);
    const int32_t sort = page->m_view.SortColumn();
    if (sort != page->m_shownSort) {
        if (page->m_shownSort != 0)
            ListView_ClearSortArrow(list, std::abs(page->m_shownSort) - 1);
        if (sort != 0)
            ListView_SetSortArrow(list, std::abs(sort) - 1, sort > 0);
        page->m_shownSort = sort;
    }
    ListView_RestoreScrollPos(list, pos);
    InvalidateRect(list, nullptr, TRUE);
}

int CPropertiesPage::SelectedRow() const
{
    return static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void CPropertiesPage::UpdateButtons()
{
    m_buttonsPending = false;
    const bool loaded = TestHost().IsLoaded();
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
    CTestParvel& host = TestHost();
    if (!host.Extender())
        return;
    const uint32_t index = m_view.Rows()[row].index;
    CVariantArray value(1, host.MemoryManager());
    host.Extender()->GetPropVal(index, &value[0]);
    CDlgProperty dialog(&host, index, value);
    AppDialogBox(dialog, IDD_PROPERTY, m_hWnd);
}

void CPropertiesPage::SortBy(int column)
{
    const int32_t sort = NextSortColumn(m_view.SortColumn(), column);
    if (sort != GetApp().PropertiesSortColumn) {
        GetApp().PropertiesSortColumn = sort;
        GetApp().ModifiedFlags |= DATA_UI;
    }
    if (sort != m_view.SortColumn()) {
        m_view.SetSortColumn(sort);
        m_view.Refresh();
    }
}

void CPropertiesPage::UpdateData(bool save)
{
    if (save && m_list && (GetApp().ModifiedFlags & DATA_UI))
        ListView_GetColumnWidths(m_list, GetApp().PropertiesColumns);
}

LRESULT CPropertiesPage::OnNotify(NMHDR* hdr)
{
    if (hdr->hwndFrom != m_list) {
        if (hdr->code == HDN_ENDTRACKW)
            GetApp().ModifiedFlags |= DATA_UI;
        return FALSE;
    }
    if (m_view.HandleNotify(hdr))
        return TRUE;
    switch (hdr->code) {
    case LVN_KEYDOWN:
        if (reinterpret_cast<NMLVKEYDOWN*>(hdr)->wVKey == 'A' && (GetKeyState(VK_CONTROL) & 0x8000)) {
            LVITEMW item = {};
            item.stateMask = item.state = LVIS_SELECTED;
            SendMessageW(m_list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
        }
        return TRUE;
    case LVN_ITEMCHANGED:
    case LVN_ODSTATECHANGED: {
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
    case LVN_COLUMNCLICK:
        SortBy(reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem + 1);
        return TRUE;
    case NM_RCLICK:
        return SetDlgResult(TRUE);
    case NM_RETURN:
        if (SendMessageW(m_list, LVM_GETSELECTEDCOUNT, 0, 0) == 1)
            EditProperty();
        return TRUE;
    case NM_DBLCLK: {
        NMITEMACTIVATE* activate = reinterpret_cast<NMITEMACTIVATE*>(hdr);
        LVHITTESTINFO hit = {};
        hit.pt = activate->ptAction;
        SendMessageW(m_list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (activate->iItem >= 0 && !(hit.flags & LVHT_ONITEMSTATEICON))
            EditProperty();
        return SetDlgResult(TRUE);
    }
    }
    return FALSE;
}

LRESULT CPropertiesPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PROPS_REFRESH: Refresh(); return TRUE;
        case IDC_PROPS_LOAD: TestHost().LoadSettings(); return TRUE;
        case IDC_PROPS_SAVE: {
            CTestParvel& host = TestHost();
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
    case WM_SIZE:
        m_anchors.Apply(LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_DESTROY:
        if (m_listening && GetApp().HasTestHost())
            GetApp().GetTestHost()->RemoveListeners(this);
        m_listening = false;
        m_view.SetOwner(nullptr, nullptr);
        break;
    }
    return FALSE;
}
