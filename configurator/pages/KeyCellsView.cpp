// The key-cells check-box list adapter (see KeyCellsView.h).
#include "KeyCellsView.h"
#include "ReadKeysPageRes.h"
#include "ReadKeysRules.h"
#include "WFormat.h"
#include <algorithm>

namespace {

void BuildCell(int index, KeyCellRow& row)
{
    row.Cell = static_cast<uint32_t>(index);
    FormatResString(row.Text, IDS_KEY_CELL, index);
}

} // namespace

int CMfEEKeysView::GetItemCount()
{
    return MIFARE_KEY_CELLS;
}

void CMfEEKeysView::FillCache()
{
    m_cache.clear();
    if (m_first < 0)
        return;
    const int64_t rows = std::min<int64_t>(m_count, static_cast<int64_t>(MIFARE_KEY_CELLS) - m_first);
    for (int64_t k = 0; k < rows; ++k) {
        m_cache.emplace_back();
        BuildCell(static_cast<int>(m_first + k), m_cache.back());
    }
}

void CMfEEKeysView::CacheHint(NMLVCACHEHINT* hint)
{
    if (m_first >= 0 && hint->iFrom >= m_first && hint->iTo < m_first + static_cast<int64_t>(m_cache.size()))
        return;
    m_first = hint->iFrom;
    m_count = hint->iTo - hint->iFrom + 1;
    FillCache();
}

const KeyCellRow& CMfEEKeysView::GetRow(int index)
{
    if (m_first >= 0 && index >= m_first && index < m_first + static_cast<int64_t>(m_cache.size()))
        return m_cache[static_cast<size_t>(index - m_first)];
    BuildCell(index, m_spare);
    return m_spare;
}

void CMfEEKeysView::GetDispInfo(NMLVDISPINFOW* info)
{
    LVITEMW& item = info->item;
    if (item.iItem < 0 || item.iItem >= static_cast<int>(MIFARE_KEY_CELLS))
        return;
    const KeyCellRow& row = GetRow(item.iItem);
    if ((item.mask & LVIF_TEXT) && item.iSubItem == 0)
        item.pszText = const_cast<wchar_t*>(row.Text.c_str());
    if (item.mask & LVIF_STATE) {
        item.state = (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK((Mask >> row.Cell) & 1 ? 2 : 1);
        item.stateMask |= LVIS_STATEIMAGEMASK;
    }
}
