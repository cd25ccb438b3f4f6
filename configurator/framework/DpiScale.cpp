// Pixel figures at the screen's DPI (see DpiScale.h).
#include "DpiScale.h"
#include <windows.h>

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
