// The key-type check-box list adapter (see KeyTypesView.h).
#include "KeyTypesView.h"
#include "KeyTypeTexts.h"
#include "KeyTypesRes.h"
#include "ListViewHelpers.h"
#include <algorithm>

CKeyTypesView::CKeyTypesView()
{
    KeyTypeLongName(0); // the first adapter loads the long names for the program's life
}

int CKeyTypesView::GetItemCount()
{
    return KEY_TYPE_COUNT;
}

int64_t CKeyTypesView::KeyTypeOf(int row)
{
    if (m_first >= 0 && row >= m_first && row < m_first + static_cast<int64_t>(m_cache.size()))
        return m_cache[static_cast<size_t>(row - m_first)];
    m_scratch = row;
    return m_scratch;
}

void CKeyTypesView::GetDispInfo(NMLVDISPINFOW* info)
{
    LVITEMW& item = info->item;
    const int64_t keyType = KeyTypeOf(item.iItem);
    if ((item.mask & LVIF_TEXT) && item.iSubItem == 0)
        item.pszText = const_cast<wchar_t*>(KeyTypeLongName(static_cast<unsigned>(keyType)).c_str());
    if (item.mask & LVIF_STATE) {
        const bool checked = keyType >= 0 && keyType < KEY_TYPE_COUNT && (Mask & (1u << keyType));
        item.state = (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
        item.stateMask |= LVIS_STATEIMAGEMASK;
    }
}

void CKeyTypesView::CacheHint(NMLVCACHEHINT* hint)
{
    if (m_first >= 0 && hint->iFrom >= m_first && hint->iTo < m_first + m_count)
        return;
    m_first = hint->iFrom;
    m_count = hint->iTo - hint->iFrom + 1;
    FillCache();
}

void CKeyTypesView::FillCache()
{
    m_cache.clear();
    if (m_first < 0)
        return;
    const int64_t rows = std::min<int64_t>(m_count, static_cast<int64_t>(KEY_TYPE_COUNT) - m_first);
    for (int64_t k = 0; k < rows; ++k)
        m_cache.push_back(m_first + k);
}

bool CKeyTypesView::HandleEditNotify(NMHDR* hdr, HWND owner, uint32_t& mask)
{
    if (HandleNotify(hdr))
        return true;
    if (hdr->code == NM_RCLICK) {
        ShowMenu(hdr->hwndFrom, owner, GetMessagePos());
        return true;
    }
    if (hdr->code == NM_CLICK) {
        ToggleRow(ListView_CheckBoxClicked(hdr), mask);
        return true;
    }
    if (hdr->code == LVN_KEYDOWN)
        return ListView_SpaceTogglesChecks(hdr->hwndFrom, hdr, [&](int row) { ToggleRow(row, mask); });
    return false;
}

void CKeyTypesView::ShowMenu(HWND list, HWND owner, LPARAM position)
{
    ShowPopupMenu(IDM_KEY_TYPES, owner, ContextMenuPoint(list, position));
}

bool CKeyTypesView::ToggleRow(int row, uint32_t& mask)
{
    const int64_t keyType = row >= 0 ? KeyTypeOf(row) : -1;
    if (keyType < 0 || keyType >= KEY_TYPE_COUNT)
        return false;
    mask ^= 1u << keyType;
    return true;
}
