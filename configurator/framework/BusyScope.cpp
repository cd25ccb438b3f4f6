// The wait cursor and the busy title of a window for the time of a call.
#include "BusyScope.h"

CBusyScope::CBusyScope(HWND window, const std::wstring& what) : m_window(window)
{
    m_cursor = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    const int length = GetWindowTextLengthW(window);
    m_title.assign(length + 1, L'\0');
    m_title.resize(GetWindowTextW(window, &m_title[0], length + 1));
    SetWindowTextW(window, (m_title + L" - " + what).c_str());
    // A menu just closed over the window leaves its area to repaint as well.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

CBusyScope::~CBusyScope()
{
    if (IsWindow(m_window))
        SetWindowTextW(m_window, m_title.c_str());
    SetCursor(m_cursor);
}
