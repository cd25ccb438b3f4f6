// The method-argument dialog: the type of one argument and an editor for its value of that type
// (Yes/No, a 32- or 64-bit number in decimal or hexadecimal, or a text), and the method's default.
// The value is kept as text, so a value typed under one type is read anew under another.
#pragma once
#include "Wnd.h"
#include <cstdint>
#include <string>

class CDlgMethArg : public CWnd
{
public:
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    void SetType(uint16_t type);
    void UpdateValue(bool save);

    int Number = 0;
    uint16_t Type = 0;
    std::wstring Value;
    uint16_t DefaultType = 0;
    std::wstring Default;
    bool Hex = false;
    int EditorKind() const { return m_kind; }

private:
    BOOL OnInitDialog();
    void SetEditorKind(int kind);

    HWND m_controls[4] = {};
    int m_kind = 0;
    RECT m_area = {};
};
