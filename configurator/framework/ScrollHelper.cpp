// Scroll bars of a tall page.
#include "ScrollHelper.h"
#include <algorithm>

namespace {

// Sets one bar for `usable` pixels of a `content`-pixel content; returns how far the content must
// scroll to follow the new position.
int SetBar(HWND owner, int bar, int usable, int content, int& page, int& pos)
{
    int oldPos = pos;
    int delta;
    SCROLLINFO si = {};
    si.cbSize = sizeof(si);
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;
    si.nMin = 0;
    if (usable >= content)
    {
        page = 0;
        pos = 0;
        si.nMax = 0;
        delta = oldPos;
    }
    else
    {
        si.nMax = content - 1;
        if (oldPos > 0 && page > 0)
            pos = MulDiv(oldPos, usable, page);
        page = usable;
        pos = std::min(pos, content - usable - 1);
        pos = std::max(pos, 0);
        delta = oldPos - pos;
    }
    si.nPage = page;
    si.nPos = pos;
    si.nTrackPos = pos;
    SetScrollInfo(owner, bar, &si, TRUE);
    return delta;
}

} // namespace

int ScrollPosToShow(int pos, int page, int content, int top, int bottom)
{
    if (bottom > pos + page)
        pos = bottom - page;
    if (top < pos)
        pos = top;
    pos = std::min(pos, content - page);
    return std::max(pos, 0);
}

void CScrollHelper::SetOwner(HWND owner)
{
    m_owner = owner;
    if (owner)
        m_focus.Start(owner, [this](HWND control) { ScrollIntoView(control); });
    else
        m_focus.Stop();
}

void CScrollHelper::ScrollIntoView(HWND control)
{
    if (!m_owner || m_vPage <= 0 || m_vPage >= m_contentHeight)
        return;
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, m_owner, reinterpret_cast<POINT*>(&r), 2);
    const int target = ScrollPosToShow(m_vPos, m_vPage, m_contentHeight, r.top + m_vPos, r.bottom + m_vPos);
    ScrollBy(target - m_vPos);
}

void CScrollHelper::Update()
{
    if (!m_owner)
        return;
    RECT window, client;
    GetWindowRect(m_owner, &window);
    GetClientRect(m_owner, &client);
    const int windowWidth = window.right - window.left;
    const int windowHeight = window.bottom - window.top;
    const int clientWidth = client.right;
    const int clientHeight = client.bottom;
    const int vBar = GetSystemMetrics(SM_CXVSCROLL);
    const int hBar = GetSystemMetrics(SM_CYHSCROLL);
    // The client size the window would have without scroll bars.
    int usableWidth = clientWidth;
    if (windowWidth - clientWidth >= vBar)
        usableWidth = clientWidth + vBar;
    int usableHeight = clientHeight;
    if (windowHeight - clientHeight >= hBar)
        usableHeight = clientHeight + hBar;
    const int dx = SetBar(m_owner, SB_HORZ, usableWidth, m_contentWidth, m_hPage, m_hPos);
    const int dy = SetBar(m_owner, SB_VERT, usableHeight, m_contentHeight, m_vPage, m_vPos);
    if (dx != 0 || dy != 0)
        ScrollWindow(m_owner, dx, dy, nullptr, nullptr);
}

void CScrollHelper::OnVScroll(UINT code, UINT position, HWND scrollBar)
{
    if (!m_owner || code > SB_THUMBTRACK)
        return;
    int step = 0;
    switch (code)
    {
    case SB_LINEUP: step = -LineStep; break;
    case SB_LINEDOWN: step = LineStep; break;
    case SB_PAGEUP: step = -m_vPage; break;
    case SB_PAGEDOWN: step = m_vPage; break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: step = GetTrackPos(scrollBar) - m_vPos; break;
    }
    ScrollBy(step);
}

void CScrollHelper::ScrollBy(int step)
{
    int newPos = m_vPos + step;
    newPos = std::min(newPos, m_contentHeight - m_vPage);
    newPos = std::max(newPos, 0);
    step = newPos - m_vPos;
    if (step == 0)
        return;
    m_vPos = newPos;
    SetScrollPos(m_owner, SB_VERT, m_vPos, TRUE);
    ScrollWindow(m_owner, 0, -step, nullptr, nullptr);
}

int CScrollHelper::GetTrackPos(HWND hWnd) const
{
    SCROLLINFO si = {};
    si.cbSize = sizeof(si);
    si.fMask = SIF_TRACKPOS;
    GetScrollInfo(hWnd ? hWnd : m_owner, SB_VERT, &si);
    return si.nTrackPos;
}
