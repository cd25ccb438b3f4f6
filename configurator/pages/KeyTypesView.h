// The 19 key types as an owner-data check-box list over a key-type mask: row i is key type i,
// checked when bit i of the mask is set. Used by the key-format dialog, the key-type group dialog
// and the read-keys page; the owner keeps its mask in this adapter and reads it back from here.
#pragma once
#include "VirtualListViewData.h"
#include <cstdint>
#include <vector>

class CKeyTypesView : public CVirtualListViewData
{
public:
    CKeyTypesView();

    int GetItemCount() override;
    void GetDispInfo(NMLVDISPINFOW* info) override;
    void CacheHint(NMLVCACHEHINT* hint) override;
    // Rebuilds the cached rows; owners call it, then FireEvent, after they change the mask.
    void FillCache();

    // The key type shown in `row` (through the cache when the row lies in it).
    int64_t KeyTypeOf(int row);
    // The list's notifications in a dialog that edits a mask: the adapter's own, the context menu
    // (its commands go to `owner`), and a click on a check box or Space, which flip the key types of
    // the rows in `mask`. False for any other notification.
    bool HandleEditNotify(NMHDR* hdr, HWND owner, uint32_t& mask);
    // The check-all menu of `list` at WM_CONTEXTMENU's `position`; its commands go to `owner`.
    static void ShowMenu(HWND list, HWND owner, LPARAM position);
    // Flips the key type shown in `row` in `mask`; false for a row that shows none.
    bool ToggleRow(int row, uint32_t& mask);

    uint32_t Mask = 0;

private:
    std::vector<int64_t> m_cache; // key-type numbers of the cached rows
    int64_t m_first = -1;
    int64_t m_count = -1;
    int64_t m_scratch = 0;
};
