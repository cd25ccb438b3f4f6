// Change notification of list adapters.
#include "VirtualListViewData.h"
#include "Exceptions.h"
#include "CodePage.h"
#include <exception>
#include <string>

void CVirtualListViewData::FireEvent()
{
    if (!m_context || !m_callback)
        return;
    try
    {
        m_callback(m_context, this);
    }
    catch (const std::exception& e)
    {
        const std::wstring text = ExceptionMessage(e);
        OutputDebugStringW((L"Exception in CVirtualListViewData::FireEvent(): " + text + L"\r\n").c_str());
    }
}

void CVirtualListViewData::ShowCountIn(void* list, CVirtualListViewData* adapter)
{
    HWND window = static_cast<HWND>(list);
    SendMessageW(window, LVM_SETITEMCOUNT, adapter ? adapter->GetItemCount() : 0, 0);
    InvalidateRect(window, nullptr, TRUE);
}

bool CVirtualListViewData::HandleNotify(NMHDR* hdr)
{
    switch (hdr->code)
    {
    case LVN_GETDISPINFOW:
        GetDispInfo(reinterpret_cast<NMLVDISPINFOW*>(hdr));
        return true;
    case LVN_ODCACHEHINT:
        CacheHint(reinterpret_cast<NMLVCACHEHINT*>(hdr));
        return true;
    }
    return false;
}
