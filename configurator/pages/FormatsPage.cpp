// The key-format library page (see FormatsPage.h).
#include "FormatsPage.h"
#include "App.h"
#include "AppMessageBox.h"
#include "EditableList.h"
#include "FormatDialog.h"
#include "FormatDialogRules.h"
#include "FormatListLogic.h"
#include "FormatsPageRes.h"
#include "KTGroupsDialog.h"
#include "KTGroupsRes.h"
#include "FormatDialogRes.h"
#include "KeyTypeTexts.h"
#include "DpiScale.h"
#include "LiteralText.h"
#include "ListViewHelpers.h"
#include "ModuleState.h"
#include "UiSeam.h"
#include "WFormat.h"
#include <algorithm>

namespace {

const int ColumnCount = 7;
// "#" shares its column with the check box, so it is wide enough for both and a 3-digit number.
const int DefaultWidths[ColumnCount] = {50, 150, 150, 150, 100, 35, 0};
// The room the design leaves beside the columns, which "Comment" does not take.
const int CommentSpare = 30;
const int ListBottomMargin = 39;
const int ButtonRowOffset = 31;
const int ButtonHeight = 23;
const int Gap = 8;

int SelectedCount(HWND list)
{
    return static_cast<int>(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));
}

} // namespace

void CZFormatsPage::OnListChangedThunk(void* context, CVirtualListViewData*)
{
    static_cast<CZFormatsPage*>(context)->OnListChanged();
}

uint32_t CZFormatsPage::GroupMask(int group) const
{
    const KeyTypeGroupList& groups = GetApp().KTGroups;
    return group >= 1 && group <= static_cast<int>(groups.size()) ? groups[static_cast<size_t>(group - 1)].KeyTypes : 0;
}

void CZFormatsPage::OnInitDialog()
{
    CConfigParvelApp& app = GetApp();
    m_tab = GetItem(IDC_FORMATS_TABS);
    m_list = GetItem(IDC_FORMATS_LIST);
    SetWindowLongPtrW(m_tab, GWL_STYLE, GetWindowLongPtrW(m_tab, GWL_STYLE) | WS_CLIPSIBLINGS);
    // The tab control frames the list and the buttons: it must lie below them, or it paints over them.
    SetWindowPos(m_tab, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES,
                 LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES);
    SendMessageW(m_list, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
    ListView_WantReturn(m_list);

    RECT client;
    GetClientRect(m_list, &client);
    int widths[ColumnCount];
    std::transform(DefaultWidths, DefaultWidths + ColumnCount, widths, ScalePixels);
    widths[6] = ClampColumnWidth(client.right - ScalePixels(635 + CommentSpare), ScalePixels(50));
    for (const auto& pair : app.FormatsColumns) {
        if (pair.first >= 1 && pair.first <= ColumnCount)
            widths[pair.first - 1] = ClampColumnWidth(pair.second);
    }
    ListView_AddTitledColumns(m_list, IDS_FORMAT_COLUMN_FIRST, widths, ColumnCount);
    ListView_InitSortImages(m_list);
    ListView_SetColumnWidths(m_list, app.FormatsColumns);
    ListView_FitColumnToList(m_list, 6, ScalePixels(CommentSpare), ScalePixels(50), app.FormatsColumns);

    m_emptyText = LoadAppString(IDS_LIST_EMPTY);
    m_view.SetOwner(this, &OnListChangedThunk);
    m_view.Library = &app.Formats;

    m_add = GetItem(IDC_FORMAT_ADD);
    m_change = GetItem(IDC_FORMAT_CHANGE);
    m_delete = GetItem(IDC_FORMAT_DELETE);
    m_onlyEnabledBox = GetItem(IDC_ONLY_ENABLED);
    RECT page;
    GetClientRect(m_hWnd, &page);
    Layout(page.right, page.bottom);
    UpdateData(false);
}

void CZFormatsPage::Layout(int width, int height)
{
    if (!m_tab)
        return;
    RECT area = {0, 0, width, height};
    SendMessageW(m_tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    HDWP batch = BeginDeferWindowPos(6);
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    batch = DeferWindowPos(batch, m_tab, nullptr, 0, 0, width, height, flags);
    batch = DeferWindowPos(batch, m_list, nullptr, area.left, area.top, area.right - area.left,
                           std::max<int>(area.bottom - ScalePixels(ListBottomMargin) - area.top, 0), flags);
    // The row below the list is drawn anew where it lands: the bits the system would copy there are
    // what the growing tab control and list have just painted over its old place.
    const UINT moveFlags = flags | SWP_NOSIZE | SWP_NOCOPYBITS;
    const int y = area.bottom - ScalePixels(ButtonRowOffset);
    const int gap = ScalePixels(Gap);
    int x = gap;
    for (HWND button : {m_add, m_change, m_delete}) {
        RECT r;
        GetWindowRect(button, &r);
        batch = DeferWindowPos(batch, button, nullptr, x, y, 0, 0, moveFlags);
        x += r.right - r.left + gap;
    }
    RECT box;
    GetWindowRect(m_onlyEnabledBox, &box);
    batch = DeferWindowPos(batch, m_onlyEnabledBox, nullptr, x, y + (ScalePixels(ButtonHeight) - (box.bottom - box.top)) / 2, 0, 0,
                           moveFlags);
    if (batch)
        EndDeferWindowPos(batch);
}

void CZFormatsPage::UpdateData(bool save)
{
    CConfigParvelApp& app = GetApp();
    if (save) {
        SetCheck(IDC_ONLY_ENABLED, m_view.OnlyEnabled != 0);
        if (app.ModifiedFlags & DATA_UI)
            ListView_GetColumnWidths(m_list, app.FormatsColumns);
        return;
    }
    ++m_busy;
    FillTabs();
    m_view.SortColumn = app.FormatsSortColumn;
    m_view.FilterMask = GroupMask(app.FormatsKTGroup);
    SetCheck(IDC_ONLY_ENABLED, app.FormatsOnlyEnabled);
    m_view.OnlyEnabled = app.FormatsOnlyEnabled ? 1 : 0;
    m_view.Refresh();
    UpdateButtons();
    --m_busy;
}

void CZFormatsPage::SelectTabByParam(int group)
{
    ++m_busy;
    SendMessageW(m_tab, TCM_SETCURSEL, TabCtrl_FindByParam(m_tab, group), 0);
    --m_busy;
}

void CZFormatsPage::FillTabs()
{
    CConfigParvelApp& app = GetApp();
    SendMessageW(m_tab, TCM_DELETEALLITEMS, 0, 0);
    std::wstring all = LoadAppString(IDS_TAB_ALL);
    TCITEMW item = {};
    item.mask = TCIF_TEXT | TCIF_PARAM;
    item.pszText = &all[0];
    item.lParam = 0;
    int position = 0;
    SendMessageW(m_tab, TCM_INSERTITEMW, position++, reinterpret_cast<LPARAM>(&item));
    for (size_t i = 0; i < app.KTGroups.size(); ++i) {
        if (!app.KTGroups[i].Visible)
            continue;
        std::wstring name = LiteralText(app.KTGroups[i].Name);
        name.push_back(L'\0');
        item.pszText = &name[0];
        item.lParam = static_cast<LPARAM>(i + 1);
        SendMessageW(m_tab, TCM_INSERTITEMW, position++, reinterpret_cast<LPARAM>(&item));
    }
    SelectTabByParam(app.FormatsKTGroup);
}

void CZFormatsPage::SelectGroupTab(int group)
{
    CConfigParvelApp& app = GetApp();
    if (group == app.FormatsKTGroup)
        return;
    app.ModifiedFlags |= DATA_UI;
    app.FormatsKTGroup = group;
    const uint32_t mask = GroupMask(group);
    if (mask != m_view.FilterMask) {
        m_view.FilterMask = mask;
        m_view.Refresh();
    }
    SelectTabByParam(group);
}

void CZFormatsPage::UpdateButtons()
{
    m_buttonsPending = 0;
    const int selected = SelectedCount(m_list);
    EnableWindow(m_delete, selected >= 1);
    EnableWindow(m_change, selected == 1);
}

void CZFormatsPage::OnListChanged()
{
    const int track = ListView_GetTrackPos(m_list);
    SendMessageW(m_list, LVM_SETITEMCOUNT, m_view.GetItemCount(), 0);
    const DWORD styles = static_cast<DWORD>(SendMessageW(m_list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    const bool wantBoxes = m_view.OnlyEnabled == 0;
    if (((styles & LVS_EX_CHECKBOXES) != 0) != wantBoxes)
        SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES, wantBoxes ? LVS_EX_CHECKBOXES : 0);
    ListView_ShowSortColumn(m_list, m_shownSort, m_view.SortColumn);
    ListView_RestoreScrollPos(m_list, track);
    if (m_keepSelected >= 0)
        ListView_SelectCentered(m_list, static_cast<int>(m_view.RowOf(m_keepSelected)));
    InvalidateRect(m_list, nullptr, TRUE);
    // A new row count may drop selected rows without a word from the list.
    UpdateButtons();
}

std::vector<int64_t> CZFormatsPage::SelectedIndices() const
{
    std::vector<int64_t> indices;
    int row = -1;
    while ((row = static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0) {
        const int64_t index = m_view.LibraryIndex(row);
        if (index >= 0)
            indices.push_back(index);
    }
    return indices;
}

bool CZFormatsPage::OnListNotify(NMHDR* hdr, LRESULT& result)
{
    CConfigParvelApp& app = GetApp();
    result = 0;
    switch (hdr->code) {
    case LVN_GETEMPTYMARKUP: {
        NMLVEMPTYMARKUP* markup = reinterpret_cast<NMLVEMPTYMARKUP*>(hdr);
        markup->dwFlags = EMF_CENTERED;
        lstrcpynW(markup->szMarkup, m_emptyText.c_str(), L_MAX_URL_LENGTH);
        result = TRUE;
        return true;
    }
    case LVN_GETDISPINFOW:
    case LVN_ODCACHEHINT:
        return m_view.HandleNotify(hdr);
    case LVN_KEYDOWN: {
        bool toggled = false;
        if (ListView_SpaceTogglesChecks(m_list, hdr, [&](int row) { toggled |= ToggleEnabled(row); })) {
            if (toggled)
                EnabledChanged();
            return true;
        }
        OnEditableListKey(m_list, hdr, [this] { OnAdd(); }, [this] { OnDelete(true); });
        return true;
    }
    case LVN_ITEMCHANGED: {
        NMLISTVIEW* change = reinterpret_cast<NMLISTVIEW*>(hdr);
        if (!(change->uChanged & LVIF_STATE))
            return true;
        if (((change->uNewState ^ change->uOldState) & LVIS_SELECTED) && !m_buttonsPending) {
            m_buttonsPending = 1;
            PostMessageW(m_hWnd, WM_USER + 1, 0, 0);
        }
        if ((change->uNewState & (LVIS_SELECTED | LVIS_FOCUSED)) == (LVIS_SELECTED | LVIS_FOCUSED) && change->iItem >= 0)
            m_keepSelected = m_view.LibraryIndex(change->iItem);
        return true;
    }
    case LVN_ODSTATECHANGED: {
        NMLVODSTATECHANGE* change = reinterpret_cast<NMLVODSTATECHANGE*>(hdr);
        if (((change->uNewState ^ change->uOldState) & LVIS_SELECTED) && !m_buttonsPending) {
            m_buttonsPending = 1;
            PostMessageW(m_hWnd, WM_USER + 1, 0, 0);
        }
        return true;
    }
    case LVN_COLUMNCLICK: {
        const int32_t column = reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem + 1;
        const int32_t sort = NextSortColumn(app.FormatsSortColumn, column);
        if (sort != app.FormatsSortColumn) {
            app.ModifiedFlags |= DATA_UI;
            app.FormatsSortColumn = sort;
            m_view.SortColumn = sort;
            m_view.Refresh();
        }
        return true;
    }
    case NM_CUSTOMDRAW: {
        NMLVCUSTOMDRAW* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(hdr);
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
            result = CDRF_NOTIFYITEMDRAW;
        } else if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
            const int64_t index = m_view.LibraryIndex(static_cast<int64_t>(draw->nmcd.dwItemSpec));
            if (index >= 0 && index < static_cast<int64_t>(app.Formats.size()) &&
                app.Formats[static_cast<size_t>(index)].Conflict) {
                draw->clrText = RGB(255, 0, 0);
                draw->clrTextBk = RGB(255, 255, 255);
            }
            result = CDRF_DODEFAULT;
        }
        return true;
    }
    case NM_RCLICK:
        ShowListMenu(ContextMenuPoint(m_list, GetMessagePos()));
        return true;
    case NM_RETURN:
        if (SelectedCount(m_list) == 1)
            OnChange();
        return true;
    case NM_DBLCLK:
    case NM_CLICK: {
        NMITEMACTIVATE* click = reinterpret_cast<NMITEMACTIVATE*>(hdr);
        LVHITTESTINFO hit = {};
        hit.pt = click->ptAction;
        const int row = static_cast<int>(SendMessageW(m_list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        if (row < 0)
            return true;
        const bool onBox = (hit.flags & LVHT_ONITEMSTATEICON) != 0 && !(hit.flags & (LVHT_ONITEMICON | LVHT_ONITEMLABEL));
        if (hdr->code == NM_DBLCLK) {
            if (!onBox)
                OnChange();
            return true;
        }
        if (onBox && ToggleEnabled(row))
            EnabledChanged();
        return true;
    }
    default:
        return false;
    }
}

bool CZFormatsPage::ToggleEnabled(int row)
{
    const int64_t index = m_view.LibraryIndex(row);
    if (index < 0)
        return false;
    KeyFormatItem& item = GetApp().Formats.at(static_cast<size_t>(index));
    item.Enabled = item.Enabled ? 0 : 1;
    return true;
}

void CZFormatsPage::EnabledChanged()
{
    CConfigParvelApp& app = GetApp();
    MarkFormatConflicts(app.Formats);
    app.ModifiedFlags |= DATA_LIBRARY | DATA_ADDIN;
    if (m_view.OnlyEnabled)
        m_view.Refresh(); // a format just disabled leaves the list
    else
        InvalidateRect(m_list, nullptr, TRUE);
}

void CZFormatsPage::ShowListMenu(POINT at)
{
    HMENU menu = LoadMenuW(ModuleHandle, MAKEINTRESOURCEW(IDM_FORMATS_LIST));
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, 0);
    const int selected = SelectedCount(m_list);
    EnableMenuItem(popup, IDC_FORMAT_CHANGE, MF_BYCOMMAND | (selected == 1 ? MF_ENABLED : MF_GRAYED));
    EnableMenuItem(popup, IDC_FORMAT_DELETE, MF_BYCOMMAND | (selected >= 1 ? MF_ENABLED : MF_GRAYED));
    CheckMenuItem(popup, IDC_ONLY_ENABLED, MF_BYCOMMAND | (m_view.OnlyEnabled ? MF_CHECKED : MF_UNCHECKED));
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, m_hWnd, nullptr);
    DestroyMenu(menu);
}

void CZFormatsPage::ShowTabMenu(POINT at)
{
    HMENU menu = LoadMenuW(ModuleHandle, MAKEINTRESOURCEW(IDM_FORMATS_TABS));
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, 0);
    const KeyTypeGroupList& groups = GetApp().KTGroups;
    for (size_t i = 0; i < groups.size(); ++i) {
        const UINT flags = MF_BYPOSITION | MF_STRING | (groups[i].Visible ? MF_CHECKED : MF_UNCHECKED);
        InsertMenuW(popup, static_cast<UINT>(i + 1), flags, ID_GROUP_FIRST + i, LiteralText(groups[i].Name).c_str());
    }
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, m_hWnd, nullptr);
    DestroyMenu(menu);
}

bool CZFormatsPage::OnTabNotify(NMHDR* hdr, LRESULT& result)
{
    result = 0;
    if (hdr->code == TCN_SELCHANGE) {
        if (m_busy > 0)
            return true;
        const int selected = static_cast<int>(SendMessageW(m_tab, TCM_GETCURSEL, 0, 0));
        TCITEMW item = {};
        item.mask = TCIF_PARAM;
        if (selected >= 0 && SendMessageW(m_tab, TCM_GETITEMW, selected, reinterpret_cast<LPARAM>(&item)))
            SelectGroupTab(static_cast<int>(item.lParam));
        return true;
    }
    if (hdr->code == NM_RCLICK) {
        ShowTabMenu(ContextMenuPoint(m_tab, GetMessagePos()));
        result = TRUE;
        return true;
    }
    return false;
}

void CZFormatsPage::ToggleGroupVisible(size_t group)
{
    CConfigParvelApp& app = GetApp();
    KeyTypeGroup& entry = app.KTGroups[group];
    const int number = static_cast<int>(group + 1);
    if (entry.Visible) {
        if (number == app.FormatsKTGroup) {
            app.ModifiedFlags |= DATA_UI;
            app.FormatsKTGroup = 0;
            m_view.FilterMask = 0;
            m_view.Refresh();
        }
        entry.Visible = 0;
    } else {
        app.ModifiedFlags |= DATA_UI;
        app.FormatsKTGroup = number;
        m_view.FilterMask = entry.KeyTypes;
        m_view.Refresh();
        entry.Visible = 1;
    }
    app.ModifiedFlags |= DATA_LIBRARY;
    FillTabs();
}

void CZFormatsPage::OnCommand(int id)
{
    CConfigParvelApp& app = GetApp();
    switch (id) {
    case IDC_FORMAT_ADD:
        OnAdd();
        return;
    case IDC_FORMAT_CHANGE:
        OnChange();
        return;
    case IDC_FORMAT_DELETE:
        OnDelete((app.ConfirmFlags & CONFIRM_REMOVE_FORMATS) != 0);
        return;
    case IDC_ONLY_ENABLED: {
        const bool only = m_view.OnlyEnabled == 0;
        if (only != app.FormatsOnlyEnabled) {
            app.ModifiedFlags |= DATA_UI;
            app.FormatsOnlyEnabled = only;
            m_view.OnlyEnabled = only ? 1 : 0;
            m_view.Refresh();
        }
        SetCheck(IDC_ONLY_ENABLED, m_view.OnlyEnabled != 0);
        return;
    }
    case ID_TAB_ALL:
        if (app.FormatsKTGroup != 0) {
            app.ModifiedFlags |= DATA_UI;
            app.FormatsKTGroup = 0;
            if (m_view.FilterMask != 0) {
                m_view.FilterMask = 0;
                m_view.Refresh();
            }
            SelectTabByParam(0);
        }
        return;
    case ID_CUSTOMIZE_TABS:
        OnCustomizeTabs();
        return;
    default:
        if (id >= ID_GROUP_FIRST && id - ID_GROUP_FIRST < static_cast<int>(app.KTGroups.size()))
            ToggleGroupVisible(static_cast<size_t>(id - ID_GROUP_FIRST));
        return;
    }
}

void CZFormatsPage::OnAdd()
{
    CConfigParvelApp& app = GetApp();
    CDlgZFormat dialog;
    dialog.Library = &app.Formats;
    dialog.EditedIndex = -1;
    dialog.KeyTypes = m_view.FilterMask ? m_view.FilterMask : ALL_KEY_TYPES;
    if (AppDialogBox(dialog, IDD_FORMAT, m_hWnd) != IDOK)
        return;
    app.ModifiedFlags |= FormatEditModified(false, dialog.Enabled != 0, dialog.ReplacedEnabled);
    if (dialog.EditedIndex >= 0)
        m_keepSelected = dialog.EditedIndex;
    m_view.Refresh();
}

void CZFormatsPage::OnChange()
{
    CConfigParvelApp& app = GetApp();
    const int row = static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    const int64_t index = m_view.LibraryIndex(row);
    if (index < 0)
        return;
    const bool enabledBefore = app.Formats.at(static_cast<size_t>(index)).Enabled != 0;
    CDlgZFormat dialog;
    dialog.Library = &app.Formats;
    dialog.EditedIndex = index;
    if (AppDialogBox(dialog, IDD_FORMAT, m_hWnd) != IDOK)
        return;
    app.ModifiedFlags |= FormatEditModified(enabledBefore, dialog.Enabled != 0, dialog.ReplacedEnabled);
    m_keepSelected = dialog.EditedIndex;
    m_view.Refresh();
}

void CZFormatsPage::OnDelete(bool ask)
{
    CConfigParvelApp& app = GetApp();
    const int selected = SelectedCount(m_list);
    if (selected <= 0)
        return;
    if (ask && !ConfirmListRemoval(selected, m_hWnd))
        return;
    const bool enabledTouched = DeleteFormats(app.Formats, SelectedIndices(), m_view.FilterMask);
    app.ModifiedFlags |= DATA_LIBRARY | (enabledTouched ? DATA_ADDIN : 0);
    MarkFormatConflicts(app.Formats);
    m_keepSelected = -1; // the indices moved: the kept one would name another format
    m_view.Refresh();
    ListView_SelectCentered(m_list, -1);
    UpdateButtons();
}

void CZFormatsPage::OnCustomizeTabs()
{
    CConfigParvelApp& app = GetApp();
    CDlgKTGroups dialog(app.KTGroups);
    const int before = app.FormatsKTGroup;
    if (before >= 1 && before <= static_cast<int>(app.KTGroups.size()))
        dialog.Followed = before - 1;
    if (AppDialogBox(dialog, IDD_KT_GROUPS, m_hWnd) != IDOK)
        return;
    app.KTGroups = dialog.Groups;
    app.ModifiedFlags |= DATA_LIBRARY;
    // The selected group is followed through the dialog's edits: deleting a group before it moves
    // its number, and the tab must stay on the group itself (or go to "All" when it is gone).
    const int64_t group = dialog.Followed;
    if (group >= 0 && group < static_cast<int64_t>(app.KTGroups.size()) && app.KTGroups[static_cast<size_t>(group)].Visible) {
        app.FormatsKTGroup = static_cast<int>(group) + 1;
        m_view.FilterMask = app.KTGroups[static_cast<size_t>(group)].KeyTypes;
    } else {
        app.FormatsKTGroup = 0;
        m_view.FilterMask = 0;
    }
    if (app.FormatsKTGroup != before)
        app.ModifiedFlags |= DATA_UI;
    m_view.Refresh();
    FillTabs();
}

LRESULT CZFormatsPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        MakeChild();
        return TRUE;
    case WM_SIZE:
        Layout(LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return TRUE;
    case WM_USER + 1:
        if (m_buttonsPending)
            UpdateButtons();
        return TRUE;
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        LRESULT result = 0;
        if (hdr->idFrom == IDC_FORMATS_LIST && hdr->hwndFrom == m_list) {
            if (OnListNotify(hdr, result))
                return SetDlgResult(result);
        } else if (hdr->idFrom == IDC_FORMATS_TABS) {
            if (OnTabNotify(hdr, result))
                return SetDlgResult(result);
        } else if (ListView_ColumnResized(m_list, hdr)) {
            GetApp().ModifiedFlags |= DATA_UI;
        }
        return FALSE;
    }
    case WM_CONTEXTMENU:
        // Shift+F10 and the Menu key; a click's menus come with NM_RCLICK.
        if (ContextMenuByKeyboard(lParam) && reinterpret_cast<HWND>(wParam) == m_list)
            ShowListMenu(ContextMenuPoint(m_list, lParam));
        else if (ContextMenuByKeyboard(lParam) && reinterpret_cast<HWND>(wParam) == m_tab)
            ShowTabMenu(ContextMenuPoint(m_tab, lParam));
        else
            return FALSE;
        return TRUE;
    case WM_DESTROY:
        m_view.SetOwner(nullptr, nullptr);
        return FALSE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    default:
        return FALSE;
    }
}
