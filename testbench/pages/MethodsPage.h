// The methods page: every method of the loaded add-in, sortable; a method opens the method-call
// dialog, and "Search for readers..." the reader-search dialog.
#pragma once
#include "AnchorLayout.h"
#include "TestMethView.h"
#include "Wnd.h"

class CTestParvel;

class CMethodsPage : public CAppPage
{
public:
    ~CMethodsPage() override;
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void UpdateData(bool save) override;

    void Refresh() { m_view.Refresh(); }
    void CallMethod();
    void SortBy(int column);
    void UpdateButtons();

    HWND List() const { return m_list; }
    CTestMethView& View() { return m_view; }

private:
    BOOL OnInitDialog();
    LRESULT OnNotify(NMHDR* hdr);
    static void RefreshList(void* context, CVirtualListViewData* adapter);
    static void OnHostChanged(void* context, CTestParvel* host);

    CAnchorLayout m_anchors;
    HWND m_list = nullptr;
    CTestMethView m_view;
    int32_t m_shownSort = 0;
    bool m_listening = false;
};
