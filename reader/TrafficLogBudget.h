// How much of a port's received traffic goes into the log: a device that sends without pause must
// not fill the disk at its own rate. Each port may log a fixed number of received bytes per second;
// what is left out is counted and told in one line when the second is over.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>

class CTrafficLogBudget
{
public:
    static const size_t BytesPerSecond = 4096;
    static const DWORD WindowMs = 1000;

    // Of `bytes` received at tick `now`, how many are logged. When a window with left-out bytes
    // has ended, `omitted` and `spanMs` say how many and over how long (else `omitted` is 0).
    size_t Take(DWORD now, size_t bytes, uint32_t& omitted, DWORD& spanMs)
    {
        omitted = 0;
        spanMs = 0;
        if (!m_started || now - m_windowStart >= WindowMs) {
            omitted = m_omitted;
            spanMs = now - m_windowStart;
            m_started = true;
            m_windowStart = now;
            m_used = 0;
            m_omitted = 0;
        }
        size_t room = BytesPerSecond - m_used;
        size_t logged = bytes < room ? bytes : room;
        m_used += logged;
        size_t left = bytes - logged;
        m_omitted = left > UINT32_MAX - m_omitted ? UINT32_MAX : m_omitted + static_cast<uint32_t>(left);
        return logged;
    }

    // Bytes left out of the window now running (told at the end of a connection).
    uint32_t Pending(DWORD now, DWORD& spanMs)
    {
        uint32_t omitted = m_omitted;
        spanMs = now - m_windowStart;
        m_omitted = 0;
        return omitted;
    }

    void Reset() { m_started = false; m_used = 0; m_omitted = 0; }

private:
    bool m_started = false;
    DWORD m_windowStart = 0;
    size_t m_used = 0;
    uint32_t m_omitted = 0;
};
