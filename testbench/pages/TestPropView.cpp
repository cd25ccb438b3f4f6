// The properties list's rows, read from the component.
#include "TestPropView.h"
#include "TestHost.h"
#include "VariantHelpers.h"

void CopyDispText(NMLVDISPINFOW* info, const std::wstring& text)
{
    LVITEMW& item = info->item;
    if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0)
        return;
    wcsncpy(item.pszText, text.c_str(), item.cchTextMax - 1);
    item.pszText[item.cchTextMax - 1] = 0;
}

void CTestPropView::GetDispInfo(NMLVDISPINFOW* info)
{
    const int row = info->item.iItem;
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return;
    CopyDispText(info, PropertyCellText(m_rows[row], info->item.iSubItem + 1));
}

void CTestPropView::Refresh()
{
    m_rows.clear();
    ILanguageExtenderBase* component = m_host && m_host->IsLoaded() ? m_host->Extender() : nullptr;
    if (component) {
        const long count = component->GetNProps();
        CVariantArray value(1, m_host->MemoryManager());
        for (long i = 0; i < count; ++i) {
            PropertyRow row;
            row.index = static_cast<uint32_t>(i);
            row.number = std::to_wstring(i + 1);
            m_host->GetPropName(row.english, i, 0);
            m_host->GetPropName(row.russian, i, 1);
            value.Release(0);
            if (component->GetPropVal(i, &value[0])) {
                row.type = value[0].vt;
                FormatVariant(row.value, value[0], m_host);
            } else {
                row.type = 0xFFFF;
            }
            row.attributes = (component->IsPropReadable(i) ? 1u : 0u) | (component->IsPropWritable(i) ? 2u : 0u);
            m_rows.push_back(row);
        }
        SortPropertyRows(m_rows, m_sortColumn);
    }
    FireEvent();
}
