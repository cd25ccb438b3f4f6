// Owners of GDI and USER objects used by the windows: fonts (DeleteObject), icons (DestroyIcon)
// and image lists (ImageList_Destroy). Each frees on destruction and on Reset.
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
inline void FreeIcon(HICON h) { DestroyIcon(h); }
inline void FreeImageList(HIMAGELIST h) { ImageList_Destroy(h); }

using CFontHandle = CUiHandle<HFONT, FreeFont>;
using CIconHandle = CUiHandle<HICON, FreeIcon>;
using CImageListHandle = CUiHandle<HIMAGELIST, FreeImageList>;
