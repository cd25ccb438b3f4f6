// The methods list's adapter: every method of the loaded component with its names, whether it
// returns a value, its parameter count and its default parameter values, in the list's sort order.
#pragma once
#include "TestRows.h"
#include "TestRowsView.h"
#include <vector>

class CTestMethView : public CTestRowsView
{
public:
    const std::vector<MethodRow>& Rows() const { return m_rows; }

    int GetItemCount() override { return static_cast<int>(m_rows.size()); }
    void GetDispInfo(NMLVDISPINFOW* info) override;
    void Refresh() override;

private:
    std::vector<MethodRow> m_rows;
};
