// The properties list's adapter: every property of the loaded component with its names, the type
// and text of its current value and its access, in the list's sort order.
#pragma once
#include "TestRows.h"
#include "VirtualListViewData.h"
#include <vector>

class CTestParvel;

class CTestPropView : public CVirtualListViewData
{
public:
    void SetHost(CTestParvel* host) { m_host = host; }
    void SetSortColumn(int32_t column) { m_sortColumn = column; }
    int32_t SortColumn() const { return m_sortColumn; }
    const std::vector<PropertyRow>& Rows() const { return m_rows; }

    int GetItemCount() override { return static_cast<int>(m_rows.size()); }
    void GetDispInfo(NMLVDISPINFOW* info) override;
    void CacheHint(NMLVCACHEHINT*) override {}
    void Refresh();

private:
    CTestParvel* m_host = nullptr; // not owned
    int32_t m_sortColumn = 0;
    std::vector<PropertyRow> m_rows;
};

// Copies a cell text into a list view's display-information buffer.
void CopyDispText(NMLVDISPINFOW* info, const std::wstring& text);
