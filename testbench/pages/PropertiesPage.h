// The properties page: every property of the loaded add-in, sortable, with the property dialog and
// the add-in's LoadSettings and SaveSettings procedures.
#pragma once
#include "AnchorLayout.h"
#include "TestPropView.h"
#include "Wnd.h"

class CTestParvel;

class CPropertiesPage : public CAppPage
{
public:
    ~CPropertiesPage() override;
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void UpdateData(bool save) override;

    void Refresh() { m_view.Refresh(); }
    void UpdateButtons();
    void EditProperty();
    void SortBy(int column);

    HWND List() const { return m_list; }
    CTestPropView& View() { return m_view; }

private:
    BOOL OnInitDialog();
    LRESULT OnNotify(NMHDR* hdr);
    static void OnViewChanged(void* context, CVirtualListViewData* adapter);
    static void OnHostChanged(void* context, CTestParvel* host);
    int SelectedRow() const;

    CAnchorLayout m_anchors;
    HWND m_list = nullptr;
    CTestPropView m_view;
    bool m_buttonsPending = false;
    int32_t m_shownSort = 0;
    bool m_listening = false;
};
