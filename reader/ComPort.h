// The serial port: a COM device (or a USB adapter's virtual COM port) driven by overlapped I/O,
// with line events (EV_RXCHAR, or EV_RXFLAG on the event character) reported through the owner's
// comm event.
//
// Rule: an OVERLAPPED record and the buffer it points to are never reused or freed while their
// operation is in flight; every path that would do so cancels the operation and waits, for a
// bounded time, for its end first; an operation that has not ended by then is left to the system
// with its record (CIoGraveyard). The port consumes that completion itself, so the owner never
// sees a cancellation of ours as a device error.
//
// Rule: a device may send without end. One pass of reads takes a bounded amount and then lets the
// owner's wait run (setting the comm event when more may be waiting), and the bytes held for the
// owner are bounded: beyond that the driver keeps them.
//
// Rule: an open (the device's CreateFile and its line set-up) may take the driver tens of seconds.
// Open(INFINITE) waits for it on the caller's thread; any other time-out hands it to a thread of
// its own (ComOpen.h): Open(0) returns at once with ZPORT_CONNECTING set, and the comm event is set
// when the open has ended (OnCommEvent then takes the device into use); Open(t) waits at most t ms,
// after which the open ends alone and the port counts as busy until it has. Close gives up an open
// in progress without waiting for it.
#pragma once
#include "ZPort.h"
#include "ComOpen.h"
#include "Handles.h"
#include "IoGraveyard.h"
#include <memory>

// The port layer's reading of a Win32 error. `atCreate`: the error came from opening the device,
// where "not found" and "access denied" mean a missing and a busy port.
HRESULT MapComError(DWORD error, bool atCreate = false);

// What Open returns when its time-out has passed before the driver answered.
const HRESULT COM_OPEN_TIMED_OUT = static_cast<HRESULT>(0x80070000 | ERROR_TIMEOUT);

class CZComPort : public CZPort
{
public:
    CZComPort();
    ~CZComPort() override;

    HRESULT STDMETHODCALLTYPE Init(const wchar_t* name, HANDLE stopEvent, HANDLE writeDoneEvent,
                                   HANDLE readDoneEvent, HANDLE commEvent) override;
    HRESULT STDMETHODCALLTYPE SetParams(DWORD baudRate, BYTE stopBits, BYTE eventChar) override;
    HRESULT STDMETHODCALLTYPE Open(DWORD timeoutMs) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    BOOL STDMETHODCALLTYPE IsOpen() override { return m_device.Valid(); }
    HRESULT STDMETHODCALLTYPE GetInQueue(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE Read(ZByteString& buffer, DWORD count, DWORD timeoutMs) override;
    HRESULT STDMETHODCALLTYPE Write(const void* data, DWORD length, DWORD timeoutMs) override;
    HRESULT STDMETHODCALLTYPE Purge(BOOL receiveSide, BOOL sendSide) override;
    HRESULT STDMETHODCALLTYPE OnReadComplete() override;
    HRESULT STDMETHODCALLTYPE OnWriteComplete() override;
    HRESULT STDMETHODCALLTYPE OnCommEvent() override;

private:
    // Takes the device of an open that has ended into use, or returns why it did not open.
    HRESULT AdoptDevice(const ComOpened& opened);
    HRESULT WaitForOpen(DWORD start, DWORD timeoutMs);
    // Takes the driver's answer to the open in progress and sets the device up.
    HRESULT FinishOpen();
    void GiveUpOpen();
    HRESULT ApplyCommMask();
    HRESULT ArmCommWait();
    HRESULT IssueReads();
    void CancelAndWait(std::unique_ptr<ComIoRecord>& record, DWORD start, DWORD limitMs);
    bool EndCommWait(DWORD start, DWORD limitMs);
    void CloseDevice();

    CFileHandle m_device;
    CComOpen m_opening;             // an open on a thread of its own, while its driver has not answered
    // Each operation's OVERLAPPED lives with its buffer apart from the port, so that an operation
    // the system does not end in time can be left to it (CIoGraveyard) while the port goes on with
    // a fresh record.
    std::unique_ptr<ComIoRecord> m_write = std::make_unique<ComIoRecord>();   // bytes of the write in flight
    std::unique_ptr<ComIoRecord> m_read = std::make_unique<ComIoRecord>();    // target of the overlapped ReadFile
    std::unique_ptr<ComIoRecord> m_comm = std::make_unique<ComIoRecord>();    // the pending WaitCommEvent
    bool m_commWaitPending = false;
    std::string m_received;         // read from the device, not yet handed to a caller
};
