// A test program that crashes must fail, and at once: a debugger that the system starts for an
// unhandled exception (Wine's winedbg --auto) would hold the program until it is killed, and a
// crash after GoogleTest's summary must not leave an exit code that reads as success.
//
// The filter runs on the crashing thread, possibly with the C runtime's locks held or the heap
// damaged, so it formats into a stack buffer and writes with WriteFile only.
#pragma once
#include <windows.h>
#include <cstdio>
#include <exception>

// Exit code of a test program ended by an unhandled exception.
constexpr unsigned kCrashExitCode = 0xC0DE0001;

namespace crash_exit_detail {

inline const char* ExceptionName(DWORD code)
{
    switch (code)
    {
    case EXCEPTION_ACCESS_VIOLATION: return "access violation";
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return "array bounds exceeded";
    case EXCEPTION_BREAKPOINT: return "breakpoint";
    case EXCEPTION_DATATYPE_MISALIGNMENT: return "datatype misalignment";
    case EXCEPTION_FLT_DIVIDE_BY_ZERO: return "floating-point division by zero";
    case EXCEPTION_FLT_INVALID_OPERATION: return "floating-point invalid operation";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "illegal instruction";
    case EXCEPTION_IN_PAGE_ERROR: return "in-page error";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "integer division by zero";
    case EXCEPTION_INT_OVERFLOW: return "integer overflow";
    case EXCEPTION_NONCONTINUABLE_EXCEPTION: return "non-continuable exception";
    case EXCEPTION_PRIV_INSTRUCTION: return "privileged instruction";
    case EXCEPTION_STACK_OVERFLOW: return "stack overflow";
    case 0xC0000374: return "heap corruption";
    case 0xC0000409: return "stack buffer overrun";
    case 0x20474343: return "C++ exception (GCC)";
    case 0xE06D7363: return "C++ exception (MSVC)";
    default: return "unknown exception";
    }
}

inline void WriteStdErr(const char* text, int length)
{
    if (length <= 0)
        return;
    DWORD written = 0;
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err != nullptr && err != INVALID_HANDLE_VALUE)
        WriteFile(err, text, static_cast<DWORD>(length), &written, nullptr);
}

inline LONG WINAPI CrashFilter(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* rec = info != nullptr ? info->ExceptionRecord : nullptr;
    const DWORD code = rec != nullptr ? rec->ExceptionCode : 0;
    char text[256];
    int length = std::snprintf(text, sizeof text,
                               "\nTEST PROGRAM CRASHED: unhandled exception 0x%08lX (%s) at %p in thread %lu\n",
                               static_cast<unsigned long>(code), ExceptionName(code),
                               rec != nullptr ? rec->ExceptionAddress : nullptr,
                               static_cast<unsigned long>(GetCurrentThreadId()));
    WriteStdErr(text, length);
    if (rec != nullptr && code == EXCEPTION_ACCESS_VIOLATION && rec->NumberParameters >= 2)
    {
        length = std::snprintf(text, sizeof text, "  (%s of address 0x%llX)\n",
                               rec->ExceptionInformation[0] == 1 ? "write" : "read",
                               static_cast<unsigned long long>(rec->ExceptionInformation[1]));
        WriteStdErr(text, length);
    }
    // TerminateProcess, not ExitProcess: DLL detach handlers and static destructors must not run on
    // a process whose heap may be damaged.
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] inline void CrashTerminate()
{
    static const char text[] = "\nTEST PROGRAM CRASHED: std::terminate (an exception left a thread or a noexcept "
                               "function)\n";
    WriteStdErr(text, static_cast<int>(sizeof text - 1));
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    for (;;)
        Sleep(INFINITE);
}

} // namespace crash_exit_detail

// Installs a process-wide unhandled-exception filter that names the exception (code, address and
// thread) on the standard error and ends the process with kCrashExitCode; also keeps the system
// from showing its fault box. Call first in a test program's main.
inline void InstallCrashExit()
{
    using namespace crash_exit_detail;
    SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(CrashFilter);
    std::set_terminate(CrashTerminate);
}
