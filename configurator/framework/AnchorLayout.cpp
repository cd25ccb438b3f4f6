// Anchored control layout.
#include "AnchorLayout.h"

void CAnchorLayout::AddControl(int id, UINT flags)
{
    AnchorItem item;
    item.id = id;
    item.flags = flags;
    item.hWnd = m_owner ? GetDlgItem(m_owner, id) : nullptr;
    m_items.push_back(item);
}

void CAnchorLayout::AddWindow(HWND child)
{
    AnchorItem item;
    item.id = GetDlgCtrlID(child);
    item.flags = ANCHOR_LEFT | ANCHOR_BOTTOM;
    item.hWnd = child;
    m_items.push_back(item);
}

void CAnchorLayout::Capture()
{
    if (!m_owner)
        return;
    GetClientRect(m_owner, &m_client);
    POINT origin = {0, 0};
    ScreenToClient(m_owner, &origin);
    for (AnchorItem& item : m_items)
    {
        item.rect = RECT{};
        if (!item.hWnd)
            continue;
        GetWindowRect(item.hWnd, &item.rect);
        OffsetRect(&item.rect, origin.x, origin.y);
    }
}

void CAnchorLayout::Apply(int cx, int cy, HDWP hdwp)
{
    if (!m_owner)
        return;
    const int width = m_client.right - m_client.left;
    const int height = m_client.bottom - m_client.top;
    const int scrollX = GetScrollPos(m_owner, SB_HORZ);
    const int scrollY = GetScrollPos(m_owner, SB_VERT);
    const bool ownBatch = hdwp == nullptr;
    if (ownBatch)
        hdwp = BeginDeferWindowPos(static_cast<int>(m_items.size()));
    for (const AnchorItem& item : m_items)
    {
        if (!item.hWnd)
            continue;
        RECT r = item.rect;
        const int itemWidth = r.right - r.left;
        const int itemHeight = r.bottom - r.top;
        if (item.flags & ANCHOR_RIGHT)
            r.right += cx - width;
        if (item.flags & ANCHOR_BOTTOM)
            r.bottom += cy - height;
        if (!(item.flags & ANCHOR_TOP))
            r.top = r.bottom - itemHeight;
        if (!(item.flags & ANCHOR_LEFT))
            r.left = r.right - itemWidth;
        OffsetRect(&r, -scrollX, -scrollY);
        UINT swp = SWP_NOZORDER | SWP_NOACTIVATE;
        // A control that moves is drawn anew where it lands: the bits the system would copy there
        // may be what a growing sibling has painted over its old place.
        const bool moves = !(item.flags & ANCHOR_LEFT) || !(item.flags & ANCHOR_TOP);
        if ((item.flags & ANCHOR_NOCOPYBITS) || moves)
            swp |= SWP_NOCOPYBITS;
        if (hdwp)
            hdwp = DeferWindowPos(hdwp, item.hWnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, swp);
        else
            SetWindowPos(item.hWnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, swp);
    }
    if (ownBatch && hdwp)
        EndDeferWindowPos(hdwp);
}
