// Redirects a predefined registry key (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE) to a scratch key for
// the lifetime of the object, so tests never touch the keys a user or another test relies on.
// The scratch key is deleted afterwards.
#pragma once
#include <windows.h>
#include <string>

class ScratchRegistry
{
public:
    explicit ScratchRegistry(HKEY predefined) : m_predefined(predefined)
    {
        static LONG counter = 0;
        wchar_t name[96];
        _snwprintf(name, 96, L"Software\\ParvelTests\\%lu-%lu-%ld", GetCurrentProcessId(), GetTickCount(),
                   InterlockedIncrement(&counter));
        m_path = name;
        RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key,
                        nullptr);
        m_ok = m_key && RegOverridePredefKey(m_predefined, m_key) == ERROR_SUCCESS;
    }
    ~ScratchRegistry()
    {
        RegOverridePredefKey(m_predefined, nullptr);
        if (m_key)
            RegCloseKey(m_key);
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    }
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    bool Ok() const { return m_ok; }
    HKEY Key() const { return m_key; }

private:
    HKEY m_predefined;
    HKEY m_key = nullptr;
    std::wstring m_path;
    bool m_ok = false;
};
