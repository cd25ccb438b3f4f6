// The data side of the key-format library list: the rows that the group filter and "only enabled"
// let through, in the order of the signed sort column, with the texts of each row cached for the
// rows the list view asked for.
#pragma once
#include "KeyFormatItem.h"
#include "VirtualListViewData.h"
#include <cstdint>
#include <string>
#include <vector>

struct FormatRow
{
    std::wstring Number;   // "#": the row's position from 1
    std::wstring KeyTypes; // key-types text
    std::wstring KeySize;
    int64_t Index = -1; // library index
};

class CZFormatsView : public CVirtualListViewData
{
public:
    int GetItemCount() override;
    void GetDispInfo(NMLVDISPINFOW* info) override;
    void CacheHint(NMLVCACHEHINT* hint) override;

    // Rebuilds the index by the filter and the sort column, the cached rows, then FireEvent.
    void Refresh();
    // Throws std::out_of_range for a row whose library index is past the library's end.
    void BuildRow(int64_t row, FormatRow& out) const;
    void FillCache();

    // The library index shown in `row`, -1 outside the list.
    int64_t LibraryIndex(int64_t row) const;
    // The row that shows library entry `index`, -1 when it is not shown.
    int64_t RowOf(int64_t index) const;
    const std::vector<int64_t>& Index() const { return m_index; }

    KeyFormatLibrary* Library = nullptr; // not owned
    uint32_t FilterMask = 0;             // 0 = no group filter
    uint32_t OnlyEnabled = 0;
    int32_t SortColumn = 0;

private:
    const FormatRow& RowFor(int64_t row);

    std::vector<FormatRow> m_cache;
    int64_t m_first = -1;
    FormatRow m_scratch;
    std::vector<int64_t> m_index;
};
