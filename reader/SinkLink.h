// The link through which readers call their owner's IReaderEvents: one per owner, shared by the
// owner and its readers (also by readers that were left to end alone). It counts the calls in
// flight, so that the owner never waits on a call (the platform may hold one in ExternalEvent for
// as long as it likes, a disk may hold a log write) and yet never frees what a call may still
// touch: once the owner has gone (Sever), the last call in flight runs the owner's release when it
// returns.
//
// Rules a reader of this code must not break:
// - A reader's pointer to its sink is read (Enter) and emptied (CutOff) only under the link's lock,
//   so no call of that reader starts once CutOff has returned; a call already let through goes on.
// - No lock is held during a call: the owner's call may call back into the reader (or close it).
#pragma once
#include "Lock.h"
#include "ReaderEvents.h"
#include <atomic>
#include <cstdint>
#include <functional>

class CSinkLink
{
public:
    CSinkLink() = default;
    CSinkLink(const CSinkLink&) = delete;
    CSinkLink& operator=(const CSinkLink&) = delete;

    // Lets one call through `sink`: the sink, in flight until Leave; null (and nothing counted) when
    // the sink is empty or the link severed.
    IReaderEvents* Enter(const std::atomic<IReaderEvents*>& sink);
    // Ends a call that Enter let through. The last call out after Sever runs the release, on its
    // own thread, once the link's lock is left.
    void Leave();
    // Empties `sink`: no call through it starts once this returns.
    void CutOff(std::atomic<IReaderEvents*>& sink);
    // The owner goes: no call starts afterwards. `release` (may be empty) runs here when no call is
    // in flight (true), else when the last call in flight returns (false).
    bool Sever(std::function<void()> release);
    // Waits until no call is in flight, at most timeoutMs (INFINITE: without limit).
    bool WaitIdle(DWORD timeoutMs);
    uint32_t CallsInFlight();

private:
    CCriticalSection m_lock;
    uint32_t m_calls = 0;
    bool m_severed = false;
    std::function<void()> m_release; // the owner's, once severed with calls in flight
};
