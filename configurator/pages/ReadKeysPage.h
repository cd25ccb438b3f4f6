// The read-keys page (third tab): the key types the readers report, reading a number from a Mifare
// Classic block (sector, block, key A or B, a key value or the reader's stored key cells) and from
// Mifare Ultralight pages. The page is taller than the tab area on small windows and scrolls.
//
// The rule a reader must not break: the reader engine reads these values live as unsigned numbers,
// so a list without a selection leaves its value as it is.
#pragma once
#include "AnchorLayout.h"
#include "KeyCellsView.h"
#include "KeyTypesView.h"
#include "PageRefusal.h"
#include "ScrollHelper.h"
#include "Wnd.h"

class CReadKeysPage : public CAppPage
{
public:
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void UpdateData(bool save) override;

    void OnInitDialog();
    void OnCommand(int id, int code);
    bool OnListNotify(int id, NMHDR* hdr);
    void EnableMfControls();
    void EnableUlControls();
    void ShowKeySource();
    void FillBlocks();
    void Layout(int width, int height);

    CKeyTypesView& KeyTypesView() { return m_keyTypes; }
    CMfEEKeysView& KeyCellsView() { return m_keyCells; }
    const CScrollHelper& Scroller() const { return m_scroller; }

private:
    void EnableWithLabel(int id, bool enable);
    // What a click on a row's check box does in list `id` (and Space, row by row).
    void ToggleRow(int id, int row);
    int Selection(int id) const;
    void OnMouseWheel(int delta);
    // Stores the key edit's text, or throws the refusal of RefuseKey.
    void ReadKey();
    CPageRefusal RefuseKey() const;

    int m_loading = 0;
    CAnchorLayout m_anchors;
    CScrollHelper m_scroller;
    CKeyTypesView m_keyTypes;
    CMfEEKeysView m_keyCells;
};
