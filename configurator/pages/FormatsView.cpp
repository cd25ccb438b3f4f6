// The key-format library list adapter (see FormatsView.h).
#include "FormatsView.h"
#include "FormatListLogic.h"
#include "KeyTypeTexts.h"
#include <algorithm>
#include <stdexcept>

int CZFormatsView::GetItemCount()
{
    return static_cast<int>(m_index.size());
}

int64_t CZFormatsView::LibraryIndex(int64_t row) const
{
    return row >= 0 && row < static_cast<int64_t>(m_index.size()) ? m_index[static_cast<size_t>(row)] : -1;
}

int64_t CZFormatsView::RowOf(int64_t index) const
{
    const auto it = std::find(m_index.begin(), m_index.end(), index);
    return it == m_index.end() ? -1 : it - m_index.begin();
}

void CZFormatsView::Refresh()
{
    static const KeyFormatLibrary none;
    BuildFormatIndex(Library ? *Library : none, FilterMask, OnlyEnabled != 0, SortColumn, m_index);
    FillCache();
    FireEvent();
}

void CZFormatsView::BuildRow(int64_t row, FormatRow& out) const
{
    const int64_t index = m_index.at(static_cast<size_t>(row));
    const KeyFormatItem& item = Library->at(static_cast<size_t>(index));
    out.Index = index;
    out.Number = std::to_wstring(row + 1);
    out.KeyTypes = FormatKeyTypesText(item.KeyTypes);
    out.KeySize = std::to_wstring(item.KeySize);
}

void CZFormatsView::FillCache()
{
    const size_t wanted = m_cache.size();
    if (m_first < 0)
        return;
    const int64_t rows = std::min<int64_t>(static_cast<int64_t>(wanted), static_cast<int64_t>(m_index.size()) - m_first);
    for (int64_t k = 0; k < rows; ++k)
        BuildRow(m_first + k, m_cache[static_cast<size_t>(k)]);
    // Rows past the end of a shorter list must not be taken for cached ones.
    for (size_t k = static_cast<size_t>(std::max<int64_t>(rows, 0)); k < wanted; ++k)
        m_cache[k].Index = -1;
}

void CZFormatsView::CacheHint(NMLVCACHEHINT* hint)
{
    if (m_first >= 0 && hint->iFrom >= m_first && hint->iTo < m_first + static_cast<int64_t>(m_cache.size()))
        return;
    m_first = hint->iFrom;
    m_cache.assign(static_cast<size_t>(std::max(hint->iTo - hint->iFrom + 1, 0)), FormatRow());
    FillCache();
}

const FormatRow& CZFormatsView::RowFor(int64_t row)
{
    if (m_first >= 0 && row >= m_first && row < m_first + static_cast<int64_t>(m_cache.size())) {
        const FormatRow& cached = m_cache[static_cast<size_t>(row - m_first)];
        if (cached.Index >= 0)
            return cached;
    }
    BuildRow(row, m_scratch);
    return m_scratch;
}

void CZFormatsView::GetDispInfo(NMLVDISPINFOW* info)
{
    LVITEMW& item = info->item;
    if (item.iItem < 0 || item.iItem >= GetItemCount())
        return;
    const FormatRow& row = RowFor(item.iItem);
    const KeyFormatItem& format = Library->at(static_cast<size_t>(row.Index));
    if (item.mask & LVIF_TEXT) {
        const std::wstring* text = nullptr;
        switch (item.iSubItem) {
        case 0: text = &row.Number; break;
        case 1: text = &format.Name; break;
        case 2: text = &format.Template; break;
        case 3: text = &format.Params; break;
        case 4: text = &row.KeyTypes; break;
        case 5: text = &row.KeySize; break;
        case 6: text = &format.Comment; break;
        default: break;
        }
        if (text)
            item.pszText = const_cast<wchar_t*>(text->c_str());
    }
    if (item.mask & LVIF_STATE) {
        item.state = (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(format.Enabled ? 2 : 1);
        item.stateMask |= LVIS_STATEIMAGEMASK;
    }
}
