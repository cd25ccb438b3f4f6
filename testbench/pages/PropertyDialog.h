// The property dialog: one property's names and type, and an editor for its value (Yes/No, a
// number in decimal or hexadecimal, or a text); OK sets the property on the component.
#pragma once
#include "Wnd.h"
#include <cstdint>

class CTestParvel;
class CVariantArray;

class CDlgProperty : public CWnd
{
public:
    CDlgProperty(CTestParvel* host, uint32_t index, CVariantArray& value) : m_host(host), m_index(index), m_value(value) {}
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    // save: the editor into the value; otherwise the value into the editor. A number that is no
    // value of the property's type is refused (NumberNotOfType is thrown) and the value stays.
    void UpdateValue(bool save);
    bool HexMode() const { return m_hex; }

private:
    BOOL OnInitDialog();
    void SetSpinBase();
    void OnOk();
    void DestroyValueControls();

    CTestParvel* m_host;
    uint32_t m_index;
    CVariantArray& m_value; // one item, the caller's
    bool m_hex = false;
    HWND m_controls[4] = {};
    bool m_writable = false;
};
