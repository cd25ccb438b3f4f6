// Ends the test program when a call under test does not return within its limit. A call stuck in
// a loop cannot be abandoned from inside, and the rest of the run would wait for it for ever; a
// program that ends with a message fails the run at once instead.
#pragma once
#include <windows.h>
#include "Handles.h"
#include <cstdio>

namespace testsupport {

class CWatchdog
{
public:
    CWatchdog(DWORD limitMs, const char* what) : m_limitMs(limitMs), m_what(what)
    {
        m_thread.Reset(CreateThread(nullptr, 0, &CWatchdog::Run, this, 0, nullptr));
    }
    ~CWatchdog()
    {
        SetEvent(m_done.Get());
        if (m_thread.Valid())
            WaitForSingleObject(m_thread.Get(), INFINITE);
    }
    CWatchdog(const CWatchdog&) = delete;
    CWatchdog& operator=(const CWatchdog&) = delete;

private:
    static DWORD WINAPI Run(void* param)
    {
        CWatchdog& self = *static_cast<CWatchdog*>(param);
        if (WaitForSingleObject(self.m_done.Get(), self.m_limitMs) == WAIT_TIMEOUT) {
            fprintf(stderr, "%s did not return within %lu ms\n", self.m_what, self.m_limitMs);
            fflush(stderr);
            // Not ExitProcess: it would wait for the stuck thread's locks.
            TerminateProcess(GetCurrentProcess(), 3);
        }
        return 0;
    }

    DWORD m_limitMs;
    const char* m_what;
    CHandle m_done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    CHandle m_thread;
};

} // namespace testsupport
