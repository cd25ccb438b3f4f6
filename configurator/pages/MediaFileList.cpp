// The media files that the sound page's editor offers (see MediaFileList.h).
#include "MediaFileList.h"
#include "FileHelpers.h"
#include <windows.h>
#include <shellapi.h>
#include <algorithm>

const wchar_t MEDIA_ENTRY_SEPARATOR[] = L" \t// ";

std::wstring MediaEntryText(const std::wstring& path, const std::wstring& displayName)
{
    return displayName.empty() ? path : path + MEDIA_ENTRY_SEPARATOR + displayName;
}

std::wstring EditorTextToPath(const std::wstring& text)
{
    const size_t at = text.find(MEDIA_ENTRY_SEPARATOR);
    return at == std::wstring::npos ? text : text.substr(0, at);
}

std::vector<std::wstring> MediaFileEntries(const std::wstring& folder)
{
    static const wchar_t* const Extensions[3] = {L".wav", L".mid", L".mp3"};
    std::vector<std::wstring> paths;
    FindFiles(paths, folder, Extensions);
    std::sort(paths.begin(), paths.end(), PathLess);
    std::vector<std::wstring> entries;
    entries.reserve(paths.size());
    for (const std::wstring& path : paths) {
        SHFILEINFOW info = {};
        std::wstring name;
        if (SHGetFileInfoW(path.c_str(), 0, &info, sizeof(info), SHGFI_DISPLAYNAME))
            name = info.szDisplayName;
        entries.push_back(MediaEntryText(path, name));
    }
    return entries;
}

std::wstring SystemMediaFolder()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    return std::wstring(folder, length) + L"\\Media";
}
