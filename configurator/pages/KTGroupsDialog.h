// The key-type groups dialogs: the list of groups ("Customize tab..." of the library page) and the
// dialog of one group. Both work on a copy of the groups that the library page takes back only
// after OK; the list's sort column, column widths and window rectangle are UI state and are kept
// even on Cancel.
#pragma once
#include "AnchorLayout.h"
#include "KTGroupsView.h"
#include "KeyTypesView.h"
#include "Wnd.h"
#include <cstdint>
#include <string>

class CDlgKTGroups : public CWnd
{
public:
    explicit CDlgKTGroups(const KeyTypeGroupList& groups) : Groups(groups) {}
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    void OnInitDialog();
    void OnAdd();
    void OnChange();
    void OnDelete();
    void UpdateButtons();
    void OnListChanged();
    bool OnNotify(NMHDR* hdr, LRESULT& result);
    // The groups menu at a screen point.
    void ShowMenu(POINT at);

    CKTGroupsView& View() { return m_view; }
    HWND List() const { return m_list; }

    KeyTypeGroupList Groups; // the edited copy
    // The index in Groups of the group the caller follows (its selected tab), kept on that group
    // through deletions and collapses; -1 for none or once it is deleted.
    int64_t Followed = -1;

private:
    static void OnListChangedThunk(void* context, CVirtualListViewData* adapter);
    void RunGroupDialog(int64_t index);
    // What a click on a row's check box does (and Space, row by row): the group's tab shown or not.
    void ToggleVisible(int row);

    CAnchorLayout m_anchors;
    // The width at which the buttons below the list, Delete (kept left) and OK (kept right), would
    // meet, and a little more: the dialog gets no narrower.
    int m_buttonsApartWidth = 0;
    CKTGroupsView m_view;
    uint32_t m_buttonsPending = 0;
    HWND m_list = nullptr;
    int32_t m_shownSort = 0;
};

class CDlgKTGroup : public CWnd
{
public:
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    void OnInitDialog();
    void UpdateData(bool save);
    void SetMask(uint32_t mask);
    void ShowMask();
    bool OnOK();
    bool OnListNotify(NMHDR* hdr, LRESULT& result);

    uint32_t Mask() const { return m_types.Mask; }

    KeyTypeGroupList* Groups = nullptr; // set by the caller
    int64_t* Followed = nullptr;        // optional: an index into Groups kept on its group
    int64_t EditedIndex = -1;          // -1 for a new group; after OK the stored group's index
    uint32_t Visible = 1;
    std::wstring Name;

private:
    // Settles a duplicate of `existing` after the user's answer; false when the user cancelled.
    bool Collapse(int64_t existing, const std::wstring& question, int focus);

    CKeyTypesView m_types;
};
