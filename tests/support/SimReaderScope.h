// One reader of the simulator hub for the length of a scope: on COM<com> (a pty mapped into the
// prefix) or, with com 0, behind a TCP listener on 127.0.0.1. The hub forgets it when the scope
// ends, also when a test fails on the way.
#pragma once
#include "SimControl.h"
#include <windows.h>
#include <string>

namespace simctl {

class CSimReaderScope
{
public:
    CSimReaderScope(CSimControl& sim, int com, const SimReaderConfig& config = {}) : m_sim(sim)
    {
        m_info = com ? sim.CreateSerial(com, config) : sim.CreateTcp(config);
    }
    ~CSimReaderScope()
    {
        try {
            m_sim.Destroy(m_info.id);
        } catch (...) {
        }
    }
    CSimReaderScope(const CSimReaderScope&) = delete;
    CSimReaderScope& operator=(const CSimReaderScope&) = delete;

    int Id() const { return m_info.id; }
    int TcpPort() const { return m_info.tcpPort; }
    std::wstring Port() const { return std::wstring(m_info.port.begin(), m_info.port.end()); }
    // Serial: whether a process other than the hub has the line open; TCP: whether a client is
    // connected. Waits up to timeoutMs for the expected answer.
    bool WaitPeerOpen(bool expected, DWORD timeoutMs = 3000) const
    {
        const DWORD start = GetTickCount();
        for (;;) {
            JsonValue info = m_sim.Info(m_info.id);
            const bool open = m_info.tcpPort ? info["connected"].AsBool() : info["peer_open"].AsBool();
            if (open == expected)
                return true;
            if (GetTickCount() - start >= timeoutMs)
                return false;
            Sleep(50);
        }
    }

private:
    CSimControl& m_sim;
    SimReaderInfo m_info;
};

} // namespace simctl
