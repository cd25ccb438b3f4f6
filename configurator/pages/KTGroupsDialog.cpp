// The key-type groups dialogs (see KTGroupsDialog.h).
#include "KTGroupsDialog.h"
#include "App.h"
#include "AppMessageBox.h"
#include "AppResource.h"
#include "EditableList.h"
#include "EntryCollapse.h"
#include "FormatListLogic.h"
#include "FormatsPageRes.h"
#include "KTGroupsRes.h"
#include "KeyTypeTexts.h"
#include "KeyTypesRes.h"
#include "DpiScale.h"
#include "ListViewHelpers.h"
#include "ModuleState.h"
#include "UiSeam.h"
#include "WFormat.h"
#include <algorithm>

namespace {

const int MinTrackWidth = 440;
const int MinTrackHeight = 250;
// Between the buttons kept left and those kept right, at the dialog's smallest width.
const int ButtonsGap = 6;
// The room the design leaves beside the columns, which the name column does not take.
const int NameColumnSpare = 16;

} // namespace

// --- the list of groups ---------------------------------------------------------------------------

void CDlgKTGroups::OnListChangedThunk(void* context, CVirtualListViewData*)
{
    static_cast<CDlgKTGroups*>(context)->OnListChanged();
}

void CDlgKTGroups::OnInitDialog()
{
    CConfigParvelApp& app = GetApp();
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadIconW(ModuleHandle, MAKEINTRESOURCEW(IDI_APP))));
    m_list = GetItem(IDC_GROUPS_LIST);
    m_anchors.SetOwner(m_hWnd);
    m_anchors.AddControl(IDC_GROUPS_LIST, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : {IDC_GROUP_ADD, IDC_GROUP_CHANGE, IDC_GROUP_DELETE})
        m_anchors.AddControl(id, ANCHOR_LEFT | ANCHOR_BOTTOM);
    for (int id : {IDOK, IDCANCEL})
        m_anchors.AddControl(id, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_anchors.Capture();
    // The template leaves the two rows of buttons a few dialog units apart; the design's smallest
    // width is less than the template's in a language whose font makes it wider (Russian).
    RECT window, left, right;
    GetWindowRect(m_hWnd, &window);
    GetWindowRect(GetItem(IDC_GROUP_DELETE), &left);
    GetWindowRect(GetItem(IDOK), &right);
    m_buttonsApartWidth = window.right - window.left - (right.left - left.right) + ScalePixels(ButtonsGap);

    SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES,
                 LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES);
    SendMessageW(m_list, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
    RECT client;
    GetClientRect(m_list, &client);
    const int widths[3] = {ScalePixels(35),
                           ClampColumnWidth(client.right - ScalePixels(35 + 100 + NameColumnSpare), ScalePixels(50)),
                           ScalePixels(100)};
    ListView_AddTitledColumns(m_list, IDS_GROUP_COLUMN_FIRST, widths, 3);
    ListView_InitSortImages(m_list);
    ListView_SetColumnWidths(m_list, app.KTGroupsColumns);
    ListView_FitColumnToList(m_list, 1, ScalePixels(NameColumnSpare), ScalePixels(50), app.KTGroupsColumns);
    m_view.SetOwner(this, &OnListChangedThunk);
    m_view.Groups = &Groups;
    m_view.SortColumn = app.KTGroupsSortColumn;
    m_view.Refresh();
    UpdateButtons();
    RestorePlacement(app.KTGroupsRect);
}

void CDlgKTGroups::UpdateButtons()
{
    m_buttonsPending = 0;
    const int selected = static_cast<int>(SendMessageW(m_list, LVM_GETSELECTEDCOUNT, 0, 0));
    EnableItem(IDC_GROUP_DELETE, selected >= 1);
    EnableItem(IDC_GROUP_CHANGE, selected == 1);
}

void CDlgKTGroups::OnListChanged()
{
    const int track = ListView_GetTrackPos(m_list);
    SendMessageW(m_list, LVM_SETITEMCOUNT, m_view.GetItemCount(), 0);
    ListView_ShowSortColumn(m_list, m_shownSort, m_view.SortColumn);
    ListView_RestoreScrollPos(m_list, track);
    InvalidateRect(m_list, nullptr, TRUE);
}

void CDlgKTGroups::RunGroupDialog(int64_t index)
{
    CDlgKTGroup dialog;
    dialog.Groups = &Groups;
    dialog.Followed = &Followed;
    dialog.EditedIndex = index;
    if (AppDialogBox(dialog, IDD_KT_GROUP, m_hWnd) != IDOK)
        return;
    m_view.Refresh();
    ListView_SelectCentered(m_list, static_cast<int>(m_view.RowOf(dialog.EditedIndex)));
}

void CDlgKTGroups::OnAdd()
{
    RunGroupDialog(-1);
}

void CDlgKTGroups::OnChange()
{
    const int row = static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    const int64_t index = m_view.GroupIndex(row);
    if (index >= 0)
        RunGroupDialog(index);
}

void CDlgKTGroups::OnDelete()
{
    const int selected = static_cast<int>(SendMessageW(m_list, LVM_GETSELECTEDCOUNT, 0, 0));
    if (selected <= 0)
        return;
    if (!ConfirmListRemoval(selected, m_hWnd))
        return;
    std::vector<int64_t> indices;
    int row = -1;
    while ((row = static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0) {
        const int64_t index = m_view.GroupIndex(row);
        if (index >= 0)
            indices.push_back(index);
    }
    std::sort(indices.begin(), indices.end());
    for (auto it = indices.rbegin(); it != indices.rend(); ++it) {
        Groups.erase(Groups.begin() + *it);
        Followed = FollowErase(Followed, *it, -1);
    }
    m_view.Refresh();
    ListView_SelectCentered(m_list, -1);
}

void CDlgKTGroups::ToggleVisible(int row)
{
    const int64_t index = m_view.GroupIndex(row);
    if (index < 0)
        return;
    KeyTypeGroup& group = Groups.at(static_cast<size_t>(index));
    group.Visible = group.Visible ? 0 : 1;
    SendMessageW(m_list, LVM_REDRAWITEMS, row, row);
}

void CDlgKTGroups::ShowMenu(POINT at)
{
    HMENU menu = LoadMenuW(ModuleHandle, MAKEINTRESOURCEW(IDM_KT_GROUPS));
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, 0);
    const int selected = static_cast<int>(SendMessageW(m_list, LVM_GETSELECTEDCOUNT, 0, 0));
    EnableMenuItem(popup, IDC_GROUP_CHANGE, MF_BYCOMMAND | (selected == 1 ? MF_ENABLED : MF_GRAYED));
    EnableMenuItem(popup, IDC_GROUP_DELETE, MF_BYCOMMAND | (selected >= 1 ? MF_ENABLED : MF_GRAYED));
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, m_hWnd, nullptr);
    DestroyMenu(menu);
}

bool CDlgKTGroups::OnNotify(NMHDR* hdr, LRESULT& result)
{
    CConfigParvelApp& app = GetApp();
    result = 0;
    if (m_view.HandleNotify(hdr))
        return true;
    switch (hdr->code) {
    case LVN_KEYDOWN:
        if (!ListView_SpaceTogglesChecks(m_list, hdr, [this](int row) { ToggleVisible(row); }))
            OnEditableListKey(m_list, hdr, [this] { OnAdd(); }, [this] { OnDelete(); });
        return true;
    case LVN_ITEMCHANGED:
    case LVN_ODSTATECHANGED: {
        UINT oldState, newState;
        if (hdr->code == LVN_ITEMCHANGED) {
            NMLISTVIEW* change = reinterpret_cast<NMLISTVIEW*>(hdr);
            if (!(change->uChanged & LVIF_STATE))
                return true;
            oldState = change->uOldState;
            newState = change->uNewState;
        } else {
            NMLVODSTATECHANGE* change = reinterpret_cast<NMLVODSTATECHANGE*>(hdr);
            oldState = change->uOldState;
            newState = change->uNewState;
        }
        if (((oldState ^ newState) & LVIS_SELECTED) && !m_buttonsPending) {
            m_buttonsPending = 1;
            PostMessageW(m_hWnd, WM_USER + 1, 0, 0);
        }
        return true;
    }
    case LVN_COLUMNCLICK: {
        const int32_t column = reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem + 1;
        const int32_t sort = NextSortColumn(m_view.SortColumn, column);
        if (sort != app.KTGroupsSortColumn) {
            app.KTGroupsSortColumn = sort;
            app.ModifiedFlags |= DATA_UI;
        }
        if (sort != m_view.SortColumn) {
            m_view.SortColumn = sort;
            m_view.Refresh();
        }
        return true;
    }
    case NM_RCLICK:
        ShowMenu(ContextMenuPoint(m_list, GetMessagePos()));
        result = TRUE;
        return true;
    case NM_RETURN:
        if (SendMessageW(m_list, LVM_GETSELECTEDCOUNT, 0, 0) == 1)
            OnChange();
        return true;
    case NM_DBLCLK: {
        NMITEMACTIVATE* click = reinterpret_cast<NMITEMACTIVATE*>(hdr);
        if (click->iItem >= 0 && ListView_CheckBoxClicked(hdr) < 0)
            OnChange();
        result = TRUE;
        return true;
    }
    case NM_CLICK:
        ToggleVisible(ListView_CheckBoxClicked(hdr));
        return true;
    default:
        return false;
    }
}

LRESULT CDlgKTGroups::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE;
    case WM_GETMINMAXINFO: {
        MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = std::max(ScaleForTemplates(MinTrackWidth, false), m_buttonsApartWidth);
        info->ptMinTrackSize.y = ScaleForTemplates(MinTrackHeight, true);
        return TRUE;
    }
    case WM_SIZE:
        m_anchors.Apply(LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        LRESULT result = 0;
        if (hdr->idFrom == IDC_GROUPS_LIST && hdr->hwndFrom == m_list) {
            if (OnNotify(hdr, result))
                return SetDlgResult(result);
        } else if (ListView_ColumnResized(m_list, hdr)) {
            GetApp().ModifiedFlags |= DATA_UI;
        }
        return FALSE;
    }
    case WM_CONTEXTMENU:
        // Shift+F10 and the Menu key; a click's menu comes with NM_RCLICK.
        if (!ContextMenuByKeyboard(lParam) || reinterpret_cast<HWND>(wParam) != m_list)
            return FALSE;
        ShowMenu(ContextMenuPoint(m_list, lParam));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(m_hWnd, LOWORD(wParam));
            return TRUE;
        case IDC_GROUP_ADD:
            OnAdd();
            return TRUE;
        case IDC_GROUP_CHANGE:
            OnChange();
            return TRUE;
        case IDC_GROUP_DELETE:
            OnDelete();
            return TRUE;
        default:
            return FALSE;
        }
    case WM_USER + 1:
        if (m_buttonsPending)
            UpdateButtons();
        return TRUE;
    case WM_DESTROY: {
        CConfigParvelApp& app = GetApp();
        ListView_GetColumnWidths(m_list, app.KTGroupsColumns);
        if (KeepPlacement(app.KTGroupsRect))
            app.ModifiedFlags |= DATA_UI;
        m_view.SetOwner(nullptr, nullptr);
        return FALSE;
    }
    default:
        return FALSE;
    }
}

// --- one group ----------------------------------------------------------------------------------------

void CDlgKTGroup::OnInitDialog()
{
    HWND list = GetItem(IDC_GROUP_KEY_TYPES);
    ListView_InitCheckList(list);
    m_types.SetOwner(list, &CVirtualListViewData::ShowCountIn);
    if (Groups && EditedIndex >= 0 && EditedIndex < static_cast<int64_t>(Groups->size())) {
        const KeyTypeGroup& group = (*Groups)[static_cast<size_t>(EditedIndex)];
        Visible = group.Visible;
        Name = group.Name;
        m_types.Mask = group.KeyTypes;
    } else {
        EditedIndex = -1;
        Visible = 1;
        Name.clear();
        m_types.Mask = 0;
    }
    UpdateData(false);
    ShowMask();
    m_types.FillCache();
    m_types.FireEvent();
    CenterWindow();
}

void CDlgKTGroup::UpdateData(bool save)
{
    if (save) {
        Visible = IsChecked(IDC_GROUP_VISIBLE) ? 1 : 0;
        GetDlgItemText(IDC_GROUP_NAME, Name);
        return;
    }
    SetCheck(IDC_GROUP_VISIBLE, Visible != 0);
    SetDlgItemTextW(m_hWnd, IDC_GROUP_NAME, Name.c_str());
}

void CDlgKTGroup::ShowMask()
{
    SetDlgItemTextW(m_hWnd, IDC_GROUP_MASK, MaskHexText(m_types.Mask).c_str());
}

void CDlgKTGroup::SetMask(uint32_t mask)
{
    if (mask == m_types.Mask)
        return;
    m_types.Mask = mask;
    ShowMask();
    InvalidateRect(GetItem(IDC_GROUP_KEY_TYPES), nullptr, TRUE);
}

bool CDlgKTGroup::Collapse(int64_t existing, const std::wstring& question, int focus)
{
    if (AppMessageBox(question, MB_OKCANCEL | MB_ICONERROR, m_hWnd) != IDOK) {
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetItem(focus)), TRUE);
        return false;
    }
    int64_t unfollowed = -1;
    EditedIndex = CollapseEntries(*Groups, EditedIndex, existing, Followed ? *Followed : unfollowed);
    return true;
}

bool CDlgKTGroup::OnOK()
{
    UpdateData(true);
    if (Name.empty()) {
        AppMessageBox(IDS_FIELD_REQUIRED, MB_ICONERROR, m_hWnd);
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetItem(IDC_GROUP_NAME)), TRUE);
        return false;
    }
    KeyTypeGroupList& groups = *Groups;
    for (size_t i = 0; i < groups.size(); ++i) {
        if (groups[i].Name != Name)
            continue;
        if (static_cast<int64_t>(i) != EditedIndex) {
            std::wstring question;
            FormatResString(question, IDS_GROUP_NAME_EXISTS, Name.c_str());
            if (!Collapse(static_cast<int64_t>(i), question, IDC_GROUP_NAME))
                return false;
        }
        break;
    }
    const uint32_t mask = m_types.Mask;
    if (mask != 0 && mask != ALL_KEY_TYPES) {
        for (size_t i = 0; i < groups.size(); ++i) {
            if (groups[i].KeyTypes != mask)
                continue;
            if (static_cast<int64_t>(i) != EditedIndex) {
                std::wstring question;
                FormatResString(question, IDS_GROUP_MASK_EXISTS, mask);
                if (!Collapse(static_cast<int64_t>(i), question, IDC_GROUP_KEY_TYPES))
                    return false;
            }
            break;
        }
    }
    KeyTypeGroup group;
    group.Name = Name;
    group.KeyTypes = mask;
    group.Visible = Visible;
    EditedIndex = StoreEntry(groups, EditedIndex, group);
    return true;
}

bool CDlgKTGroup::OnListNotify(NMHDR* hdr, LRESULT& result)
{
    result = 0;
    uint32_t mask = m_types.Mask;
    if (!m_types.HandleEditNotify(hdr, m_hWnd, mask))
        return false;
    SetMask(mask);
    return true;
}

LRESULT CDlgKTGroup::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        // The group is named first: the name takes the focus, not the Visible check box above it.
        // Posted, as the dialog manager focuses the first tab stop when it shows the dialog.
        PostMessageW(hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetItem(IDC_GROUP_NAME)), TRUE);
        return FALSE;
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        LRESULT result = 0;
        if (hdr->idFrom == IDC_GROUP_KEY_TYPES && OnListNotify(hdr, result))
            return SetDlgResult(result);
        return FALSE;
    }
    case WM_CONTEXTMENU:
        // Shift+F10 and the Menu key; a click's menu comes with NM_RCLICK.
        if (!ContextMenuByKeyboard(lParam) || reinterpret_cast<HWND>(wParam) != GetItem(IDC_GROUP_KEY_TYPES))
            return FALSE;
        CKeyTypesView::ShowMenu(GetItem(IDC_GROUP_KEY_TYPES), m_hWnd, lParam);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case ID_KEY_TYPES_CHECK_ALL:
            SetMask(ALL_KEY_TYPES);
            return TRUE;
        case ID_KEY_TYPES_UNCHECK_ALL:
            SetMask(0);
            return TRUE;
        case IDOK:
            if (OnOK())
                EndDialog(m_hWnd, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(m_hWnd, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_DESTROY:
        m_types.SetOwner(nullptr, nullptr);
        return FALSE;
    default:
        return FALSE;
    }
}
