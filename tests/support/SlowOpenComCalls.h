// A serial driver that takes its time to open a port, as a Bluetooth serial port does (tens of
// seconds, then ERROR_SEM_TIMEOUT), in place of the comm calls in use for the length of a scope.
// Every other call goes on to the calls that were in use when it was made (the system's, or the
// Windows model's), and so does the open of any other port when it is made for one port only.
//
// Rule: the scope must outlive every thread that may still be inside CreateFileW; Release ends the
// opens in progress at once (the driver giving up early), for a test that has seen what it needed.
#pragma once
#include "ComCalls.h"
#include "Handles.h"

#include <atomic>
#include <string>

class CSlowOpenComCalls : public CComCalls
{
public:
    // `port` (COM47, say): only that port opens slowly; null: every port does.
    explicit CSlowOpenComCalls(DWORD openMs, const wchar_t* port = nullptr)
        : m_openMs(openMs), m_port(port ? port : L""), m_inner(ComCalls()),
          m_release(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }
    ~CSlowOpenComCalls() override { Release(); }
    CSlowOpenComCalls(const CSlowOpenComCalls&) = delete;
    CSlowOpenComCalls& operator=(const CSlowOpenComCalls&) = delete;

    HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override
    {
        if (!Slow(path))
            return m_inner.CreateFileW(path, access, share, disposition, flags);
        ++m_opens;
        ++m_inside;
        WaitForSingleObject(m_release.Get(), m_openMs);
        --m_inside;
        SetLastError(ERROR_SEM_TIMEOUT);
        return INVALID_HANDLE_VALUE;
    }
    BOOL CloseHandle(HANDLE device) override { return m_inner.CloseHandle(device); }
    BOOL GetCommState(HANDLE device, DCB* dcb) override { return m_inner.GetCommState(device, dcb); }
    BOOL SetCommState(HANDLE device, DCB* dcb) override { return m_inner.SetCommState(device, dcb); }
    BOOL SetupComm(HANDLE device, DWORD in, DWORD out) override { return m_inner.SetupComm(device, in, out); }
    BOOL SetCommTimeouts(HANDLE device, COMMTIMEOUTS* t) override { return m_inner.SetCommTimeouts(device, t); }
    BOOL SetCommMask(HANDLE device, DWORD mask) override { return m_inner.SetCommMask(device, mask); }
    BOOL WaitCommEvent(HANDLE device, DWORD* mask, OVERLAPPED* ov) override
    {
        return m_inner.WaitCommEvent(device, mask, ov);
    }
    BOOL ReadFile(HANDLE device, void* buffer, DWORD size, DWORD* got, OVERLAPPED* ov) override
    {
        return m_inner.ReadFile(device, buffer, size, got, ov);
    }
    BOOL WriteFile(HANDLE device, const void* data, DWORD size, DWORD* sent, OVERLAPPED* ov) override
    {
        return m_inner.WriteFile(device, data, size, sent, ov);
    }
    BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* ov, DWORD* transferred, BOOL wait) override
    {
        return m_inner.GetOverlappedResult(device, ov, transferred, wait);
    }
    BOOL CancelIoEx(HANDLE device, OVERLAPPED* ov) override { return m_inner.CancelIoEx(device, ov); }
    BOOL PurgeComm(HANDLE device, DWORD flags) override { return m_inner.PurgeComm(device, flags); }
    BOOL ClearCommError(HANDLE device, DWORD* errors, COMSTAT* stat) override
    {
        return m_inner.ClearCommError(device, errors, stat);
    }

    // Opens of the slow port asked for so far, and those still waiting for the driver.
    int Opens() const { return m_opens.load(); }
    int Inside() const { return m_inside.load(); }
    void Release() { SetEvent(m_release.Get()); }

private:
    // Whether the device path (\\.\COM47) names the slow port.
    bool Slow(const wchar_t* path) const
    {
        if (m_port.empty())
            return true;
        const std::wstring device(path);
        const size_t slash = device.rfind(L'\\');
        const std::wstring name = slash == std::wstring::npos ? device : device.substr(slash + 1);
        return _wcsicmp(name.c_str(), m_port.c_str()) == 0;
    }

    const DWORD m_openMs;
    const std::wstring m_port;
    CComCalls& m_inner;
    CHandle m_release;
    std::atomic<int> m_opens{0};
    std::atomic<int> m_inside{0};
};
