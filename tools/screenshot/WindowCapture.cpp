// Screen pixels of a window into a bottom-up 24-bit BMP.
#include "WindowCapture.h"
#include "Handles.h"
#include <cstdio>
#include <vector>

namespace {

// The screen's device context, released on every way out.
class CScreenDC
{
public:
    CScreenDC() : m_dc(GetDC(nullptr)) {}
    ~CScreenDC() { if (m_dc) ReleaseDC(nullptr, m_dc); }
    CScreenDC(const CScreenDC&) = delete;
    CScreenDC& operator=(const CScreenDC&) = delete;
    HDC Get() const { return m_dc; }

private:
    HDC m_dc;
};

class CMemoryDC
{
public:
    explicit CMemoryDC(HDC like) : m_dc(CreateCompatibleDC(like)) {}
    ~CMemoryDC() { if (m_dc) DeleteDC(m_dc); }
    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;
    HDC Get() const { return m_dc; }

private:
    HDC m_dc;
};

class CBitmap
{
public:
    explicit CBitmap(HBITMAP bitmap) : m_bitmap(bitmap) {}
    ~CBitmap() { if (m_bitmap) DeleteObject(m_bitmap); }
    CBitmap(const CBitmap&) = delete;
    CBitmap& operator=(const CBitmap&) = delete;
    HBITMAP Get() const { return m_bitmap; }

private:
    HBITMAP m_bitmap;
};

// Selects an object into a DC for the life of this holder.
class CSelectObject
{
public:
    CSelectObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(SelectObject(dc, object)) {}
    ~CSelectObject() { SelectObject(m_dc, m_old); }
    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

bool Fail(const char* what)
{
    std::fprintf(stderr, "parvelshot: %s failed (error %lu)\n", what, GetLastError());
    return false;
}

} // namespace

bool CaptureWindowToBmp(HWND window, const std::wstring& path, int& width, int& height)
{
    RECT rect;
    if (!GetWindowRect(window, &rect))
        return Fail("GetWindowRect");
    width = rect.right - rect.left;
    height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return Fail("a window with an empty rectangle");

    CScreenDC screen;
    if (!screen.Get())
        return Fail("GetDC");
    CMemoryDC memory(screen.Get());
    CBitmap bitmap(CreateCompatibleBitmap(screen.Get(), width, height));
    if (!memory.Get() || !bitmap.Get())
        return Fail("CreateCompatibleBitmap");
    {
        CSelectObject select(memory.Get(), bitmap.Get());
        if (!BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), rect.left, rect.top, SRCCOPY | CAPTUREBLT))
            return Fail("BitBlt");
    }

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height; // bottom-up
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * height);
    if (GetDIBits(memory.Get(), bitmap.Get(), 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                  DIB_RGB_COLORS) != height)
        return Fail("GetDIBits");

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    info.biSizeImage = static_cast<DWORD>(pixels.size());

    CFileHandle out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out)
        return Fail("CreateFile");
    DWORD written = 0;
    bool ok = WriteFile(out.Get(), &file, sizeof(file), &written, nullptr) && written == sizeof(file)
              && WriteFile(out.Get(), &info, sizeof(info), &written, nullptr) && written == sizeof(info)
              && WriteFile(out.Get(), pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr)
              && written == pixels.size();
    return ok ? true : Fail("WriteFile");
}
