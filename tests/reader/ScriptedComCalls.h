// A serial driver as the tests script it, in place of the system's comm calls for the length of a
// scope: it records every block and event mask a port hands over, may report a line state of its
// own, refuse the queue sizes, and keep reads and comm-event waits pending for ever, as a driver
// that never ends a cancelled operation does, until the test ends them.
//
// Rule: declare it before the ports that use it, so that they are gone (and have left their
// pending records to the I/O graveyard) before it ends those operations at its own end.
#pragma once
#include "ComCalls.h"

#include <mutex>
#include <vector>

class CScriptedComCalls : public CComCalls
{
public:
    CScriptedComCalls() = default;
    ~CScriptedComCalls() override { EndStuck(); }
    CScriptedComCalls(const CScriptedComCalls&) = delete;
    CScriptedComCalls& operator=(const CScriptedComCalls&) = delete;

    // --- the script (set before the port uses it) ---
    bool reportState = false;       // GetCommState reports `reported` instead of the device's state
    DCB reported{};
    bool stateReachesDevice = true; // SetCommState passes the block on to the device
    DWORD refuseQueues = 0;         // the error SetupComm fails with (0: the device answers)
    bool readsNeverEnd = false;     // ReadFile leaves its operation pending for ever
    bool commWaitsNeverEnd = false; // so does WaitCommEvent

    // --- what the port handed over ---
    std::vector<DCB> States()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_states;
    }
    std::vector<DWORD> Masks()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_masks;
    }
    size_t Stuck()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_stuck.size();
    }
    // The system ends, at last, every operation kept pending.
    void EndStuck()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (OVERLAPPED* ov : m_stuck) {
            ov->Internal = 0;
            if (ov->hEvent)
                SetEvent(ov->hEvent);
        }
        m_stuck.clear();
    }

    BOOL GetCommState(HANDLE device, DCB* dcb) override
    {
        if (!reportState)
            return CComCalls::GetCommState(device, dcb);
        *dcb = reported;
        return TRUE;
    }
    BOOL SetCommState(HANDLE device, DCB* dcb) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_states.push_back(*dcb);
        }
        return stateReachesDevice ? CComCalls::SetCommState(device, dcb) : TRUE;
    }
    BOOL SetupComm(HANDLE device, DWORD inQueue, DWORD outQueue) override
    {
        if (!refuseQueues)
            return CComCalls::SetupComm(device, inQueue, outQueue);
        SetLastError(refuseQueues);
        return FALSE;
    }
    BOOL SetCommMask(HANDLE device, DWORD mask) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_masks.push_back(mask);
        }
        return CComCalls::SetCommMask(device, mask);
    }
    BOOL WaitCommEvent(HANDLE device, DWORD* mask, OVERLAPPED* ov) override
    {
        return commWaitsNeverEnd ? KeepPending(ov) : CComCalls::WaitCommEvent(device, mask, ov);
    }
    BOOL ReadFile(HANDLE device, void* buffer, DWORD size, DWORD* got, OVERLAPPED* ov) override
    {
        return readsNeverEnd ? KeepPending(ov) : CComCalls::ReadFile(device, buffer, size, got, ov);
    }
    BOOL CancelIoEx(HANDLE device, OVERLAPPED* ov) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (OVERLAPPED* stuck : m_stuck)
                if (stuck == ov)
                    return TRUE;   // taken, and never acted on
        }
        return CComCalls::CancelIoEx(device, ov);
    }

private:
    BOOL KeepPending(OVERLAPPED* ov)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ov->Internal = STATUS_PENDING;
        m_stuck.push_back(ov);
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }

    std::mutex m_mutex;
    std::vector<DCB> m_states;
    std::vector<DWORD> m_masks;
    std::vector<OVERLAPPED*> m_stuck;
};
