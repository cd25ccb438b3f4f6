// Pixel figures at the screen's DPI (see DpiScale.h).
#include "DpiScale.h"
#include <windows.h>
#include <algorithm>

namespace {

// The dialog base units of the templates' font at a height of `pixelsPerInch`, as the dialog
// manager takes them: the average width of the Latin letters, rounded, and the font's height.
SIZE TemplateUnits(HDC dc, int pixelsPerInch)
{
    SIZE units = {0, 0};
    HFONT font = CreateFontW(-MulDiv(9, pixelsPerInch, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                             L"Segoe UI");
    if (!font)
        return units;
    HGDIOBJ old = SelectObject(dc, font);
    static const wchar_t letters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE extent = {};
    TEXTMETRICW metrics = {};
    if (GetTextExtentPoint32W(dc, letters, 52, &extent) && GetTextMetricsW(dc, &metrics))
        units = {(extent.cx / 26 + 1) / 2, metrics.tmHeight};
    SelectObject(dc, old);
    DeleteObject(font);
    return units;
}

} // namespace

int ScreenDpi()
{
    static const int dpi = [] {
        HDC screen = GetDC(nullptr);
        const int value = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
        if (screen)
            ReleaseDC(nullptr, screen);
        return value > 0 ? value : USER_DEFAULT_SCREEN_DPI;
    }();
    return dpi;
}

int ScalePixels(int pixels)
{
    return MulDiv(pixels, ScreenDpi(), USER_DEFAULT_SCREEN_DPI);
}

int ScaleForTemplates(int pixels, bool vertical)
{
    struct Units
    {
        SIZE now = {0, 0};      // at the screen's DPI
        SIZE designed = {0, 0}; // at 96 DPI
    };
    static const Units units = [] {
        Units measured;
        if (HDC screen = GetDC(nullptr)) {
            measured.now = TemplateUnits(screen, ScreenDpi());
            measured.designed = TemplateUnits(screen, USER_DEFAULT_SCREEN_DPI);
            ReleaseDC(nullptr, screen);
        }
        return measured;
    }();
    const int scaled = ScalePixels(pixels);
    const int now = vertical ? units.now.cy : units.now.cx;
    const int designed = vertical ? units.designed.cy : units.designed.cx;
    if (now <= 0 || designed <= 0)
        return scaled;
    return std::max(scaled, MulDiv(pixels, now, designed));
}
