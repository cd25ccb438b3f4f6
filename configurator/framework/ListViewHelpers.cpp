// List-view, header and tab-control functions.
#include "ListViewHelpers.h"
#include "AppMessageBox.h"
#include "AppResource.h"
#include "ModuleState.h"
#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

HIMAGELIST g_sortImages = nullptr;

bool HeaderDrawsArrows(HWND header)
{
    return SendMessageW(header, CCM_GETVERSION, 0, 0) >= 6;
}

} // namespace

void ListView_SelectCentered(HWND list, int item)
{
    LVITEMW lvi = {};
    lvi.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    lvi.state = 0;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&lvi));
    if (item == -1)
        return;
    lvi.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&lvi));
    const int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
    const int half = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0)) / 2;
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    int target;
    if (item >= top + half)
        target = std::min(item + half, count - 1);
    else
        target = std::max(item - (half - 1), 0);
    SendMessageW(list, LVM_ENSUREVISIBLE, target, TRUE);
}

int ListView_GetTrackPos(HWND list)
{
    SCROLLINFO si = {};
    si.cbSize = sizeof(si);
    si.fMask = SIF_TRACKPOS;
    GetScrollInfo(list, SB_VERT, &si);
    return si.nTrackPos;
}

bool ListView_RestoreScrollPos(HWND list, int savedPos)
{
    RECT r = {};
    r.left = LVIR_BOUNDS;
    if (!SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&r)))
        return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 0;
    const int rowHeight = r.bottom - r.top;
    const int current = ListView_GetTrackPos(list);
    return SendMessageW(list, LVM_SCROLL, 0, rowHeight * (savedPos - current)) != 0;
}

bool ListView_InitSortImages(HWND list)
{
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    if (!header)
        return false;
    if (HeaderDrawsArrows(header))
        return true;
    if (!g_sortImages)
        g_sortImages = ImageList_LoadImageW(ModuleHandle, MAKEINTRESOURCEW(IDB_SORT_ARROWS), 16, 2, RGB(255, 0, 255),
                                            IMAGE_BITMAP, LR_CREATEDIBSECTION | LR_SHARED);
    if (!g_sortImages)
        return false;
    SendMessageW(header, HDM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(g_sortImages));
    return true;
}

void DestroySortImages()
{
    if (g_sortImages)
    {
        ImageList_Destroy(g_sortImages);
        g_sortImages = nullptr;
    }
}

bool ListView_SetSortArrow(HWND list, int column, bool ascending)
{
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    if (!header)
        return false;
    HDITEMW item = {};
    item.mask = HDI_FORMAT;
    if (!SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item)))
        return false;
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (HeaderDrawsArrows(header))
    {
        item.fmt |= ascending ? HDF_SORTUP : HDF_SORTDOWN;
        if (!SendMessageW(header, HDM_SETITEMW, column, reinterpret_cast<LPARAM>(&item)))
            return false;
        SendMessageW(list, LVM_SETSELECTEDCOLUMN, column, 0);
        return true;
    }
    item.mask = HDI_FORMAT | HDI_BITMAP | HDI_IMAGE;
    item.fmt |= HDF_BITMAP_ON_RIGHT | HDF_IMAGE;
    item.iImage = ascending ? 0 : 1;
    item.hbm = nullptr;
    return SendMessageW(header, HDM_SETITEMW, column, reinterpret_cast<LPARAM>(&item)) != 0;
}

bool ListView_ClearSortArrow(HWND list, int column)
{
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    if (!header)
        return false;
    HDITEMW item = {};
    item.mask = HDI_FORMAT;
    if (!SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item)))
        return false;
    // Without the header's own arrows the image is what shows the order: it goes with the flags.
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN | HDF_IMAGE | HDF_BITMAP_ON_RIGHT);
    return SendMessageW(header, HDM_SETITEMW, column, reinterpret_cast<LPARAM>(&item)) != 0;
}

bool ListView_GetColumnWidths(HWND list, ColumnWidths& widths)
{
    widths.clear();
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    if (!header)
        return false;
    const int count = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        widths.emplace_back(i + 1, static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, i, 0)));
    return true;
}

bool ListView_SetColumnWidths(HWND list, const ColumnWidths& widths)
{
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    if (!header)
        return false;
    const int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    const int n = std::min(columns, static_cast<int>(widths.size()));
    for (int k = 0; k < n; ++k)
    {
        if (widths[k].first == 0)
            continue;
        // A stored width is a user's drag; a negative one would ask for auto-sizing instead.
        SendMessageW(list, LVM_SETCOLUMNWIDTH, k, ClampColumnWidth(widths[k].second));
    }
    return true;
}

int ClampColumnWidth(int width, int minimum)
{
    return std::max(width, std::max(minimum, 0));
}

int TabCtrl_FindByParam(HWND tab, LPARAM param)
{
    const int count = static_cast<int>(SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
    {
        TCITEMW item = {};
        item.mask = TCIF_PARAM;
        if (SendMessageW(tab, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item)) && item.lParam == param)
            return i;
    }
    return -1;
}

void ListView_ShowSortColumn(HWND list, int32_t& shown, int32_t sort)
{
    if (sort == shown)
        return;
    if (shown != 0)
        ListView_ClearSortArrow(list, std::abs(shown) - 1);
    if (sort != 0)
        ListView_SetSortArrow(list, std::abs(sort) - 1, sort > 0);
    shown = sort;
}

bool ListView_ColumnResized(HWND list, const NMHDR* hdr)
{
    return list && hdr->code == HDN_ENDTRACKW &&
           hdr->hwndFrom == reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
}

void ListView_SelectAll(HWND list)
{
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
}

int ListView_TitleWidth(HWND list, const std::wstring& title)
{
    // The header leaves three edges on either side of its text and draws its divider on the right.
    const int edge = GetSystemMetrics(SM_CXEDGE);
    const int text = static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(title.c_str())));
    return text + 2 * 3 * edge + 2 * edge;
}

void ListView_AddTitledColumn(HWND list, int index, const std::wstring& title, int width)
{
    std::wstring text = title;
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = std::max(width, ListView_TitleWidth(list, title));
    column.pszText = &text[0];
    column.iSubItem = index;
    SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

void ListView_AddTitledColumns(HWND list, UINT firstTitle, const int* widths, int count)
{
    for (int i = 0; i < count; ++i)
        ListView_AddTitledColumn(list, i, LoadAppString(firstTitle + i), widths[i]);
}

void ListView_InitCheckList(HWND list)
{
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES);
    SendMessageW(list, LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
    RECT client;
    GetClientRect(list, &client);
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    // A list narrower than a scroll bar would ask for a negative width, which the list view reads as
    // one of its auto-size codes.
    column.cx = ClampColumnWidth(client.right - GetSystemMetrics(SM_CXVSCROLL));
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
}

bool ListView_HitOnStateIconOnly(UINT flags)
{
    return (flags & LVHT_ONITEM) == LVHT_ONITEMSTATEICON;
}

namespace {

const UINT_PTR WantReturnSubclass = 1;

LRESULT CALLBACK WantReturnProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR)
{
    if (message == WM_GETDLGCODE) {
        LRESULT code = DefSubclassProc(hWnd, message, wParam, lParam);
        const MSG* msg = reinterpret_cast<const MSG*>(lParam);
        if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN)
            code |= DLGC_WANTMESSAGE;
        return code;
    }
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(hWnd, WantReturnProc, id);
    return DefSubclassProc(hWnd, message, wParam, lParam);
}

} // namespace

void ListView_WantReturn(HWND list)
{
    SetWindowSubclass(list, WantReturnProc, WantReturnSubclass, 0);
}

namespace {

const UINT_PTR FitColumnSubclass = 2;

// What the list's client width leaves for `column` after the other columns and `spare` pixels,
// never below `minimum` nor below what the column's title needs.
int RemainingWidth(HWND list, int column, int spare, int minimum)
{
    RECT client = {};
    GetClientRect(list, &client);
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int columns = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    int used = spare;
    for (int c = 0; c < columns; ++c)
        if (c != column)
            used += static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0));
    wchar_t title[256] = {};
    LVCOLUMNW item = {};
    item.mask = LVCF_TEXT;
    item.pszText = title;
    item.cchTextMax = 256;
    if (SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&item)))
        minimum = std::max(minimum, ListView_TitleWidth(list, title));
    return ClampColumnWidth(client.right - client.left - used, minimum);
}

// The column, the spare room and the minimum travel in the subclass's reference data.
LRESULT CALLBACK FitColumnProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data)
{
    static const UINT fitNow = RegisterWindowMessageW(L"ParvelFitColumnToList");
    if (message == fitNow && fitNow != 0) {
        const int column = static_cast<int>(data & 0xFF);
        const int minimum = static_cast<int>((data >> 8) & 0xFFFF);
        const int spare = static_cast<int>((data >> 24) & 0xFFFF);
        SendMessageW(hWnd, LVM_SETCOLUMNWIDTH, column, RemainingWidth(hWnd, column, spare, minimum));
        RemoveWindowSubclass(hWnd, FitColumnProc, id);
        return 0;
    }
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(hWnd, FitColumnProc, id);
    return DefSubclassProc(hWnd, message, wParam, lParam);
}

} // namespace

void ListView_FitColumnToList(HWND list, int column, int spare, int minimum, const ColumnWidths& saved)
{
    if (column < 0 || (static_cast<size_t>(column) < saved.size() && saved[static_cast<size_t>(column)].first != 0))
        return;
    SendMessageW(list, LVM_SETCOLUMNWIDTH, column, RemainingWidth(list, column, spare, minimum));
    const UINT fitNow = RegisterWindowMessageW(L"ParvelFitColumnToList");
    const DWORD_PTR data = static_cast<DWORD_PTR>(column & 0xFF) | (static_cast<DWORD_PTR>(minimum & 0xFFFF) << 8) |
                           (static_cast<DWORD_PTR>(spare & 0xFFFF) << 24);
    if (fitNow && SetWindowSubclass(list, FitColumnProc, FitColumnSubclass, data))
        PostMessageW(list, fitNow, 0, 0);
}

int ListView_CheckBoxClicked(NMHDR* hdr)
{
    NMITEMACTIVATE* click = reinterpret_cast<NMITEMACTIVATE*>(hdr);
    LVHITTESTINFO hit = {};
    hit.pt = click->ptAction;
    const int row = static_cast<int>(SendMessageW(hdr->hwndFrom, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (row < 0 || hit.iSubItem != 0 || !(hit.flags & LVHT_ONITEMSTATEICON) ||
        (hit.flags & (LVHT_ONITEMICON | LVHT_ONITEMLABEL)))
        return -1;
    return row;
}

bool ListView_SpaceTogglesChecks(HWND list, const NMHDR* keyDown, const std::function<void(int row)>& toggle)
{
    if (reinterpret_cast<const NMLVKEYDOWN*>(keyDown)->wVKey != VK_SPACE || GetKeyState(VK_CONTROL) < 0 ||
        GetKeyState(VK_MENU) < 0)
        return false;
    if (!(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES))
        return false;
    const int focused = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    if (focused < 0)
        return true;
    auto checked = [list](int row) {
        return SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
    };
    const bool target = !checked(focused);
    std::vector<int> rows;
    if (SendMessageW(list, LVM_GETITEMSTATE, focused, LVIS_SELECTED) & LVIS_SELECTED) {
        int row = -1;
        while ((row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0)
            rows.push_back(row);
    } else {
        rows.push_back(focused);
    }
    // The states are read before any changes: a toggle may rebuild the rows behind the list.
    std::vector<int> changing;
    for (int row : rows)
        if (checked(row) != target)
            changing.push_back(row);
    for (int row : changing)
        toggle(row);
    return true;
}

bool ContextMenuByKeyboard(LPARAM position)
{
    return static_cast<short>(LOWORD(position)) == -1 && static_cast<short>(HIWORD(position)) == -1;
}

POINT ContextMenuPoint(HWND control, LPARAM position)
{
    if (!ContextMenuByKeyboard(position))
        return {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    RECT r = {};
    GetClientRect(control, &r);
    r.bottom = r.top;
    wchar_t cls[32] = {};
    GetClassNameW(control, cls, 32);
    if (_wcsicmp(cls, WC_LISTVIEWW) == 0) {
        const int row = static_cast<int>(SendMessageW(control, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
        RECT item = {};
        item.left = LVIR_LABEL;
        if (row >= 0 && SendMessageW(control, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&item)))
            r = item;
    } else if (_wcsicmp(cls, WC_TABCONTROLW) == 0) {
        const int tab = static_cast<int>(SendMessageW(control, TCM_GETCURSEL, 0, 0));
        RECT item = {};
        if (tab >= 0 && SendMessageW(control, TCM_GETITEMRECT, tab, reinterpret_cast<LPARAM>(&item)))
            r = item;
    }
    POINT at = {r.left, r.bottom};
    ClientToScreen(control, &at);
    return at;
}

void ShowPopupMenu(UINT menuId, HWND owner, POINT at)
{
    HMENU menu = LoadMenuW(ModuleHandle, MAKEINTRESOURCEW(menuId));
    if (!menu)
        return;
    TrackPopupMenu(GetSubMenu(menu, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr);
    DestroyMenu(menu);
}
