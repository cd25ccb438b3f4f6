// The events list's adapter over the test log.
#include "TestLogView.h"
#include <climits>

int CTestLogView::GetItemCount()
{
    const int64_t count = m_cache.ItemCount();
    return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

void CTestLogView::GetDispInfo(NMLVDISPINFOW* info)
{
    LVITEMW& item = info->item;
    const LogRow& row = m_cache.Row(item.iItem);
    if (item.mask & LVIF_TEXT) {
        const std::wstring* text = nullptr;
        switch (item.iSubItem) {
        case 0: text = &row.time; break;
        case 1: text = &row.source; break;
        case 2: text = &row.message; break;
        case 3: text = &row.data; break;
        default: break;
        }
        if (item.pszText && item.cchTextMax > 0) {
            if (text) {
                wcsncpy(item.pszText, text->c_str(), item.cchTextMax - 1);
                item.pszText[item.cchTextMax - 1] = 0;
            } else {
                item.pszText[0] = 0;
            }
        }
    }
    if (item.mask & LVIF_IMAGE)
        item.iImage = item.iSubItem == 0 ? row.image : -1;
}

void CTestLogView::CacheHint(NMLVCACHEHINT* hint)
{
    m_cache.CacheHint(hint->iFrom, hint->iTo);
}

void CTestLogView::Refresh()
{
    m_cache.Refill();
    FireEvent();
}
