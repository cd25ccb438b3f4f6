// Vertical (and, when the content is wider, horizontal) scrolling of a page taller than its window.
// Update after every layout change; OnVScroll from WM_VSCROLL.
#pragma once
#include <windows.h>

class CScrollHelper
{
public:
    static constexpr int LineStep = 60; // pixels per SB_LINEUP / SB_LINEDOWN

    void SetOwner(HWND owner) { m_owner = owner; }
    HWND GetOwner() const { return m_owner; }
    // Content size in pixels; a width of 0 never scrolls horizontally.
    void SetContentSize(int width, int height)
    {
        m_contentWidth = width;
        m_contentHeight = height;
    }

    void Update();
    void OnVScroll(UINT code, UINT position, HWND scrollBar);
    // nTrackPos of the vertical scroll bar of `hWnd`, or of the owner when null.
    int GetTrackPos(HWND hWnd) const;

    int VerticalPage() const { return m_vPage; }
    int VerticalPos() const { return m_vPos; }
    int ContentHeight() const { return m_contentHeight; }

private:
    HWND m_owner = nullptr;
    int m_hPage = 0;
    int m_vPage = 0;
    int m_contentWidth = 0;
    int m_contentHeight = 0;
    int m_hPos = 0;
    int m_vPos = 0;
};
