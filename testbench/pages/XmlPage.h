// A page of the device dialog that shows one of the add-in's XML documents in a rich-edit control,
// tags coloured, with Copy, Copy All and Select All in its context menu.
#pragma once
#include "Wnd.h"
#include <string>
#include <vector>

class CXmlPage : public CAppPage
{
public:
    // Loads the rich-edit library once per program (it stays loaded), then creates the page as a
    // modeless child of `parent`. Throws COSException when the library cannot be loaded.
    HWND Create(HWND parent);
    void SetXml(const std::wstring& text);
    void CopyAll();
    std::wstring Text() const;

    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void ShowContextMenu(POINT at);
    HWND m_edit = nullptr;
};
