// Functions over list views, their headers and tab controls, shared by every list of the program.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Pairs (1-based column number, width) as the settings file keeps them per list.
using ColumnWidths = std::vector<std::pair<int, int>>;

// Clears selection and focus of all items; for an item other than -1 selects and focuses it and
// scrolls it near the middle of the view.
void ListView_SelectCentered(HWND list, int item);
// After the item count changed: scrolls back to the vertical row position read before.
bool ListView_RestoreScrollPos(HWND list, int savedPos);
// Vertical track position of the list (what ListView_RestoreScrollPos takes back).
int ListView_GetTrackPos(HWND list);

// Sort arrows in the header: drawn by the header itself from common controls 6 on, otherwise as
// images from bitmap 136 (one process-wide image list, created on first use).
bool ListView_InitSortImages(HWND list);
bool ListView_SetSortArrow(HWND list, int column, bool ascending);
bool ListView_ClearSortArrow(HWND list, int column);
// Destroys the process-wide sort-arrow image list (with the main window).
void DestroySortImages();
// Moves the arrow from the column of `shown` to that of `sort` (signed 1-based sort columns, 0 for
// none, negative for descending); `shown` then holds `sort`.
void ListView_ShowSortColumn(HWND list, int32_t& shown, int32_t sort);

// Whether `hdr` reports the end of a column resize in the header of `list` (null: never).
bool ListView_ColumnResized(HWND list, const NMHDR* hdr);
// Selects every item (Ctrl+A).
void ListView_SelectAll(HWND list);

// The width a column needs for `title` to show whole in the list's header: the text in the list's
// font, the header's margins on both sides and its divider.
int ListView_TitleWidth(HWND list, const std::wstring& title);
// Inserts left-aligned column `index` titled `title`: `width` wide, or as wide as the title needs
// in the program's language where that is more.
void ListView_AddTitledColumn(HWND list, int index, const std::wstring& title, int width);
// Appends `count` such columns titled by the strings from `firstTitle` on.
void ListView_AddTitledColumns(HWND list, UINT firstTitle, const int* widths, int count);
// A check list: one untitled column as wide as the list less a scroll bar, with check boxes whose
// state the list asks its adapter for.
void ListView_InitCheckList(HWND list);
// The row whose check box an NM_CLICK landed on, or -1.
int ListView_CheckBoxClicked(NMHDR* click);
// Space in a list with check boxes (an LVN_KEYDOWN of `list`, neither Ctrl nor Alt held): the
// focused row's box changes, and when that row is one of several selected rows every selected row
// takes its new state. `toggle` does to a row what a click on its box does; it runs once for each
// row whose box changes. The lists keep their check state themselves (owner data), so the list
// view does not change it on its own. False for any other key and in a list without check boxes.
bool ListView_SpaceTogglesChecks(HWND list, const NMHDR* keyDown, const std::function<void(int row)>& toggle);
// Whether hit-test flags name a row's check box and no other part of the row. A full-row-select
// list reports a hit beside the label as LVHT_ONITEM, which holds the state-icon bit as well.
bool ListView_HitOnStateIconOnly(UINT flags);
// Lets Enter reach a list inside a dialog or page as NM_RETURN: the dialog manager would take it
// for the default button. The list claims the key in WM_GETDLGCODE until it is destroyed.
void ListView_WantReturn(HWND list);
// Where the context menu of `control` opens, in screen coordinates, from the position that
// WM_CONTEXTMENU carries: a click's point as it is; for the keyboard (Shift+F10 or the Menu key,
// position -1, -1) below the focused row of a list view or the chosen tab of a tab control, and
// at the top left of any other control.
POINT ContextMenuPoint(HWND control, LPARAM position);
// Whether WM_CONTEXTMENU's position comes from the keyboard (-1, -1).
bool ContextMenuByKeyboard(LPARAM position);
// The first submenu of the menu resource `menuId` at `at` (screen); its commands go to `owner`.
void ShowPopupMenu(UINT menuId, HWND owner, POINT at);

bool ListView_GetColumnWidths(HWND list, ColumnWidths& widths);
bool ListView_SetColumnWidths(HWND list, const ColumnWidths& widths);
// A width for LVM_SETCOLUMNWIDTH computed from the client width: never one of the list view's
// special negative values (LVSCW_AUTOSIZE -1, LVSCW_AUTOSIZE_USEHEADER -2), never below `minimum`.
int ClampColumnWidth(int width, int minimum = 0);

// Gives `column` what the list's client width leaves after the other columns as they are and
// `spare` pixels more (the room the design leaves beside them), never below `minimum` nor below
// what its title needs; now and again once the list has its final size: a page is made at its
// template's size and laid out by its owner afterwards, before the message loop runs again. Nothing
// when `saved` holds a width for the column (the user's own, applied by ListView_SetColumnWidths).
void ListView_FitColumnToList(HWND list, int column, int spare, int minimum, const ColumnWidths& saved);

// Index of the first tab whose item parameter equals `param`; -1 when none.
int TabCtrl_FindByParam(HWND tab, LPARAM param);
