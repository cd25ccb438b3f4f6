// Test programs that crash on purpose, each run as its own ctest entry that must be seen to fail
// (tests/support/Harness.cmake): a crash on the main thread before GoogleTest's summary, one on
// another thread, one after the summary, while the process exits, and one that the system handles
// itself (no filter), where the prefix's debugger setting alone must keep a debugger away. Beside
// them a program that ends with exit code 0 before GoogleTest's summary, as one that something
// ends quietly does: the missing summary alone must fail it.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdio>
#include <cstdlib>

namespace {

void WriteThroughNull()
{
    volatile int* volatile target = nullptr;
    *target = 1;
}

DWORD WINAPI CrashingThread(void*)
{
    WriteThroughNull();
    return 0;
}

void CrashAtExit()
{
    WriteThroughNull();
}

} // namespace

TEST(CrashOnPurpose, MainThread)
{
    WriteThroughNull();
    SUCCEED() << "not reached";
}

TEST(CrashOnPurpose, OtherThread)
{
    HANDLE thread = CreateThread(nullptr, 0, CrashingThread, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // Not reached when the crash ends the process; a program still here has survived a crash.
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
}

TEST(CrashOnPurpose, AfterTheSummary)
{
    std::atexit(CrashAtExit);
}

TEST(CrashOnPurpose, WithoutTheFilter)
{
    SetUnhandledExceptionFilter(nullptr);
    WriteThroughNull();
}

TEST(CrashOnPurpose, QuietExitBeforeTheSummary)
{
    std::fflush(stdout);
    ExitProcess(0);
}
