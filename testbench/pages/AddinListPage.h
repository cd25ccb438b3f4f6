// What the methods and properties pages share: a sortable list of the loaded add-in's members that
// follows the test host, keeps its sort column and column widths in the settings, selects all on
// Ctrl+A and opens the member's dialog on Enter or a double click.
#pragma once
#include "AnchorLayout.h"
#include "AppData.h"
#include "BenchContext.h"
#include "ListViewHelpers.h"
#include "TestRowsView.h"
#include "Wnd.h"
#include <initializer_list>

class CTestParvel;

class CAddinListPage : public CAppPage
{
public:
    ~CAddinListPage() override;
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void UpdateData(bool save) override;

    void Refresh() { m_rows.Refresh(); }
    void SortBy(int column);
    virtual void UpdateButtons() = 0;

    HWND List() const { return m_list; }

protected:
    // `sortSetting` and `widthsSetting` name the list's entries in the settings.
    CAddinListPage(const BenchContext& bench, CTestRowsView& rows, int32_t CAppData::*sortSetting,
                   ColumnWidths CAppData::*widthsSetting)
        : m_bench(bench), m_rows(rows), m_sortSetting(sortSetting), m_widthsSetting(widthsSetting)
    {
    }

    virtual BOOL OnInitDialog() = 0;
    // From OnInitDialog: the list `listId` filling the page above `buttons`, its columns with the
    // captions from `firstCaption` on and the default `widths` (0: what is left of the list's
    // width), the rows of the test host and the buttons' state.
    void InitList(int listId, std::initializer_list<int> buttons, UINT firstCaption, const int* widths, int columns);
    virtual LRESULT OnNotify(NMHDR* hdr);
    // Enter or a double click on a row: the selected member's dialog.
    virtual void OpenSelected() = 0;
    int SelectedRow() const;

    BenchContext m_bench;
    HWND m_list = nullptr;

private:
    static void OnRowsChanged(void* context, CVirtualListViewData* adapter);
    static void OnHostChanged(void* context, CTestParvel* host);

    CTestRowsView& m_rows;
    int32_t CAppData::*m_sortSetting;
    ColumnWidths CAppData::*m_widthsSetting;
    CAnchorLayout m_anchors;
    int32_t m_shownSort = 0;
    bool m_listening = false;
};
