// A unique temporary folder for one test, removed with everything in it afterwards.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <string>

class TestFolder
{
public:
    TestFolder()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        static LONG counter = 0;
        wchar_t name[64];
        _snwprintf(name, 64, L"parvel-test-%lu-%lu-%ld", GetCurrentProcessId(), GetTickCount(),
                   InterlockedIncrement(&counter));
        m_path = std::wstring(temp) + name;
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~TestFolder()
    {
        std::wstring from = m_path + L'\0'; // double NUL for SHFileOperation
        SHFILEOPSTRUCTW op = {};
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = FOF_NO_UI;
        SHFileOperationW(&op);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    // Without a trailing backslash.
    const std::wstring& Path() const { return m_path; }
    std::wstring File(const wchar_t* name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};
