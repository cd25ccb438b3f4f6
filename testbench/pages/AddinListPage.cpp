// The list pages of the add-in's members.
#include "AddinListPage.h"
#include "BenchUi.h"
#include "DpiScale.h"
#include "SortColumn.h"
#include "TestHost.h"

namespace {

// The room the design leaves beside the columns, which the filling column does not take: it gives
// that column the list's width less 436 pixels, more than the other columns' widths add up to.
int FillSpare(const int* widths, int columns)
{
    int spare = 436;
    for (int c = 0; c < columns; ++c)
        spare -= widths[c];
    return ScalePixels(spare);
}

} // namespace

CAddinListPage::~CAddinListPage()
{
    StopListeningToHost(m_bench.host, this, m_listening);
}

void CAddinListPage::InitList(int listId, std::initializer_list<int> buttons, UINT firstCaption, const int* widths,
                              int columns)
{
    MakeChild();
    m_list = GetItem(listId);
    m_anchors.SetOwner(m_hWnd);
    m_anchors.AddControl(listId, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : buttons)
        m_anchors.AddControl(id, ANCHOR_LEFT | ANCHOR_BOTTOM);
    m_anchors.Capture();

    CAppData& settings = m_bench.data;
    for (int c = 0; c < columns; ++c)
        AddListColumn(m_list, c, firstCaption + c,
                      widths[c] == 0 ? RemainingColumnWidth(m_list, ScalePixels(436)) : ScalePixels(widths[c]));
    ApplyColumnWidths(m_list, settings.*m_widthsSetting);
    for (int c = 0; c < columns; ++c)
        if (widths[c] == 0)
            ListView_FitColumnToList(m_list, c, FillSpare(widths, columns), ScalePixels(40), settings.*m_widthsSetting);
    SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    ListView_WantReturn(m_list);
    ListView_InitSortImages(m_list);

    CTestParvel* host = &m_bench.host;
    m_rows.SetHost(host);
    m_rows.SetSortColumn(settings.*m_sortSetting);
    m_rows.SetOwner(this, OnRowsChanged);
    m_rows.Refresh();
    UpdateButtons();
    host->AddListener(ListenComponent, this, OnHostChanged);
    m_listening = true;
}

void CAddinListPage::OnHostChanged(void* context, CTestParvel*)
{
    CAddinListPage* page = static_cast<CAddinListPage*>(context);
    page->Refresh();
    page->UpdateButtons();
}

void CAddinListPage::OnRowsChanged(void* context, CVirtualListViewData*)
{
    CAddinListPage* page = static_cast<CAddinListPage*>(context);
    HWND list = page->m_list;
    const int pos = ListView_GetTrackPos(list);
    SendMessageW(list, LVM_SETITEMCOUNT, page->m_rows.GetItemCount(), LVSICF_NOSCROLL);
    ListView_ShowSortColumn(list, page->m_shownSort, page->m_rows.SortColumn());
    ListView_RestoreScrollPos(list, pos);
    InvalidateRect(list, nullptr, TRUE);
}

int CAddinListPage::SelectedRow() const
{
    return static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void CAddinListPage::SortBy(int column)
{
    CAppData& settings = m_bench.data;
    const int32_t sort = NextSortColumn(m_rows.SortColumn(), column);
    if (sort != settings.*m_sortSetting) {
        settings.*m_sortSetting = sort;
        settings.ModifiedFlags |= DATA_UI;
    }
    if (sort != m_rows.SortColumn()) {
        m_rows.SetSortColumn(sort);
        m_rows.Refresh();
    }
}

void CAddinListPage::UpdateData(bool save)
{
    if (save && m_list && (m_bench.data.ModifiedFlags & DATA_UI))
        ListView_GetColumnWidths(m_list, m_bench.data.*m_widthsSetting);
}

LRESULT CAddinListPage::OnNotify(NMHDR* hdr)
{
    if (hdr->hwndFrom != m_list) {
        if (hdr->code == HDN_ENDTRACKW)
            m_bench.data.ModifiedFlags |= DATA_UI;
        return FALSE;
    }
    if (m_rows.HandleNotify(hdr))
        return TRUE;
    switch (hdr->code) {
    case LVN_KEYDOWN:
        if (reinterpret_cast<NMLVKEYDOWN*>(hdr)->wVKey == 'A' && (GetKeyState(VK_CONTROL) & 0x8000))
            ListView_SelectAll(m_list);
        return TRUE;
    case LVN_COLUMNCLICK:
        SortBy(reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem + 1);
        return TRUE;
    case NM_RCLICK:
        return SetDlgResult(TRUE);
    case NM_RETURN:
        if (SendMessageW(m_list, LVM_GETSELECTEDCOUNT, 0, 0) == 1)
            OpenSelected();
        return TRUE;
    case NM_DBLCLK: {
        NMITEMACTIVATE* activate = reinterpret_cast<NMITEMACTIVATE*>(hdr);
        LVHITTESTINFO hit = {};
        hit.pt = activate->ptAction;
        SendMessageW(m_list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (activate->iItem >= 0 && !ListView_HitOnStateIconOnly(hit.flags))
            OpenSelected();
        return SetDlgResult(TRUE);
    }
    }
    return FALSE;
}

LRESULT CAddinListPage::DialogProc(HWND, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_SIZE:
        m_anchors.Apply(LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_DESTROY:
        StopListeningToHost(m_bench.host, this, m_listening);
        m_rows.SetOwner(nullptr, nullptr);
        break;
    }
    return FALSE;
}
