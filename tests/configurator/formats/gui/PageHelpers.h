// What the key-format and page tests send as a user's clicks: notifications of a list view as the
// list itself sends them to its page, and the real add-in's path for the test host.
#pragma once
#include "App.h"
#include "AppFixture.h"
#include <windows.h>
#include <commctrl.h>
#include <string>

namespace formats_test {

// WM_NOTIFY from `list` to its parent with `hdr` filled in; returns the dialog's DWLP_MSGRESULT.
inline LRESULT SendNotify(HWND list, NMHDR& hdr, UINT code)
{
    hdr.hwndFrom = list;
    hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(list));
    hdr.code = code;
    HWND parent = GetParent(list);
    SetWindowLongPtrW(parent, DWLP_MSGRESULT, 0);
    SendMessageW(parent, WM_NOTIFY, hdr.idFrom, reinterpret_cast<LPARAM>(&hdr));
    return GetWindowLongPtrW(parent, DWLP_MSGRESULT);
}

// A click at a point of the list (client coordinates).
inline void ClickAt(HWND list, POINT at, UINT code = NM_CLICK)
{
    NMITEMACTIVATE click = {};
    click.ptAction = at;
    LVHITTESTINFO hit = {};
    hit.pt = at;
    click.iItem = static_cast<int>(SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    click.iSubItem = hit.iSubItem;
    SendNotify(list, click.hdr, code);
}

// The point of a row's check box, found by hit-testing along the row's left edge.
inline bool CheckBoxPoint(HWND list, int row, POINT& at)
{
    RECT bounds = {};
    bounds.left = LVIR_BOUNDS;
    if (!SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds)))
        return false;
    for (int x = bounds.left; x < bounds.left + 40; ++x) {
        LVHITTESTINFO hit = {};
        hit.pt = {x, (bounds.top + bounds.bottom) / 2};
        if (SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) == row &&
            hit.flags == LVHT_ONITEMSTATEICON) {
            at = hit.pt;
            return true;
        }
    }
    return false;
}

// The centre of a cell.
inline POINT CellPoint(HWND list, int row, int column)
{
    RECT cell = {};
    cell.top = column;
    cell.left = LVIR_BOUNDS;
    SendMessageW(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
    if (column == 0) {
        RECT label = {};
        label.left = LVIR_LABEL;
        SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&label));
        cell = label;
    }
    return {(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
}

inline void SelectRows(HWND list, std::initializer_list<int> rows)
{
    LVITEMW none = {};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    for (int row : rows) {
        LVITEMW item = {};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    }
}

inline void PressKey(HWND list, WORD key)
{
    NMLVKEYDOWN down = {};
    down.wVKey = key;
    SendNotify(list, down.hdr, LVN_KEYDOWN);
}

inline void ClickColumn(HWND list, int subItem)
{
    NMLISTVIEW click = {};
    click.iItem = -1;
    click.iSubItem = subItem;
    SendNotify(list, click.hdr, LVN_COLUMNCLICK);
}

inline std::wstring ItemText(HWND list, int row, int column)
{
    wchar_t buffer[512] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 512;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return buffer;
}

inline std::wstring ControlText(HWND control)
{
    wchar_t buffer[1024] = {};
    GetWindowTextW(control, buffer, 1024);
    return buffer;
}

// The add-in this build made, as a Wine path (the build passes a Unix path; Wine maps it under Z:).
inline std::wstring ParvelPath()
{
#ifdef PARVEL_DLL_PATH
    std::string unix = PARVEL_DLL_PATH;
    std::wstring path = L"Z:";
    for (char c : unix)
        path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return path;
#else
    return std::wstring();
#endif
}

inline bool HaveParvel()
{
    const std::wstring path = ParvelPath();
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace formats_test
