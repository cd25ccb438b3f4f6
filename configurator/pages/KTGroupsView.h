// The data side of the key-type groups list: one row per group in the order of the signed sort
// column, with the "#" and key-types texts of the cached rows.
#pragma once
#include "KeyTypeGroup.h"
#include "VirtualListViewData.h"
#include <cstdint>
#include <string>
#include <vector>

struct GroupRow
{
    std::wstring Number;
    std::wstring KeyTypes;
    int64_t Index = -1; // group index
};

// The group indices in the order of the sort column: 2 Name, 3 KeyTypes (negative descending),
// anything else the vector's order.
void BuildGroupIndex(const KeyTypeGroupList& groups, int32_t sortColumn, std::vector<int64_t>& index);

class CKTGroupsView : public CVirtualListViewData
{
public:
    int GetItemCount() override;
    void GetDispInfo(NMLVDISPINFOW* info) override;
    void CacheHint(NMLVCACHEHINT* hint) override;

    void Refresh();
    // Throws std::out_of_range for a row whose group index is past the vector's end.
    void BuildRow(int64_t row, GroupRow& out) const;
    void FillCache();

    int64_t GroupIndex(int64_t row) const;
    int64_t RowOf(int64_t group) const;

    KeyTypeGroupList* Groups = nullptr; // not owned
    int32_t SortColumn = 0;

private:
    const GroupRow& RowFor(int64_t row);

    std::vector<GroupRow> m_cache;
    int64_t m_first = -1;
    GroupRow m_scratch;
    std::vector<int64_t> m_index;
};
