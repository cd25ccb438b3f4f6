// Room after group-box captions (see GroupCaption.h).
#include "GroupCaption.h"
#include "GdiHandles.h"
#include <string>

namespace {

// How many pixels `text` reaches past its measured width when drawn in the font selected into `dc`.
int DrawnPastMeasure(HDC dc, const std::wstring& text)
{
    RECT measured = {};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measured, DT_CALCRECT | DT_SINGLELINE);
    const int width = measured.right + measured.bottom * 2 + 8; // room for any overhang
    const int height = measured.bottom;
    if (measured.right <= 0 || height <= 0)
        return 0;
    CDibCanvas canvas(width, height);
    if (!canvas.Dc())
        return 0;
    CSelectedObject font(canvas.Dc(), GetCurrentObject(dc, OBJ_FONT));
    RECT all = {0, 0, width, height};
    FillRect(canvas.Dc(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(canvas.Dc(), TRANSPARENT);
    SetTextColor(canvas.Dc(), RGB(0, 0, 0));
    DrawTextW(canvas.Dc(), text.c_str(), static_cast<int>(text.size()), &all, DT_SINGLELINE | DT_NOCLIP);
    GdiFlush();
    int right = 0;
    for (int y = 0; y < height; ++y)
        for (int x = width - 1; x >= right; --x)
            if (canvas.At(x, y) != 0xFFFFFF) {
                right = x + 1;
                break;
            }
    return right > measured.right ? right - measured.right : 0;
}

} // namespace

void PadGroupCaption(HWND group)
{
    wchar_t name[16] = {};
    GetClassNameW(group, name, 16);
    if (_wcsicmp(name, L"Button") != 0 || (GetWindowLongW(group, GWL_STYLE) & BS_TYPEMASK) != BS_GROUPBOX)
        return;
    const int length = GetWindowTextLengthW(group);
    if (length <= 0)
        return;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(group, &text[0], length + 1)));
    if (text.empty() || text.back() == L' ')
        return;
    CWindowTextDc dc(group);
    if (!dc.Get())
        return;
    SIZE blank = {};
    GetTextExtentPoint32W(dc.Get(), L" ", 1, &blank);
    const int past = DrawnPastMeasure(dc.Get(), text);
    int blanks = 1;
    if (blank.cx > 0)
        blanks += (past + blank.cx - 1) / blank.cx;
    text.append(static_cast<size_t>(blanks), L' ');
    SetWindowTextW(group, text.c_str());
}

void PadGroupCaptions(HWND dialog)
{
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        PadGroupCaption(child);
}
