// Small window helpers shared by the test-bench pages and dialogs: list columns from the string
// table, leaving the test host's listeners, fonts and the time of the output lines.
#pragma once
#include "GdiHandles.h"
#include "ListViewHelpers.h"
#include <windows.h>
#include <commctrl.h>
#include <string>

class CTestParvel;

// Appends a report-view column with the string-table caption `captionId` (at least as wide as the
// caption needs).
void AddListColumn(HWND list, int index, UINT captionId, int width);
// The default widths, replaced by the saved ones where the settings have them, applied.
void ApplyColumnWidths(HWND list, const ColumnWidths& saved);
// The client width of a list minus `used`, never one of the list view's special negative values.
int RemainingColumnWidth(HWND list, int used, int minimum = 40);

// Takes the listeners of `context` off the test host when `listening` says it has some there;
// `listening` is false afterwards.
void StopListeningToHost(CTestParvel& host, void* context, bool& listening);

// A dialog font of the same face at another weight; the caller owns the result.
HFONT MakeFontLike(HWND control, int weight, int points, const wchar_t* face);

// Widens a combo box's drop-down list, never narrower than the box, so that `item` shows whole in it.
void FitDroppedWidth(HWND combo, const std::wstring& item);

// The local time of day as the output lines show it.
SYSTEMTIME LocalNow();
