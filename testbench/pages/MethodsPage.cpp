// The methods page.
#include "MethodsPage.h"
#include "App.h"
#include "BenchStrings.h"
#include "BenchUi.h"
#include "MethodDialog.h"
#include "MethodsRes.h"
#include "SearchReadersDialog.h"
#include "TestHost.h"
#include "TestPageRes.h"
#include "UiSeam.h"

namespace {
const int DefaultWidths[MethodColumns] = {30, 110, 205, 40, 35, 0};
}

CMethodsPage::~CMethodsPage()
{
    if (m_listening && HasApp() && GetApp().HasTestHost())
        GetApp().GetTestHost()->RemoveListeners(this);
}

BOOL CMethodsPage::OnInitDialog()
{
    MakeChild();
    m_list = GetItem(IDC_METHS_LIST);
    m_anchors.SetOwner(m_hWnd);
    m_anchors.AddControl(IDC_METHS_LIST, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_anchors.AddControl(IDC_METHS_REFRESH, ANCHOR_LEFT | ANCHOR_BOTTOM);
    m_anchors.AddControl(IDC_METHS_SEARCH, ANCHOR_LEFT | ANCHOR_BOTTOM);
    m_anchors.Capture();

    for (int c = 0; c < MethodColumns; ++c)
        AddListColumn(m_list, c, IDS_METHS_COL_FIRST + c, c == 5 ? RemainingColumnWidth(m_list, 436) : DefaultWidths[c]);
    ApplyColumnWidths(m_list, GetApp().MethodsColumns);
    SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    ListView_InitSortImages(m_list);

    CTestParvel* host = GetApp().GetTestHost();
    m_view.SetHost(host);
    m_view.SetSortColumn(GetApp().MethodsSortColumn);
    m_view.SetOwner(this, RefreshList);
    m_view.Refresh();
    UpdateButtons();
    host->AddListener(ListenComponent, this, OnHostChanged);
    m_listening = true;
    return TRUE;
}

void CMethodsPage::UpdateButtons()
{
    const bool loaded = TestHost().IsLoaded();
    EnableItem(IDC_METHS_REFRESH, loaded);
    EnableItem(IDC_METHS_SEARCH, loaded);
}

void CMethodsPage::OnHostChanged(void* context, CTestParvel*)
{
    CMethodsPage* page = static_cast<CMethodsPage*>(context);
    page->Refresh();
    page->UpdateButtons();
}

void CMethodsPage::RefreshList(void* context, CVirtualListViewData*)
{
    CMethodsPage* page = static_cast<CMethodsPage*>(context);
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

void CMethodsPage::CallMethod()
{
    const int row = static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (row < 0 || row >= static_cast<int>(m_view.Rows().size()))
        return;
    CDlgMethod dialog(&TestHost(), m_view.Rows()[row].index);
    AppDialogBox(dialog, IDD_METHOD, m_hWnd);
}

void CMethodsPage::SortBy(int column)
{
    const int32_t sort = NextSortColumn(m_view.SortColumn(), column);
    if (sort != GetApp().MethodsSortColumn) {
        GetApp().MethodsSortColumn = sort;
        GetApp().ModifiedFlags |= DATA_UI;
    }
    if (sort != m_view.SortColumn()) {
        m_view.SetSortColumn(sort);
        m_view.Refresh();
    }
}

void CMethodsPage::UpdateData(bool save)
{
    if (save && m_list && (GetApp().ModifiedFlags & DATA_UI))
        ListView_GetColumnWidths(m_list, GetApp().MethodsColumns);
}

LRESULT CMethodsPage::OnNotify(NMHDR* hdr)
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
    case LVN_COLUMNCLICK:
        SortBy(reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem + 1);
        return TRUE;
    case NM_RCLICK:
        return SetDlgResult(TRUE);
    case NM_RETURN:
        if (SendMessageW(m_list, LVM_GETSELECTEDCOUNT, 0, 0) == 1)
            CallMethod();
        return TRUE;
    case NM_DBLCLK: {
        NMITEMACTIVATE* activate = reinterpret_cast<NMITEMACTIVATE*>(hdr);
        LVHITTESTINFO hit = {};
        hit.pt = activate->ptAction;
        SendMessageW(m_list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (activate->iItem >= 0 && !(hit.flags & LVHT_ONITEMSTATEICON))
            CallMethod();
        return SetDlgResult(TRUE);
    }
    }
    return FALSE;
}

LRESULT CMethodsPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_METHS_REFRESH: Refresh(); return TRUE;
        case IDC_METHS_SEARCH: {
            CSearchReaders dialog;
            AppDialogBox(dialog, IDD_SEARCH_READERS, m_hWnd);
            return TRUE;
        }
        }
        break;
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
