// The advanced page (tab "Configurator"): the configurator's own confirmation flags. A click
// changes the flag at once, so Load and Save ask or not from the next command on.
#pragma once
#include "Wnd.h"

class CZAdvancedPage : public CAppPage
{
public:
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void UpdateData(bool save) override;

private:
    int m_loading = 0;
};
