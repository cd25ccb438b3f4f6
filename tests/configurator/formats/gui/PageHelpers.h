// The key-format and page tests' hands on a list: a click at a point of it or at a column's
// header, a key pressed on it, all through the user's input (CUserInput), so that what the page
// gets is what the list and its header make of them; and the real add-in's path for the test host.
#pragma once
#include "App.h"
#include "AppFixture.h"
#include "UserInput.h"
#include <windows.h>
#include <commctrl.h>
#include <string>

namespace formats_test {

// WM_NOTIFY from `list` to its parent with `hdr` filled in; returns the dialog's DWLP_MSGRESULT.
// Only for what no user's action makes the list send here (drawing, and the empty-list text that
// Wine's list view never asks for).
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
inline void ClickAt(CUserInput& input, HWND list, POINT at)
{
    input.Click(list, at);
}

// The point of a row's check box, found by hit-testing along the row's left edge.
// A click at the middle of the button `id` of `dialog`, as a user's: a disabled or hidden button
// takes none. What the windows have pending comes first (a selection enables its buttons by a
// posted message), as it does before a user's hand gets there.
inline void ClickButton(CUserInput& input, HWND dialog, int id)
{
    input.PumpPending();
    HWND button = GetDlgItem(dialog, id);
    EXPECT_TRUE(button != nullptr) << "no button " << id;
    input.Click(button, CUserInput::Centre(button));
}

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

// The centre of a cell (of the label, in the first column).
inline POINT CellPoint(HWND list, int row, int column)
{
    return CUserInput::ListCell(list, row, column);
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

// A key pressed on the list, which has the focus as after the user's click on it; the program's
// loop (the dialog manager) delivers it.
inline void PressKey(CUserInput& input, HWND list, WORD key)
{
    SetFocus(list);
    input.PressKey(key, 0, list);
}

// A click on the header of column `column` of a report-view list.
inline void ClickColumn(CUserInput& input, HWND list, int column)
{
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    RECT item = {};
    SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
    input.Click(header, POINT{(item.left + item.right) / 2, (item.top + item.bottom) / 2});
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
