// Folder, path and whole-file helpers.
#include "Paths.h"
#include "Exceptions.h"
#include "Handles.h"
#include <windows.h>
#include <algorithm>

bool DirectoryExists(const std::wstring& path)
{
    DWORD attr = GetFileAttributesW(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::wstring& path)
{
    DWORD attr = GetFileAttributesW(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::wstring& path)
{
    if (path.empty() || DirectoryExists(path))
        return true;
    std::wstring dir = path;
    while (!dir.empty() && dir.back() == L'\\')
        dir.pop_back();
    size_t slash = dir.rfind(L'\\');
    if (slash == std::wstring::npos)
        return true; // a drive alone, or a bare name: nothing to create above it
    std::wstring parent = dir.substr(0, slash);
    if (!DirectoryExists(parent) && !ForceDirectories(parent))
        return false;
    if (CreateDirectoryW(dir.c_str(), nullptr))
        return true;
    // Another process (a second instance, the configurator) may have made it since the look above.
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS && DirectoryExists(dir))
        return true;
    SetLastError(error);
    return false;
}

std::wstring IncludeTrailingBackslash(const std::wstring& folder)
{
    return folder + L'\\';
}

void TrimSpaces(std::wstring& text)
{
    size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) {
        text.clear();
        return;
    }
    size_t last = text.find_last_not_of(L' ');
    text = text.substr(first, last - first + 1);
}

std::wstring ExtractFolder(const std::wstring& path)
{
    size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::string ReadFileBytes(const std::wstring& path)
{
    CFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        ThrowFileExceptionFromOsError(GetLastError(), path.c_str());
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size))
        ThrowFileExceptionFromOsError(GetLastError(), path.c_str());
    std::string data(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < data.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file.Get(), &data[done], chunk, &got, nullptr))
            ThrowFileExceptionFromOsError(GetLastError(), path.c_str());
        if (got == 0)
            break; // the file shrank meanwhile
        done += got;
    }
    data.resize(done);
    return data;
}
