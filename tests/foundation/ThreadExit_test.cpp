// The end of a thread whose Run has returned is waited for only a while: the system may hold a
// thread's exit while a driver ends I/O that the thread started, and an owner on the platform's
// thread must not hang on that. The test holds a thread's exit itself, with a TLS callback of this
// program that sleeps in the thread's DLL_THREAD_DETACH (which the system calls under the loader
// lock, so nothing the waiting thread does meanwhile may need that lock).
#include "Handles.h"
#include "Thread.h"

#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

std::atomic<DWORD> HeldThread{0};      // the thread whose exit is held (0: none)
std::atomic<bool> ExitHeld{false};     // its DLL_THREAD_DETACH has begun
std::atomic<HANDLE> LetGo{nullptr};    // ends the hold early
const DWORD HoldMs = 4000;

void NTAPI HoldMarkedThreadsExit(PVOID, DWORD reason, PVOID)
{
    if (reason != DLL_THREAD_DETACH || HeldThread.load() == 0 || GetCurrentThreadId() != HeldThread.load())
        return;
    ExitHeld = true;
    WaitForSingleObject(LetGo.load(), HoldMs);
}

// A thread whose Run marks its own exit to be held and returns at once.
class HeldExitThread : public CThread
{
public:
    ~HeldExitThread() override { StopThread(); }

protected:
    DWORD Run() override
    {
        HeldThread = GetCurrentThreadId();
        return 0;
    }
};

} // namespace

// Placed between the runtime's first and last TLS callback entries, so the system calls it at
// every thread's attach and detach.
extern "C" {
extern const PIMAGE_TLS_CALLBACK ParvelTestHoldExitCallback;
__attribute__((section(".CRT$XLP"), used)) const PIMAGE_TLS_CALLBACK ParvelTestHoldExitCallback = HoldMarkedThreadsExit;
}

// Both ways of stopping: without a limit (as destructors stop), and with a limit longer than the
// hold.
TEST(Thread, AnExitTheSystemHoldsIsWaitedForOnlyASecond)
{
    for (const DWORD limit : {DWORD(INFINITE), DWORD(10000)}) {
        SCOPED_TRACE(limit);
        CHandle letGo(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(letGo.Valid());
        LetGo = letGo.Get();
        ExitHeld = false;

        HeldExitThread thread;
        thread.Start();
        HANDLE copy = nullptr;
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), thread.ThreadHandle(), GetCurrentProcess(), &copy, SYNCHRONIZE,
                                    FALSE, 0));
        CHandle ownCopy(copy);
        const DWORD start = GetTickCount();
        bool stopped = true;
        if (limit == INFINITE)
            thread.StopThread();
        else
            stopped = thread.StopThread(limit);
        const DWORD took = GetTickCount() - start;
        std::printf("StopThread(%ld) with the thread's exit held %lu ms: %lu ms\n", static_cast<long>(limit),
                    static_cast<unsigned long>(HoldMs), static_cast<unsigned long>(took));
        EXPECT_TRUE(stopped);
        EXPECT_FALSE(thread.Started());
        EXPECT_LE(took, 1300u);
        // The hold was real: the thread was inside its exit, and still is.
        EXPECT_TRUE(ExitHeld.load()) << "the system did not call the TLS callback at the thread's exit";
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(ownCopy.Get(), 0));

        SetEvent(letGo.Get());
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(ownCopy.Get(), 5000));
        HeldThread = 0;
        LetGo = nullptr;
    }
}

namespace {

// A thread whose Run waits for `go` (at most HoldMs), then marks its own exit to be held and
// returns; its deletion is recorded.
class GatedHeldExitThread : public CThread
{
public:
    GatedHeldExitThread(HANDLE go, std::atomic<bool>& deleted) : m_go(go), m_deleted(deleted) {}
    ~GatedHeldExitThread() override
    {
        StopThread();
        m_deleted = true;
    }

protected:
    DWORD Run() override
    {
        WaitForSingleObject(m_go, HoldMs);
        HeldThread = GetCurrentThreadId();
        return 0;
    }

private:
    HANDLE m_go;
    std::atomic<bool>& m_deleted;
};

} // namespace

// The owner gave up waiting (StopThread with a limit), and Run returned just before it handed the
// object over: Abandon deletes the object at once, without waiting for the exit the system holds.
TEST(Thread, AbandonAfterRunReturnedDoesNotWaitForTheHeldExit)
{
    CHandle letGo(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    CHandle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(letGo.Valid() && go.Valid());
    LetGo = letGo.Get();
    ExitHeld = false;
    std::atomic<bool> deleted{false};

    GatedHeldExitThread* thread = new GatedHeldExitThread(go.Get(), deleted);
    thread->Start();
    HANDLE copy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), thread->ThreadHandle(), GetCurrentProcess(), &copy, SYNCHRONIZE,
                                FALSE, 0));
    CHandle ownCopy(copy);
    EXPECT_FALSE(thread->StopThread(50));
    SetEvent(go.Get());
    const DWORD heldStart = GetTickCount();
    while (!ExitHeld.load() && GetTickCount() - heldStart < 5000)
        Sleep(5);
    ASSERT_TRUE(ExitHeld.load()) << "the system did not call the TLS callback at the thread's exit";

    const DWORD start = GetTickCount();
    thread->Abandon();
    const DWORD took = GetTickCount() - start;
    std::printf("Abandon with Run returned and the thread's exit held %lu ms: %lu ms\n",
                static_cast<unsigned long>(HoldMs), static_cast<unsigned long>(took));
    EXPECT_TRUE(deleted.load());
    EXPECT_LE(took, 300u);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(ownCopy.Get(), 0));

    SetEvent(letGo.Get());
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(ownCopy.Get(), 5000));
    HeldThread = 0;
    LetGo = nullptr;
}
