// Where a serial port leaves the overlapped operations that the system did not end in time when
// the port gave up on them (a cancel that a driver never completes, for example after the adapter
// was pulled out): the record and its buffer stay allocated while the system may still write into
// them, so that closing a port never waits for the system without a limit.
//
// Rule: a record is freed only once its operation has ended (HasOverlappedIoCompleted); every
// Abandon and Sweep frees the records that have ended since. The number of records held is capped:
// a port that would add one more while the cap is reached is refused at Open instead (Full), so a
// device that never ends its operations cannot make the process grow without bound.
#pragma once
#include "Lock.h"
#include <windows.h>
#include <memory>
#include <string>
#include <vector>

// One overlapped operation of a serial port with what the system writes or reads while it runs.
struct ComIoRecord
{
    OVERLAPPED ov{};
    DWORD mask = 0;         // output of a comm-event wait
    std::string buffer;     // target of a read, source of a write
};

class CIoGraveyard
{
public:
    static const size_t DefaultCap = 64;

    explicit CIoGraveyard(size_t cap = DefaultCap) : m_cap(cap) {}
    // Records whose operation has not ended are left allocated: the system may still use them.
    ~CIoGraveyard();
    CIoGraveyard(const CIoGraveyard&) = delete;
    CIoGraveyard& operator=(const CIoGraveyard&) = delete;

    // The one the serial ports of this process share.
    static CIoGraveyard& Instance();

    // Takes a record whose operation has not ended (an ended one is freed at once).
    void Abandon(std::unique_ptr<ComIoRecord> record);
    // Frees the records whose operation has ended; returns how many are still held.
    size_t Sweep();
    // After a sweep: whether the cap of records is reached.
    bool Full();

private:
    CCriticalSection m_lock;
    std::vector<std::unique_ptr<ComIoRecord>> m_records;
    size_t m_cap;
};

// Whether the operation of `ov` has ended; reads what the system writes, not a cached copy.
inline bool IoEnded(const OVERLAPPED& ov)
{
    return *reinterpret_cast<const volatile ULONG_PTR*>(&ov.Internal) != static_cast<ULONG_PTR>(STATUS_PENDING);
}

// Waits, polling, until the operation of `ov` has ended or `limitMs` have passed since the tick
// count `start`; true when it ended. Does not wait on the record's event: owners share events, so
// another operation's signal says nothing about this one.
bool WaitForIoEnd(const OVERLAPPED& ov, DWORD start, DWORD limitMs);
