// The opening of a serial device by its driver, which may take tens of seconds: a Bluetooth serial
// port whose remote device does not answer opens for 20-30 s and then fails. An owner that may
// wait that long opens on its own thread (OpenComDevice); one that must not (the platform's thread)
// hands the open to a thread of its own (CComOpen) and waits as long as it chooses, or not at all.
//
// Rules:
// - While an open of a port is inside its driver, the port is busy: every other open of it in this
//   process is refused at once with ERROR_BUSY, so that a port is never opened twice at once and
//   nobody queues behind a slow open in the driver.
// - An open given up on ends alone: its thread closes the handle that the driver gives it at last,
//   then lets go of the port; once given up it never touches the owner's event again.
#pragma once
#include "Handles.h"
#include <windows.h>
#include <memory>
#include <string>

// Whether an open of the port of this name (compared without regard to case) is inside its driver.
bool ComOpenInProgress(const std::wstring& name);

// Opens the device `path` of the port `name` on the caller's thread (read and write, exclusive,
// overlapped), for as long as the driver takes: 0 and the handle in `device`, or the Win32 error.
DWORD OpenComDevice(const std::wstring& name, const std::wstring& path, CFileHandle& device);

struct ComOpenJob;

// One open on a thread of its own. Destroying the object gives the open up.
class CComOpen
{
public:
    CComOpen() = default;
    ~CComOpen() { GiveUp(); }
    CComOpen(const CComOpen&) = delete;
    CComOpen& operator=(const CComOpen&) = delete;

    // Starts opening `path` for the port `name`. `ended` (may be null) is set when the driver has
    // answered, unless the open has been given up by then. 0, or the Win32 error (ERROR_BUSY: an
    // open of the port is inside its driver already; or why no thread could be made).
    DWORD Start(const std::wstring& name, const std::wstring& path, HANDLE ended);
    // Started, and neither taken nor given up.
    bool Running() const { return m_job != nullptr; }
    // Whether the driver has answered.
    bool Ended() const;
    // Waits for the driver's answer, for `stop` (may be null) or `timeoutMs`, whichever comes first:
    // WAIT_OBJECT_0, WAIT_OBJECT_0 + 1, WAIT_TIMEOUT or WAIT_FAILED.
    DWORD Wait(HANDLE stop, DWORD timeoutMs) const;
    // Once it has ended: the device handle (the caller's now), or INVALID_HANDLE_VALUE with the
    // driver's error in `error`. The object is free for another open after it.
    HANDLE Take(DWORD& error);
    // Leaves an open still inside the driver to end alone, and closes a handle not taken yet. Nothing
    // when no open runs.
    void GiveUp();

private:
    std::shared_ptr<ComOpenJob> m_job;
};
