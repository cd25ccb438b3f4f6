// The simulator hub's converter discovery (a UDP responder on 127.0.0.1) for the length of a
// scope: it announces the converters given and is stopped when the scope ends, also when a test
// fails on the way.
#pragma once
#include "SimControl.h"
#include <cstdint>
#include <vector>

namespace simctl {

class CSimDiscoveryScope
{
public:
    CSimDiscoveryScope(CSimControl& sim, const std::vector<SimConverter>& converters) : m_sim(sim)
    {
        m_info = sim.StartDiscovery(converters);
    }
    ~CSimDiscoveryScope()
    {
        try {
            m_sim.StopDiscovery(m_info.id);
        } catch (...) {
        }
    }
    CSimDiscoveryScope(const CSimDiscoveryScope&) = delete;
    CSimDiscoveryScope& operator=(const CSimDiscoveryScope&) = delete;

    uint16_t Port() const { return static_cast<uint16_t>(m_info.udpPort); }
    int Requests() const { return static_cast<int>(m_sim.DiscoveryInfo(m_info.id)["requests"].AsInt()); }

private:
    CSimControl& m_sim;
    SimDiscoveryInfo m_info;
};

} // namespace simctl
