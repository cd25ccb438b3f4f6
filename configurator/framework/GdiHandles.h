// Owners of GDI and USER objects used by the windows: fonts and bitmaps (DeleteObject), memory
// device contexts (DeleteDC), icons (DestroyIcon) and image lists (ImageList_Destroy), each freed
// on destruction and on Reset; an object selected into a device context for a scope; a window's
// device context with the window's font selected; a bitmap to draw on off the screen.
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

// A 32-bit top-down bitmap of `width` x `height` selected into a memory device context, for drawing
// off the screen and reading the pixels back (0x00RRGGBB). Dc() is null when it could not be made.
class CDibCanvas
{
public:
    CDibCanvas(int width, int height) : m_width(width), m_dc(CreateCompatibleDC(nullptr))
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        if (m_dc && width > 0 && height > 0)
            m_bitmap.Reset(CreateDIBSection(m_dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (m_bitmap) {
            m_bits = static_cast<const DWORD*>(bits);
            m_old = SelectObject(m_dc.Get(), m_bitmap.Get());
        }
    }
    ~CDibCanvas()
    {
        if (m_old)
            SelectObject(m_dc.Get(), m_old);
    }
    CDibCanvas(const CDibCanvas&) = delete;
    CDibCanvas& operator=(const CDibCanvas&) = delete;
    HDC Dc() const { return m_bits ? m_dc.Get() : nullptr; }
    // The pixel at (x, y), once what was drawn is flushed (GdiFlush).
    DWORD At(int x, int y) const { return m_bits[static_cast<size_t>(y) * m_width + x] & 0xFFFFFF; }

private:
    int m_width;
    CMemoryDc m_dc;
    CBitmapHandle m_bitmap;
    const DWORD* m_bits = nullptr;
    HGDIOBJ m_old = nullptr;
};
