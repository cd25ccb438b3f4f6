// The base of the methods and properties lists' adapters: rows read from the loaded component of a
// test host and kept in the order of a signed 1-based sort column.
#pragma once
#include "VirtualListViewData.h"
#include <cstdint>

class CTestParvel;

class CTestRowsView : public CVirtualListViewData
{
public:
    void SetHost(CTestParvel* host) { m_host = host; }
    void SetSortColumn(int32_t column) { m_sortColumn = column; }
    int32_t SortColumn() const { return m_sortColumn; }

    void CacheHint(NMLVCACHEHINT*) override {}
    // Reads the rows again, sorts them and tells the owner.
    virtual void Refresh() = 0;

protected:
    CTestParvel* m_host = nullptr; // not owned
    int32_t m_sortColumn = 0;
};
