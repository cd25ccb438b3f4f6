// The portable-mode decision and the data folder.
#include "SettingsLocation.h"
#include "Exceptions.h"
#include "Paths.h"
#include <shlobj.h>
#include <vector>

namespace {

const wchar_t* const SettingsFileName = L"Parvel.xml";
const wchar_t* const PortableMarkerName = L"portable_mode_enabled";
const wchar_t* const DataSubfolder = L"\\Corvane\\Parvel";

std::wstring CreateDataFolder(const std::wstring& appDataFolder)
{
    std::wstring folder = appDataFolder + DataSubfolder;
    if (!DirectoryExists(folder) && !ForceDirectories(folder))
        ThrowOSException(GetLastError(), L"ForceDirectories");
    return folder;
}

} // namespace

bool IsPortableFolder(const std::wstring& folder)
{
    return FileExists(folder + L'\\' + SettingsFileName) || FileExists(folder + L'\\' + PortableMarkerName);
}

std::wstring GetUserDataFolder()
{
    wchar_t path[MAX_PATH] = {};
    HRESULT hr = SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path);
    if (FAILED(hr))
        ThrowOSException(static_cast<DWORD>(hr), L"SHGetFolderPath");
    return CreateDataFolder(path);
}

SettingsLocation DecideSettingsLocation(const std::wstring& moduleFolder, const std::wstring& appDataFolder)
{
    SettingsLocation location;
    location.Portable = IsPortableFolder(moduleFolder);
    if (location.Portable) {
        location.DataFolder = moduleFolder;
        location.SettingsFile = moduleFolder + L'\\' + SettingsFileName;
    } else {
        location.DataFolder = appDataFolder.empty() ? GetUserDataFolder() : CreateDataFolder(appDataFolder);
    }
    return location;
}

SettingsLocation GetSettingsLocation(const std::wstring& modulePath)
{
    return DecideSettingsLocation(ExtractFolder(modulePath));
}

SettingsLocation GetSettingsLocation(HMODULE module)
{
    // Paths may be longer than MAX_PATH: grow until the whole name fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            ThrowOSException(GetLastError(), L"GetModuleFileName");
        if (n < buffer.size())
            return GetSettingsLocation(std::wstring(buffer.data(), n));
        if (buffer.size() >= 32768)
            ThrowOSException(ERROR_INSUFFICIENT_BUFFER, L"GetModuleFileName");
        buffer.resize(buffer.size() * 2);
    }
}
