// Clipboard text. The system owns the memory block only after SetClipboardData succeeds; until
// then it is ours to free.
#include "Clipboard.h"
#include "Exceptions.h"
#include "Wnd.h"
#include <cstring>
#include <cwchar>

namespace {

class CClipboardOpen
{
public:
    explicit CClipboardOpen(HWND owner)
    {
        if (!OpenClipboard(owner))
            ThrowOSException(GetLastError(), L"OpenClipboard");
    }
    ~CClipboardOpen() { CloseClipboard(); }
    CClipboardOpen(const CClipboardOpen&) = delete;
    CClipboardOpen& operator=(const CClipboardOpen&) = delete;
};

class CGlobalBlock
{
public:
    explicit CGlobalBlock(SIZE_T size) : m_h(GlobalAlloc(GMEM_MOVEABLE, size)) {}
    ~CGlobalBlock()
    {
        if (m_h)
            GlobalFree(m_h);
    }
    CGlobalBlock(const CGlobalBlock&) = delete;
    CGlobalBlock& operator=(const CGlobalBlock&) = delete;
    HGLOBAL Get() const { return m_h; }
    void Release() { m_h = nullptr; }

private:
    HGLOBAL m_h;
};

} // namespace

void CopyToClipboard(const wchar_t* text, int64_t length)
{
    if (!text)
        text = L"";
    if (length < 0)
        length = static_cast<int64_t>(wcslen(text));
    const SIZE_T bytes = static_cast<SIZE_T>(length + 1) * sizeof(wchar_t);
    CClipboardOpen open(CWnd::GetMainWindow());
    EmptyClipboard();
    CGlobalBlock block(bytes);
    if (!block.Get())
        ThrowOSException(GetLastError(), L"GlobalAlloc");
    if (auto* p = static_cast<wchar_t*>(GlobalLock(block.Get())))
    {
        memcpy(p, text, static_cast<size_t>(length) * sizeof(wchar_t));
        p[length] = L'\0';
        GlobalUnlock(block.Get());
    }
    else
    {
        ThrowOSException(GetLastError(), L"GlobalLock");
    }
    if (!SetClipboardData(CF_UNICODETEXT, block.Get()))
        ThrowOSException(GetLastError(), L"SetClipboardData");
    block.Release();
}
