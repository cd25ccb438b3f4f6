// A stand-in for the system's comm calls that answers as Windows documents its serial driver, not
// as Wine does, with a device behind it: the simulated reader on the pty that the port names (the
// model opens it itself and pumps its bytes into a driver input queue of its own), or nothing at
// all. What the port sees:
// - An overlapped ReadFile, WriteFile or WaitCommEvent resets the OVERLAPPED's event when it
//   starts; one that completes at once returns TRUE and still sets that event.
// - With COMMTIMEOUTS MAXDWORD/0/0 a read completes at once with what is queued, 0 bytes too.
// - One WaitCommEvent may be pending per handle (a second fails with ERROR_INVALID_PARAMETER, as
//   does one while the mask is 0); an event that came while none was pending completes the next
//   one at once; SetCommMask completes a pending wait with the mask 0.
// - PurgeComm with PURGE_RXABORT / PURGE_TXABORT and CancelIoEx end pending operations with
//   ERROR_OPERATION_ABORTED.
// - A pulled adapter (Unplug, the simulated reader unplugged, or a line behind that refuses reads)
//   ends pending operations and fails every later call with the code its driver uses; the open is
//   refused as the script says: a port in use, a Bluetooth port that opens for seconds and then
//   times out.
// - A port's close ends the pump of its line within seconds, or ends the test program saying so.
// Every call is counted, so that a test can hold an idle reader to a budget of wake-ups.
//
// Rule: put it in place (CCallSeamScope<CComCalls>) before the ports that use it exist, and take it
// out after they have closed; it closes what is still open when it ends.
#pragma once
#include "ComCalls.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CWindowsComModel : public CComCalls
{
public:
    enum Call { Create, Close, GetState, SetState, Setup, Timeouts, SetMask, WaitEvent, Read, Write,
                Overlapped, Cancel, Purge, ClearError, CallKinds };

    CWindowsComModel();
    ~CWindowsComModel() override;
    CWindowsComModel(const CWindowsComModel&) = delete;
    CWindowsComModel& operator=(const CWindowsComModel&) = delete;

    // --- the script (set before the port opens, unless said otherwise) ---
    std::atomic<DWORD> openError{0};    // CreateFile fails with it, after openDelayMs
    std::atomic<DWORD> openDelayMs{0};  // CreateFile takes this long (a Bluetooth port: 10-30 s)
    std::atomic<DWORD> busyError{ERROR_ACCESS_DENIED};  // a second open of a port that is open
    std::atomic<DWORD> unplugError{ERROR_OPERATION_ABORTED};  // when the device behind goes away
    // Reads complete with this many bytes of the filler byte 'F' each, queued or not (0: off).
    std::atomic<DWORD> endlessReadBytes{0};
    // Without a device behind (no pty named): the handle is the model's own and the line is
    // silent, except for what Inject queues.
    std::atomic<bool> noDeviceBehind{false};

    // Pulls the adapter out of every open port: pending operations end, later calls fail, with
    // `error` (0: unplugError).
    void Unplug(DWORD error = 0);
    // Queues bytes as if the device had sent them (raising the line events they raise).
    void Inject(const std::string& bytes);

    // Calls made so far: of one kind, and in all.
    unsigned long Count(Call kind) const { return m_counts[kind].load(); }
    unsigned long Total() const;
    void ResetCounts();
    // Whether a port is open on the model now.
    bool AnyOpen();

    HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override;
    BOOL CloseHandle(HANDLE device) override;
    BOOL GetCommState(HANDLE device, DCB* dcb) override;
    BOOL SetCommState(HANDLE device, DCB* dcb) override;
    BOOL SetupComm(HANDLE device, DWORD inQueue, DWORD outQueue) override;
    BOOL SetCommTimeouts(HANDLE device, COMMTIMEOUTS* timeouts) override;
    BOOL SetCommMask(HANDLE device, DWORD mask) override;
    BOOL WaitCommEvent(HANDLE device, DWORD* mask, OVERLAPPED* ov) override;
    BOOL ReadFile(HANDLE device, void* buffer, DWORD size, DWORD* got, OVERLAPPED* ov) override;
    BOOL WriteFile(HANDLE device, const void* data, DWORD size, DWORD* sent, OVERLAPPED* ov) override;
    BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* ov, DWORD* transferred, BOOL wait) override;
    BOOL CancelIoEx(HANDLE device, OVERLAPPED* ov) override;
    BOOL PurgeComm(HANDLE device, DWORD flags) override;
    BOOL ClearCommError(HANDLE device, DWORD* errors, COMSTAT* stat) override;

private:
    struct Device;

    void Note(Call kind) { ++m_counts[kind]; }
    Device* Find(HANDLE device);                 // under m_mutex
    BOOL Fail(DWORD error);
    static void Complete(OVERLAPPED* ov, DWORD error, DWORD transferred);
    void Deliver(Device& d, const char* bytes, size_t n);   // under m_mutex
    void EndPending(Device& d, DWORD error);                // under m_mutex
    void ServeRead(Device& d);                              // under m_mutex
    void Pump(Device* d);
    void StopPump(Device& d);
    void LineGone(Device& d);                               // the line behind went away
    static void LineDidNotEndARead(const Device& d);

    std::mutex m_mutex;
    std::map<HANDLE, std::unique_ptr<Device>> m_devices;
    std::atomic<unsigned long> m_counts[CallKinds] = {};
};
