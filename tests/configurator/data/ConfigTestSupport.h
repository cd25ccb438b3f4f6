// Shared pieces of the data core's tests: a scratch data folder and registry, file helpers, and
// the add-in's settings key as the stores write it.
#pragma once
#include "AppConfig.h"
#include "AppData.h"
#include "Exceptions.h"
#include "Paths.h"
#include "SettingsStore.h"
#include "ScratchRegistry.h"
#include "TestFolder.h"
#include <windows.h>
#include <gtest/gtest.h>
#include <string>

inline void WriteFileBytes(const std::wstring& path, const std::string& data)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(file);
}

inline std::wstring Widen(const char* text)
{
    std::wstring out;
    for (; *text; ++text)
        out += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return out;
}

// A Unix path of the build as the Windows programs reach it.
inline std::wstring UnixPath(const char* path)
{
    std::wstring out = L"Z:" + Widen(path);
    for (wchar_t& c : out)
        if (c == L'/')
            c = L'\\';
    return out;
}

inline bool AddinKeyExists()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Corvane\\Parvel", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The application data on a scratch data folder and a scratch current-user key.
class AppDataTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_registry.Ok());
        m_app.SetLocation(false, m_folder.Path());
    }
    void TearDown() override { CAppConfig::SetDataFolder(std::wstring()); }

    std::wstring ConfigFile() const { return m_folder.File(AppConfigFileName); }
    void WriteDefault() { ASSERT_TRUE(CAppConfig::EnsureDefaultFile(m_folder.Path(), GetModuleHandleW(nullptr))); }

    TestFolder m_folder;
    ScratchRegistry m_registry{HKEY_CURRENT_USER};
    CAppData m_app;
};
