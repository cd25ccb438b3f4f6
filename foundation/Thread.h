// Base classes for the objects of both programs and for objects that own one thread.
//
// CThread runs its virtual Run on a thread of its own. The rule a reader must not break: a class
// derived from CThread must stop its thread (StopThread) in its own destructor, after waking Run
// from whatever it waits on, because by the time the base destructor runs the derived members
// that Run uses are already gone. The base destructor joins as a last resort only.
//
// A thread may be stuck in the system (a driver that takes its time over a call) or in a call its
// owner's host holds, when its owner must go on: the owner then stops waiting (or, on the object's
// own thread, does not wait at all) and hands the object over to the thread (Abandon),
// which deletes it once Run has returned. Each thread holds a reference to the library its code
// is in until its very end, so that a library its host frees meanwhile stays mapped for it.
#pragma once
#include "Handles.h"
#include <atomic>
#include <windows.h>

// A reference to the library whose code `code` is, for a thread that runs that code and lets go of
// the library only by FreeLibraryAndExitThread at its very end; none (null) for the program itself,
// which outlives its threads anyway.
HMODULE ReferenceOwnLibrary(const void* code);

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
    // thread was never started. On the object's own thread (an abandoned object deleting itself)
    // it only lets go of the handle.
    void StopThread();
    // The same, waiting at most `timeoutMs`: false when Run has not returned by then (the thread
    // goes on; follow with Abandon, or wait again).
    bool StopThread(DWORD timeoutMs);
    // After a StopThread that gave up (or on the object's own thread): the thread deletes the
    // object once Run has returned, or the object is deleted here when it already has, without
    // waiting for the rest of the thread's exit (the owner has given up waiting already). The
    // object must have been made with new; the caller does not touch it again.
    void Abandon();

    bool Started() const { return m_thread.Valid(); }
    // Whether the calling thread is the object's own.
    bool OnOwnThread() const;
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
    bool WaitForEnd(DWORD timeoutMs);

    // What becomes of the object when Run returns: the owner's still, or the thread's to delete.
    enum Fate : uint32_t
    {
        FATE_RUNNING = 0,
        FATE_ENDED = 1,     // Run has returned; the thread touches the object no more
        FATE_ABANDONED = 2, // the owner has handed the object over to the thread
    };

    CHandle m_thread;
    std::atomic<uint32_t> m_running{0};
    std::atomic<uint32_t> m_fate{FATE_RUNNING};
    HMODULE m_module = nullptr; // the thread's reference to its library, taken by Start
    SIZE_T m_stackReservation = 0;
};
