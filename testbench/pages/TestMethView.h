// The methods list's adapter: every method of the loaded component with its names, whether it
// returns a value, its parameter count and its default parameter values, in the list's sort order.
#pragma once
#include "TestRows.h"
#include "VirtualListViewData.h"
#include <vector>

class CTestParvel;

class CTestMethView : public CVirtualListViewData
{
public:
    void SetHost(CTestParvel* host) { m_host = host; }
    void SetSortColumn(int32_t column) { m_sortColumn = column; }
    int32_t SortColumn() const { return m_sortColumn; }
    const std::vector<MethodRow>& Rows() const { return m_rows; }

    int GetItemCount() override { return static_cast<int>(m_rows.size()); }
    void GetDispInfo(NMLVDISPINFOW* info) override;
    void CacheHint(NMLVCACHEHINT*) override {}
    void Refresh();

private:
    CTestParvel* m_host = nullptr;
    int32_t m_sortColumn = 0;
    std::vector<MethodRow> m_rows;
};
