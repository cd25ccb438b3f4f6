// The About box: the program's title in large type, its version and build date, and the maker's
// web and mail links. The object lives on the stack of the command that shows the box.
#pragma once
#include "GdiHandles.h"
#include "Wnd.h"

class CDlgAbout : public CWnd
{
public:
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    static const wchar_t* const WebAddress;
    static const wchar_t* const MailAddress;

private:
    BOOL OnInitDialog();
    void OnMailLink();

    CFontHandle m_titleFont;
};
