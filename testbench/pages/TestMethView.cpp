// The methods list's rows, read from the component.
#include "TestMethView.h"
#include "MethodText.h"
#include "TestHost.h"
#include "TestPropView.h"
#include "VariantHelpers.h"

void CTestMethView::GetDispInfo(NMLVDISPINFOW* info)
{
    const int row = info->item.iItem;
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return;
    CopyDispText(info, MethodCellText(m_rows[row], info->item.iSubItem + 1));
}

void CTestMethView::Refresh()
{
    m_rows.clear();
    ILanguageExtenderBase* component = m_host && m_host->IsLoaded() ? m_host->Extender() : nullptr;
    if (component) {
        const long count = component->GetNMethods();
        CVariantArray value(1, m_host->MemoryManager());
        for (long i = 0; i < count; ++i) {
            MethodRow row;
            row.index = static_cast<uint32_t>(i);
            row.number = std::to_wstring(i + 1);
            m_host->GetMethodName(row.english, i, 0);
            m_host->GetMethodName(row.russian, i, 1);
            row.hasReturn = component->HasRetVal(i) ? 1 : 0;
            row.paramCount = static_cast<int32_t>(component->GetNParams(i));
            row.paramCountText = std::to_wstring(row.paramCount);
            std::vector<ParamDefault> defaults;
            for (long j = 0; j < row.paramCount; ++j) {
                value.Release(0);
                if (!component->GetParamDefValue(i, j, &value[0]))
                    continue;
                ParamDefault d;
                d.index = static_cast<int>(j);
                d.type = value[0].vt;
                FormatVariant(d.text, value[0], m_host);
                defaults.push_back(d);
            }
            row.defaults = DefaultParamsText(defaults);
            m_rows.push_back(row);
        }
        SortMethodRows(m_rows, m_sortColumn);
    }
    FireEvent();
}
