// The properties list's adapter: every property of the loaded component with its names, the type
// and text of its current value and its access, in the list's sort order.
#pragma once
#include "TestRows.h"
#include "TestRowsView.h"
#include <vector>

class CTestPropView : public CTestRowsView
{
public:
    const std::vector<PropertyRow>& Rows() const { return m_rows; }

    int GetItemCount() override { return static_cast<int>(m_rows.size()); }
    void GetDispInfo(NMLVDISPINFOW* info) override;
    void Refresh() override;

private:
    std::vector<PropertyRow> m_rows;
};

// Copies a cell text into a list view's display-information buffer.
void CopyDispText(NMLVDISPINFOW* info, const std::wstring& text);
