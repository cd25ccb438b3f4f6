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
    // save: the editor into the value; otherwise the value into the editor. A number that is no
    // value of the argument's type is refused (NumberNotOfType is thrown) and the value stays.
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
    // What the editor holds now: the Yes/No choice as "1"/"0", else its text.
    std::wstring EditorState() const;
    // OK: takes the editor's value; false (a box told why) for a BLOB text that is no bytes. A
    // number that is no value of the type is thrown as UpdateValue's refusal.
    bool OnOk();

    HWND m_controls[4] = {};
    int m_kind = 0;
    // The editor's state as the value put it there: while the user has not changed it, a change
    // of type keeps the value text instead of taking the editor's rendering of it.
    std::wstring m_shown;
    RECT m_area = {};
};
