// The serial port: a COM device (or a USB adapter's virtual COM port) driven by overlapped I/O,
// with line events (EV_RXCHAR, or EV_RXFLAG on the event character) reported through the owner's
// comm event.
//
// Rule: an OVERLAPPED record and the buffer it points to are never reused or freed while their
// operation is in flight; every path that would do so cancels the operation and waits for its end
// first, and consumes that completion itself, so the owner never sees a cancellation of ours as a
// device error.
#pragma once
#include "ZPort.h"
#include "Handles.h"
#include <memory>

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
    HRESULT ApplyCommMask();
    HRESULT ArmCommWait();
    HRESULT IssueReads();
    void CancelAndWait(OVERLAPPED& record);
    bool EndCommWait();
    void CloseDevice();

    CFileHandle m_device;
    OVERLAPPED m_ovWrite{};
    OVERLAPPED m_ovRead{};
    // The pending line-event wait writes into this record until it ends. It lives apart from the
    // port so that a wait the system never ends can be left to it (see EndCommWait).
    struct CommWaitRecord
    {
        OVERLAPPED ov{};
        DWORD mask = 0;             // output of the pending WaitCommEvent
    };
    std::unique_ptr<CommWaitRecord> m_commWait = std::make_unique<CommWaitRecord>();
    bool m_commWaitPending = false;
    std::string m_readChunk;        // target of the overlapped ReadFile
    std::string m_writeBuffer;      // bytes of the write in flight
    std::string m_received;         // read from the device, not yet handed to a caller
};
