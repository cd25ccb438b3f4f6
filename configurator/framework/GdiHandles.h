// Owners of GDI and USER objects used by the windows: fonts and bitmaps (DeleteObject), memory
// device contexts (DeleteDC), icons (DestroyIcon) and image lists (ImageList_Destroy), each freed
// on destruction and on Reset; an object selected into a device context for a scope; a window's
// device context with the window's font selected.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <utility>

template <class T, void (*Free)(T)>
class CUiHandle
{
public:
    CUiHandle() = default;
    explicit CUiHandle(T h) : m_h(h) {}
    ~CUiHandle() { Reset(); }
    CUiHandle(const CUiHandle&) = delete;
    CUiHandle& operator=(const CUiHandle&) = delete;
    CUiHandle(CUiHandle&& o) noexcept : m_h(std::exchange(o.m_h, nullptr)) {}
    CUiHandle& operator=(CUiHandle&& o) noexcept
    {
        if (this != &o)
            Reset(std::exchange(o.m_h, nullptr));
        return *this;
    }

    T Get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    void Reset(T h = nullptr)
    {
        if (m_h)
            Free(m_h);
        m_h = h;
    }

private:
    T m_h = nullptr;
};

inline void FreeFont(HFONT h) { DeleteObject(h); }
inline void FreeBitmap(HBITMAP h) { DeleteObject(h); }
inline void FreeMemoryDc(HDC h) { DeleteDC(h); }
inline void FreeIcon(HICON h) { DestroyIcon(h); }
inline void FreeImageList(HIMAGELIST h) { ImageList_Destroy(h); }

using CFontHandle = CUiHandle<HFONT, FreeFont>;
using CBitmapHandle = CUiHandle<HBITMAP, FreeBitmap>;
using CMemoryDc = CUiHandle<HDC, FreeMemoryDc>;
using CIconHandle = CUiHandle<HICON, FreeIcon>;
using CImageListHandle = CUiHandle<HIMAGELIST, FreeImageList>;

// `object` selected into `dc` until the scope ends, when what was there before comes back.
class CSelectedObject
{
public:
    CSelectedObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(dc && object ? SelectObject(dc, object) : nullptr) {}
    ~CSelectedObject()
    {
        if (m_old)
            SelectObject(m_dc, m_old);
    }
    CSelectedObject(const CSelectedObject&) = delete;
    CSelectedObject& operator=(const CSelectedObject&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

// A window's display context with the window's own font selected, for measuring its text.
class CWindowTextDc
{
public:
    explicit CWindowTextDc(HWND wnd) : m_wnd(wnd), m_dc(GetDC(wnd))
    {
        HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(wnd, WM_GETFONT, 0, 0));
        if (m_dc && font)
            m_oldFont = SelectObject(m_dc, font);
    }
    ~CWindowTextDc()
    {
        if (!m_dc)
            return;
        if (m_oldFont)
            SelectObject(m_dc, m_oldFont);
        ReleaseDC(m_wnd, m_dc);
    }
    CWindowTextDc(const CWindowTextDc&) = delete;
    CWindowTextDc& operator=(const CWindowTextDc&) = delete;
    HDC Get() const { return m_dc; }

private:
    HWND m_wnd;
    HDC m_dc;
    HGDIOBJ m_oldFont = nullptr;
};
