// Work handed to a thread that nobody joins: the caller goes on at once. For work that may take as
// long as the system does (a driver opening a device, a name service) and that its asker may stop
// waiting for.
//
// Rule: the work shares with its asker only what it holds a share of itself (a shared_ptr, say),
// since the asker may be gone by the time it ends; it must not throw. The thread holds a reference
// to the module its code is in until its very end, so that a host that frees the library meanwhile
// does not unmap the code under it.
#pragma once
#include <windows.h>
#include <functional>

// Runs `work` on a new thread with `stackReservation` bytes of stack reserved (not committed).
// False, with GetLastError set and `work` not run, when no thread could be made.
bool StartDetachedThread(std::function<void()> work, SIZE_T stackReservation);
