// A serial driver that takes its time to open a port, as a Bluetooth serial port does (tens of
// seconds, then ERROR_SEM_TIMEOUT), in place of the system's comm calls for the length of a scope.
// Every other call goes to the system.
//
// Rule: the scope must outlive every thread that may still be inside CreateFileW; Release ends the
// opens in progress at once (the driver giving up early), for a test that has seen what it needed.
#pragma once
#include "ComCalls.h"
#include "Handles.h"

#include <atomic>

class CSlowOpenComCalls : public CComCalls
{
public:
    explicit CSlowOpenComCalls(DWORD openMs) : m_openMs(openMs), m_release(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~CSlowOpenComCalls() override { Release(); }
    CSlowOpenComCalls(const CSlowOpenComCalls&) = delete;
    CSlowOpenComCalls& operator=(const CSlowOpenComCalls&) = delete;

    HANDLE CreateFileW(const wchar_t*, DWORD, DWORD, DWORD, DWORD) override
    {
        ++m_opens;
        ++m_inside;
        WaitForSingleObject(m_release.Get(), m_openMs);
        --m_inside;
        SetLastError(ERROR_SEM_TIMEOUT);
        return INVALID_HANDLE_VALUE;
    }

    // Opens asked for so far, and those still waiting for the driver.
    int Opens() const { return m_opens.load(); }
    int Inside() const { return m_inside.load(); }
    void Release() { SetEvent(m_release.Get()); }

private:
    const DWORD m_openMs;
    CHandle m_release;
    std::atomic<int> m_opens{0};
    std::atomic<int> m_inside{0};
};
