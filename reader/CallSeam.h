// A replaceable set of system calls, one per process: the code that makes the calls reaches them
// through CCallSeam<Calls>::Get(), which is the system's own set (a default-constructed Calls, whose
// virtual members call the system) unless a stand-in has been put in for a while (CCallSeamScope).
// This lets a test see what a port hands the system and play a driver that refuses a call or never
// ends an operation, which no real device does on demand.
//
// Rule: a stand-in is put in and taken out only while nothing else makes these calls (before a port
// or a reader thread starts, after it has ended); it must outlive its scope's end.
#pragma once
#include <atomic>

template <class Calls>
class CCallSeam
{
public:
    static Calls& Get()
    {
        Calls* standIn = StandIn().load(std::memory_order_acquire);
        return standIn ? *standIn : System();
    }

private:
    template <class> friend class CCallSeamScope;

    static Calls& System()
    {
        static Calls calls;
        return calls;
    }
    static std::atomic<Calls*>& StandIn()
    {
        static std::atomic<Calls*> standIn{nullptr};
        return standIn;
    }
};

// Puts `standIn` in place of the calls in use for the scope's lifetime.
template <class Calls>
class CCallSeamScope
{
public:
    explicit CCallSeamScope(Calls& standIn) : m_previous(CCallSeam<Calls>::StandIn().exchange(&standIn)) {}
    ~CCallSeamScope() { CCallSeam<Calls>::StandIn().store(m_previous, std::memory_order_release); }
    CCallSeamScope(const CCallSeamScope&) = delete;
    CCallSeamScope& operator=(const CCallSeamScope&) = delete;

private:
    Calls* m_previous;
};
