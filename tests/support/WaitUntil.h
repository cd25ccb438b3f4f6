// Polling for a condition that another thread or process brings about, with a limit.
#pragma once
#include <windows.h>

// Polls `done` every 20 ms until it holds; false after timeoutMs.
template <class F>
bool WaitUntil(F done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}
