// A serial driver that opens a device at once but then stalls in the set-up of its line, holding
// whoever set it up inside the system, in place of the comm calls in use for the length of a scope:
// every port opens through the system, and a SetupComm on the chosen port's latest handle waits
// until released (at most 15 s). Made with Stall::Read, it stalls in the first read of that handle
// instead: the open has ended, and whoever reads is held with the port open.
//
// Rule: the scope must outlive every thread that may still be stalled; Release lets them all go on.
#pragma once
#include "ComCalls.h"
#include "Handles.h"

#include <atomic>
#include <string>

class CStallingSetupComCalls : public CComCalls
{
public:
    enum class Stall
    {
        Setup,
        Read,
    };

    explicit CStallingSetupComCalls(const std::wstring& port, Stall stall = Stall::Setup)
        : m_path(L"\\\\.\\" + port), m_stall(stall)
    {
    }
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
        StallAt(Stall::Setup, device);
        return CComCalls::SetupComm(device, inQueue, outQueue);
    }
    BOOL ReadFile(HANDLE device, void* buffer, DWORD size, DWORD* got, OVERLAPPED* ov) override
    {
        StallAt(Stall::Read, device);
        return CComCalls::ReadFile(device, buffer, size, got, ov);
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
    void StallAt(Stall stall, HANDLE device)
    {
        if (stall != m_stall || device != m_device.load())
            return;
        ++m_inside;
        WaitForSingleObject(m_release.Get(), 15000);
        --m_inside;
    }

    const std::wstring m_path;
    const Stall m_stall;
    CHandle m_release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<HANDLE> m_device{INVALID_HANDLE_VALUE};
    std::atomic<int> m_opens{0};
    std::atomic<int> m_inside{0};
    std::atomic<int> m_closes{0};
};
