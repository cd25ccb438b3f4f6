// A plain About box that stands in until the program's own About box is built.
#pragma once
#include "Wnd.h"

class CPlaceholderAbout : public CWnd
{
public:
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;
};
