// Base classes for the objects of both programs and for objects that own one thread.
//
// CThread runs its virtual Run on a thread of its own. The rule a reader must not break: a class
// derived from CThread must stop its thread (StopThread) in its own destructor, after waking Run
// from whatever it waits on, because by the time the base destructor runs the derived members
// that Run uses are already gone. The base destructor joins as a last resort only.
#pragma once
#include "Handles.h"
#include <atomic>
#include <windows.h>

class CObject
{
public:
    CObject() = default;
    virtual ~CObject() = default;
};

class CThread : public CObject
{
public:
    CThread() = default;
    ~CThread() override;
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Starts the thread once; does nothing when the object already has a thread (also after Run
    // has returned). Throws COSException ("CreateThread") when the thread cannot be created.
    void Start();
    // Clears the running flag and waits for Run to return. Safe to call again, and when the
    // thread was never started. Must not be called on the object's own thread.
    void StopThread();

    bool Started() const { return m_thread.Valid(); }
    // 1 while the thread is meant to go on; Run loops test it.
    bool Running() const { return m_running.load(std::memory_order_acquire) != 0; }
    HANDLE ThreadHandle() const { return m_thread.Get(); }
    // The stack the next Start reserves (0: the process's default).
    SIZE_T StackReservation() const { return m_stackReservation; }

protected:
    // The thread body; its result becomes the thread's exit code.
    virtual DWORD Run() = 0;
    // The stack the thread reserves, for a class that knows its need (before Start; 0: the
    // process's default). Only a reservation: the system commits pages as the stack grows, except
    // under Wine, which commits it whole, so a generous default costs every thread dearly there.
    void SetStackReservation(SIZE_T bytes) { m_stackReservation = bytes; }
    void SetRunning(bool running) { m_running.store(running ? 1 : 0, std::memory_order_release); }

private:
    static DWORD WINAPI ThreadProc(void* param);

    CHandle m_thread;
    std::atomic<uint32_t> m_running{0};
    SIZE_T m_stackReservation = 0;
};
