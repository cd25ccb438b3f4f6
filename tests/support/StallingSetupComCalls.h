// A serial driver that opens a device at once but then stalls in the set-up of its line, holding
// whoever set it up inside the system, in place of the comm calls in use for the length of a scope:
// every port opens through the system, and a SetupComm on the chosen port's latest handle waits
// until released (at most 15 s).
//
// Rule: the scope must outlive every thread that may still be inside SetupComm; Release lets them
// all go on.
#pragma once
#include "ComCalls.h"
#include "Handles.h"

#include <atomic>
#include <string>

class CStallingSetupComCalls : public CComCalls
{
public:
    explicit CStallingSetupComCalls(const std::wstring& port) : m_path(L"\\\\.\\" + port) {}
    ~CStallingSetupComCalls() override { Release(); }
    CStallingSetupComCalls(const CStallingSetupComCalls&) = delete;
    CStallingSetupComCalls& operator=(const CStallingSetupComCalls&) = delete;

    HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override
    {
        HANDLE device = CComCalls::CreateFileW(path, access, share, disposition, flags);
        if (_wcsicmp(path, m_path.c_str()) == 0) {
            ++m_opens;
            m_device = device;
        }
        return device;
    }
    BOOL SetupComm(HANDLE device, DWORD inQueue, DWORD outQueue) override
    {
        if (device == m_device.load()) {
            ++m_inside;
            WaitForSingleObject(m_release.Get(), 15000);
            --m_inside;
        }
        return CComCalls::SetupComm(device, inQueue, outQueue);
    }
    BOOL CloseHandle(HANDLE device) override
    {
        if (device == m_device.load())
            ++m_closes;
        return CComCalls::CloseHandle(device);
    }

    int Opens() const { return m_opens.load(); }
    int Inside() const { return m_inside.load(); }
    // Closes of the port's latest handle.
    int Closes() const { return m_closes.load(); }
    void Release() { SetEvent(m_release.Get()); }

private:
    const std::wstring m_path;
    CHandle m_release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<HANDLE> m_device{INVALID_HANDLE_VALUE};
    std::atomic<int> m_opens{0};
    std::atomic<int> m_inside{0};
    std::atomic<int> m_closes{0};
};
