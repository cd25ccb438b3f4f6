// Vertical (and, when the content is wider, horizontal) scrolling of a page taller than its window.
// Update after every layout change; OnVScroll from WM_VSCROLL. While it has an owner, a control of
// the owner that gets the keyboard focus is scrolled into view.
#pragma once
#include "FocusFollower.h"
#include <windows.h>

// The vertical scroll position at which a view `page` pixels high, now at `pos`, shows the item
// from `top` to `bottom` (content coordinates), moving as little as it can: an item above the view
// comes to its top, one below it to its bottom, one taller than the view shows its top. The result
// stays within 0 .. content - page.
int ScrollPosToShow(int pos, int page, int content, int top, int bottom);

class CScrollHelper
{
public:
    static constexpr int LineStep = 60; // pixels per SB_LINEUP / SB_LINEDOWN

    void SetOwner(HWND owner);
    HWND GetOwner() const { return m_owner; }
    // Content size in pixels; a width of 0 never scrolls horizontally.
    void SetContentSize(int width, int height)
    {
        m_contentWidth = width;
        m_contentHeight = height;
    }

    void Update();
    void OnVScroll(UINT code, UINT position, HWND scrollBar);
    // Scrolls vertically until `control`, a descendant of the owner, is in view.
    void ScrollIntoView(HWND control);
    // nTrackPos of the vertical scroll bar of `hWnd`, or of the owner when null.
    int GetTrackPos(HWND hWnd) const;

    int VerticalPage() const { return m_vPage; }
    int VerticalPos() const { return m_vPos; }
    int ContentHeight() const { return m_contentHeight; }

private:
    void ScrollBy(int step);

    HWND m_owner = nullptr;
    CFocusFollower m_focus;
    int m_hPage = 0;
    int m_vPage = 0;
    int m_contentWidth = 0;
    int m_contentHeight = 0;
    int m_hPos = 0;
    int m_vPos = 0;
};
