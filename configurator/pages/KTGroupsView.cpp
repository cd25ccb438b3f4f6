// The key-type groups list adapter (see KTGroupsView.h).
#include "KTGroupsView.h"
#include "KeyTypeTexts.h"
#include <algorithm>
#include <cstdlib>
#include <stdexcept>

void BuildGroupIndex(const KeyTypeGroupList& groups, int32_t sortColumn, std::vector<int64_t>& index)
{
    index.clear();
    for (size_t i = 0; i < groups.size(); ++i)
        index.push_back(static_cast<int64_t>(i));
    const int32_t column = std::abs(sortColumn);
    if (column != 2 && column != 3)
        return;
    const bool descending = sortColumn < 0;
    std::sort(index.begin(), index.end(), [&](int64_t a, int64_t b) {
        const KeyTypeGroup& x = groups[static_cast<size_t>(a)];
        const KeyTypeGroup& y = groups[static_cast<size_t>(b)];
        int order;
        if (column == 2)
            order = x.Name.compare(y.Name);
        else
            order = x.KeyTypes < y.KeyTypes ? -1 : (y.KeyTypes < x.KeyTypes ? 1 : 0);
        return descending ? order > 0 : order < 0;
    });
}

int CKTGroupsView::GetItemCount()
{
    return static_cast<int>(m_index.size());
}

int64_t CKTGroupsView::GroupIndex(int64_t row) const
{
    return row >= 0 && row < static_cast<int64_t>(m_index.size()) ? m_index[static_cast<size_t>(row)] : -1;
}

int64_t CKTGroupsView::RowOf(int64_t group) const
{
    const auto it = std::find(m_index.begin(), m_index.end(), group);
    return it == m_index.end() ? -1 : it - m_index.begin();
}

void CKTGroupsView::Refresh()
{
    static const KeyTypeGroupList none;
    BuildGroupIndex(Groups ? *Groups : none, SortColumn, m_index);
    FillCache();
    FireEvent();
}

void CKTGroupsView::BuildRow(int64_t row, GroupRow& out) const
{
    const int64_t index = m_index.at(static_cast<size_t>(row));
    const KeyTypeGroup& group = Groups->at(static_cast<size_t>(index));
    out.Index = index;
    out.Number = std::to_wstring(row + 1);
    out.KeyTypes = GroupKeyTypesText(group.KeyTypes);
}

void CKTGroupsView::FillCache()
{
    if (m_first < 0)
        return;
    const int64_t rows = std::min<int64_t>(static_cast<int64_t>(m_cache.size()), static_cast<int64_t>(m_index.size()) - m_first);
    for (int64_t k = 0; k < rows; ++k)
        BuildRow(m_first + k, m_cache[static_cast<size_t>(k)]);
    for (size_t k = static_cast<size_t>(std::max<int64_t>(rows, 0)); k < m_cache.size(); ++k)
        m_cache[k].Index = -1;
}

void CKTGroupsView::CacheHint(NMLVCACHEHINT* hint)
{
    if (m_first >= 0 && hint->iFrom >= m_first && hint->iTo < m_first + static_cast<int64_t>(m_cache.size()))
        return;
    m_first = hint->iFrom;
    m_cache.assign(static_cast<size_t>(std::max(hint->iTo - hint->iFrom + 1, 0)), GroupRow());
    FillCache();
}

const GroupRow& CKTGroupsView::RowFor(int64_t row)
{
    if (m_first >= 0 && row >= m_first && row < m_first + static_cast<int64_t>(m_cache.size())) {
        const GroupRow& cached = m_cache[static_cast<size_t>(row - m_first)];
        if (cached.Index >= 0)
            return cached;
    }
    BuildRow(row, m_scratch);
    return m_scratch;
}

void CKTGroupsView::GetDispInfo(NMLVDISPINFOW* info)
{
    LVITEMW& item = info->item;
    if (item.iItem < 0 || item.iItem >= GetItemCount())
        return;
    const GroupRow& row = RowFor(item.iItem);
    const KeyTypeGroup& group = Groups->at(static_cast<size_t>(row.Index));
    if (item.mask & LVIF_TEXT) {
        const std::wstring* text = item.iSubItem == 0 ? &row.Number
                                 : item.iSubItem == 1 ? &group.Name
                                 : item.iSubItem == 2 ? &row.KeyTypes
                                                      : nullptr;
        if (text)
            item.pszText = const_cast<wchar_t*>(text->c_str());
    }
    if (item.mask & LVIF_STATE) {
        item.state = (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(group.Visible ? 2 : 1);
        item.stateMask |= LVIS_STATEIMAGEMASK;
    }
}
