// The memory this process has committed for itself, for tests that bound what untrusted input may
// make it hold.
#pragma once
#include <windows.h>
#include <psapi.h>

namespace testsupport {

// The process's commit charge in bytes (0 when the system does not tell). Wine leaves
// PrivateUsage at 0 but fills PagefileUsage, which Windows documents as the same figure.
inline SIZE_T CommittedBytes()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)))
        return 0;
    return counters.PagefileUsage;
}

// How much the commit charge has grown since `before` (0 when it has shrunk).
inline SIZE_T CommittedGrowthSince(SIZE_T before)
{
    const SIZE_T now = CommittedBytes();
    return now > before ? now - before : 0;
}

} // namespace testsupport
