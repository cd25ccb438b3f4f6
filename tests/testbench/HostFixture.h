// Shared helpers of the test host's tests: the stand-in add-in beside the test program, its call
// record, environment switches, and a host whose memory manager counts every block.
#pragma once
#include "CodePage.h"
#include "ModuleState.h"
#include "TestFolder.h"
#include "TestHost.h"
#include <windows.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

// The stand-in add-in lies beside the test program.
inline std::wstring FakeAddinPath()
{
    wchar_t buffer[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer, n);
    return path.substr(0, path.rfind(L'\\') + 1) + L"fakeaddin.dll";
}

// Sets an environment variable of this process for one scope.
class EnvVar
{
public:
    EnvVar(const wchar_t* name, const std::wstring& value) : m_name(name)
    {
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~EnvVar() { SetEnvironmentVariableW(m_name.c_str(), nullptr); }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    std::wstring m_name;
};

// Where the stand-in writes the calls it receives, for one test.
class CallRecord
{
public:
    CallRecord() : m_env(L"FAKEADDIN_RECORD", m_folder.File(L"calls.txt")) {}

    std::vector<std::wstring> Lines() const
    {
        std::vector<std::wstring> lines;
        HANDLE file = CreateFileW(m_folder.File(L"calls.txt").c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return lines;
        std::string bytes;
        char block[4096];
        DWORD read = 0;
        while (ReadFile(file, block, sizeof(block), &read, nullptr) && read > 0)
            bytes.append(block, read);
        CloseHandle(file);
        std::wstring text = Utf8ToWide(bytes);
        size_t start = 0, end;
        while ((end = text.find(L'\n', start)) != std::wstring::npos) {
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }
    // The recorded calls from the first one that starts with `prefix` on.
    std::vector<std::wstring> LinesFrom(const std::wstring& prefix) const
    {
        std::vector<std::wstring> all = Lines();
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].compare(0, prefix.size(), prefix) == 0)
                return std::vector<std::wstring>(all.begin() + static_cast<std::ptrdiff_t>(i), all.end());
        return {};
    }
    void Clear() const { DeleteFileW(m_folder.File(L"calls.txt").c_str()); }

private:
    TestFolder m_folder;
    EnvVar m_env;
};

// A host whose memory manager keeps count: every block handed out must come back exactly once.
class CountingHost : public CTestParvel
{
public:
    bool AllocMemory(void** memory, unsigned long bytes) override
    {
        if (m_refuse)
            return false;
        bool ok = CTestParvel::AllocMemory(memory, bytes);
        if (ok) {
            ++m_allocations;
            m_live.insert(*memory);
        }
        return ok;
    }
    void FreeMemory(void** memory) override
    {
        if (memory && *memory) {
            ++m_frees;
            if (m_live.erase(*memory) == 0)
                ++m_foreignFrees; // not ours, or freed twice
        }
        CTestParvel::FreeMemory(memory);
    }

    int Allocations() const { return m_allocations; }
    int Frees() const { return m_frees; }
    size_t Live() const { return m_live.size(); }
    int ForeignFrees() const { return m_foreignFrees; }
    void RefuseMemory(bool refuse) { m_refuse = refuse; }

private:
    int m_allocations = 0;
    int m_frees = 0;
    int m_foreignFrees = 0;
    bool m_refuse = false;
    std::set<void*> m_live;
};

// Texts of the string tables in one language for one scope.
class MessageLanguage
{
public:
    explicit MessageLanguage(LCID lcid) : m_saved(MessageLcid) { MessageLcid = lcid; }
    ~MessageLanguage() { MessageLcid = m_saved; }

private:
    LCID m_saved;
};

// Counts listener calls of one kind.
struct ListenerCount
{
    int calls = 0;
    static void Callback(void* context, CTestParvel*) { ++static_cast<ListenerCount*>(context)->calls; }
};

inline bool PostEvent(CTestParvel& host, const std::wstring& source, const std::wstring& message,
                      const std::wstring& data)
{
    std::wstring s = source, m = message, d = data;
    return host.ExternalEvent(&s[0], &m[0], &d[0]);
}
