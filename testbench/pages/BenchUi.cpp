// Helpers of the test-bench pages.
#include "BenchUi.h"
#include "AppMessageBox.h"
#include "TestHost.h"

void AddListColumn(HWND list, int index, UINT captionId, int width)
{
    ListView_AddTitledColumn(list, index, LoadAppString(captionId), width);
}

void ApplyColumnWidths(HWND list, const ColumnWidths& saved)
{
    if (!saved.empty())
        ListView_SetColumnWidths(list, saved);
}

int RemainingColumnWidth(HWND list, int used, int minimum)
{
    RECT client = {};
    GetClientRect(list, &client);
    return ClampColumnWidth(client.right - client.left - used, minimum);
}

void StopListeningToHost(CTestParvel& host, void* context, bool& listening)
{
    if (listening)
        host.RemoveListeners(context);
    listening = false;
}

HFONT MakeFontLike(HWND control, int weight, int points, const wchar_t* face)
{
    LOGFONTW font = {};
    HFONT current = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    if (!current || !GetObjectW(current, sizeof(font), &font))
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
    font.lfWeight = weight;
    font.lfHeight = -MulDiv(points, GetDeviceCaps(CWindowTextDc(control).Get(), LOGPIXELSY), 72);
    wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
    font.lfFaceName[LF_FACESIZE - 1] = 0;
    return CreateFontIndirectW(&font);
}

SYSTEMTIME LocalNow()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    return t;
}

void FitDroppedWidth(HWND combo, const std::wstring& item)
{
    CWindowTextDc dc(combo);
    SIZE size = {};
    if (!dc.Get() || !GetTextExtentPoint32W(dc.Get(), item.c_str(), static_cast<int>(item.size()), &size))
        return;
    // The list's border and its item margins on both sides, and room for its scroll bar.
    const int needed = size.cx + 4 * GetSystemMetrics(SM_CXEDGE) + 8 + GetSystemMetrics(SM_CXVSCROLL);
    const LRESULT current = SendMessageW(combo, CB_GETDROPPEDWIDTH, 0, 0);
    if (current != CB_ERR && needed > current)
        SendMessageW(combo, CB_SETDROPPEDWIDTH, needed, 0);
}
