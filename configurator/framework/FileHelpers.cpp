// File search, path order and the open-file dialog.
#include "FileHelpers.h"
#include "AppMessageBox.h"
#include "AppResource.h"
#include "ModuleState.h"
#include "UiSeam.h"
#include <commdlg.h>
#include <cwchar>

namespace {

// One find handle, closed on every way out of the search.
class CFindHandle
{
public:
    explicit CFindHandle(HANDLE h) : m_h(h) {}
    ~CFindHandle()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            FindClose(m_h);
    }
    CFindHandle(const CFindHandle&) = delete;
    CFindHandle& operator=(const CFindHandle&) = delete;
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

bool ExtensionMatches(const wchar_t* name, const wchar_t* const* extensions)
{
    if (!extensions)
        return true;
    const wchar_t* dot = wcsrchr(name, L'.');
    const wchar_t* extension = dot ? dot : L"";
    for (int i = 0; i < 3; ++i)
        if (extensions[i] && _wcsicmp(extension, extensions[i]) == 0)
            return true;
    return false;
}

} // namespace

void FindFiles(std::vector<std::wstring>& out, const std::wstring& folder, const wchar_t* const* extensions)
{
    std::wstring pattern = folder + L"\\*";
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW(pattern.c_str(), &data));
    if (find.Get() == INVALID_HANDLE_VALUE)
        return;
    do
    {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
                FindFiles(out, folder + L"\\" + data.cFileName, extensions);
        }
        else if (ExtensionMatches(data.cFileName, extensions))
        {
            out.push_back(folder.empty() ? std::wstring(data.cFileName) : folder + L"\\" + data.cFileName);
        }
    } while (FindNextFileW(find.Get(), &data));
}

bool PathLess(const std::wstring& a, const std::wstring& b)
{
    size_t ia = 0, ib = 0;
    for (;;)
    {
        size_t sepA = a.find(L'\\', ia);
        size_t sepB = b.find(L'\\', ib);
        if (sepA == std::wstring::npos)
        {
            if (sepB != std::wstring::npos)
                return false;
            return _wcsicmp(a.c_str() + ia, b.c_str() + ib) < 0;
        }
        if (sepB == std::wstring::npos)
            return true;
        size_t lengthA = sepA - ia, lengthB = sepB - ib;
        size_t shorter = lengthA < lengthB ? lengthA : lengthB;
        int c = _wcsnicmp(a.c_str() + ia, b.c_str() + ib, shorter);
        if (c != 0)
            return c < 0;
        if (lengthA != lengthB)
            return lengthA < lengthB;
        ia = sepA + 1;
        ib = sepB + 1;
    }
}

bool RunBrowseForFile(std::wstring& path, HWND owner)
{
    std::wstring filter = LoadAppString(IDS_SOUND_FILTER);
    for (wchar_t& c : filter)
        if (c == L'|')
            c = L'\0';
    filter.push_back(L'\0');
    filter.push_back(L'\0');
    wchar_t buffer[MAX_PATH] = {};
    wcsncpy(buffer, path.c_str(), MAX_PATH - 1);
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.hInstance = ModuleHandle;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_LONGNAMES | OFN_ENABLESIZING;
    BOOL ok = GetOpenFileNameW(&ofn);
    path = ok ? buffer : L"";
    return ok != FALSE;
}

bool BrowseForFile(std::wstring& path, HWND owner)
{
    if (IUiSeam* seam = GetUiSeam())
    {
        bool ok = seam->BrowseForFile(path, owner);
        if (!ok)
            path.clear();
        return ok;
    }
    return RunBrowseForFile(path, owner);
}
