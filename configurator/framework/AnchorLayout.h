// Keeps controls in place relative to their owner's edges when the owner is resized.
// Capture once after the controls are in their designed places; Apply at every WM_SIZE.
#pragma once
#include <windows.h>
#include <vector>

enum AnchorFlags : UINT
{
    ANCHOR_LEFT = 1,        // left edge fixed
    ANCHOR_TOP = 2,         // top edge fixed
    ANCHOR_RIGHT = 4,       // right edge follows the owner's right side
    ANCHOR_BOTTOM = 8,      // bottom edge follows the owner's bottom side
    ANCHOR_NOCOPYBITS = 16, // repositioning uses SWP_NOCOPYBITS (a control that moves always does)
};

struct AnchorItem
{
    int id = 0;
    UINT flags = 0;
    RECT rect = {};   // at capture, in the owner's client coordinates
    HWND hWnd = nullptr;
};

class CAnchorLayout
{
public:
    explicit CAnchorLayout(HWND owner = nullptr) : m_owner(owner) {}
    void SetOwner(HWND owner) { m_owner = owner; }
    HWND GetOwner() const { return m_owner; }

    void AddControl(int id, UINT flags);
    // Left fixed, moves down with the bottom side, size kept (flags 9).
    void AddWindow(HWND child);
    void Capture();
    // Repositions every item for a client area of cx x cy; into `hdwp` when given (the caller ends
    // that batch), otherwise in a batch of its own.
    void Apply(int cx, int cy, HDWP hdwp = nullptr);

    const std::vector<AnchorItem>& Items() const { return m_items; }

private:
    HWND m_owner;
    std::vector<AnchorItem> m_items;
    RECT m_client = {};
};
