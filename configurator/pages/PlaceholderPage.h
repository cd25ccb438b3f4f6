// The page shown in a tab whose real page is not built yet.
#pragma once
#include "Wnd.h"

class CPlaceholderPage : public CAppPage
{
public:
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;
};
