// The opening of a serial device, which may take its driver tens of seconds: a Bluetooth serial
// port whose remote device does not answer opens for 20-30 s and then fails. An open is the
// device's CreateFile and the set-up of its line; an owner that may wait that long opens on its own
// thread (OpenComDevice), one that must not (the platform's thread) hands the open to a thread of
// its own (CComOpen) and waits as long as it chooses, or not at all.
//
// Rules:
// - While an open of a port is inside its driver, the port is busy: every other open of it in this
//   process is refused at once with ERROR_BUSY, so that a port is never opened twice at once and
//   nobody queues behind a slow open in the driver.
// - An open given up on ends alone: its thread closes the handle that the driver gives it at last,
//   then lets go of the port; once given up it never touches the owner's event again.
#pragma once
#include <windows.h>
#include <memory>
#include <string>

// The line a device is set up for as it opens, and what the set-up found.
struct ComLineSetup
{
    DWORD baudRate = 0;         // 0: the device's current rate, which the open writes back here
    BYTE stopBits = 0;          // DCB code
    BYTE eventChar = 0;         // 0: none
    DWORD queueSizeError = 0;   // written by the open: why the driver refused the queue sizes (0: it took them)
};

// The outcome of an open: the device, opened and set up, or the Win32 error and where it arose.
struct ComOpened
{
    HANDLE device = INVALID_HANDLE_VALUE;   // the receiver's to close, through ComCalls()
    DWORD error = 0;
    bool atCreate = false;                  // the error came from opening the device, not from its line
    ComLineSetup line;
};

// Whether an open of the port of this name (compared without regard to case) is inside its driver.
bool ComOpenInProgress(const std::wstring& name);

// Opens the device `path` of the port `name` (read and write, exclusive, overlapped) and sets up
// its line, on the caller's thread, for as long as the driver takes.
ComOpened OpenComDevice(const std::wstring& name, const std::wstring& path, const ComLineSetup& line);

struct ComOpenJob;

// One open on a thread of its own. Destroying the object gives the open up.
class CComOpen
{
public:
    CComOpen() = default;
    ~CComOpen() { GiveUp(); }
    CComOpen(const CComOpen&) = delete;
    CComOpen& operator=(const CComOpen&) = delete;

    // Starts opening `path` for the port `name` with its line set up as `line` says. `ended` (may
    // be null) is set when the open has ended, unless it has been given up by then. 0, or the Win32
    // error (ERROR_BUSY: an open of the port is inside its driver already; or why no thread could
    // be made).
    DWORD Start(const std::wstring& name, const std::wstring& path, const ComLineSetup& line, HANDLE ended);
    // Started, and neither taken nor given up.
    bool Running() const { return m_job != nullptr; }
    // Whether the open has ended.
    bool Ended() const;
    // Waits for the end of the open, for `stop` (may be null) or `timeoutMs`, whichever comes
    // first: WAIT_OBJECT_0, WAIT_OBJECT_0 + 1, WAIT_TIMEOUT or WAIT_FAILED.
    DWORD Wait(HANDLE stop, DWORD timeoutMs) const;
    // The outcome, once the open has ended (before, the open is given up and the outcome is
    // ERROR_OPERATION_ABORTED). The object is free for another open after it.
    ComOpened Take();
    // Leaves an open still inside the driver to end alone, and closes a device not taken yet.
    // Nothing when no open runs.
    void GiveUp();

private:
    std::shared_ptr<ComOpenJob> m_job;
};
