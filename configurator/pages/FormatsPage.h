// The key-format library page (second tab): group tabs over an owner-data list of the library with
// a check box per format, sortable columns, conflicting formats in red, and the commands that add,
// change, copy and delete formats and customise the group tabs. The library and the groups belong
// to the application data; the page only shows and edits them.
#pragma once
#include "FormatsView.h"
#include "Wnd.h"
#include <cstdint>
#include <string>

class CZFormatsPage : public CAppPage
{
public:
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void UpdateData(bool save) override;

    void OnInitDialog();
    void Layout(int width, int height);
    void FillTabs();
    void SelectGroupTab(int group);
    void UpdateButtons();
    void OnListChanged();
    void OnCommand(int id);
    // Returns whether the notification was handled; `result` then holds its answer.
    bool OnListNotify(NMHDR* hdr, LRESULT& result);
    bool OnTabNotify(NMHDR* hdr, LRESULT& result);
    void OnAdd();
    void OnChange();
    void OnDelete(bool ask);
    void OnCustomizeTabs();

    CZFormatsView& View() { return m_view; }
    HWND List() const { return m_list; }
    HWND Tabs() const { return m_tab; }

private:
    static void OnListChangedThunk(void* context, CVirtualListViewData* adapter);
    uint32_t GroupMask(int group) const;
    void SelectTabByParam(int group);
    std::vector<int64_t> SelectedIndices() const;
    // The menus at a screen point.
    void ShowListMenu(POINT at);
    void ShowTabMenu(POINT at);
    void ToggleGroupVisible(size_t group);
    // What a click on a row's check box does, split so that Space can do it to several rows: the
    // format's Enabled inverted (false for a row without a format), then the library's marks.
    bool ToggleEnabled(int row);
    void EnabledChanged();

    CZFormatsView m_view;
    int m_busy = 0;
    uint32_t m_buttonsPending = 0;
    HWND m_tab = nullptr;
    HWND m_list = nullptr;
    HWND m_add = nullptr;
    HWND m_change = nullptr;
    HWND m_delete = nullptr;
    HWND m_onlyEnabledBox = nullptr;
    int32_t m_shownSort = 0;
    int64_t m_keepSelected = -1;
    std::wstring m_emptyText;
};
