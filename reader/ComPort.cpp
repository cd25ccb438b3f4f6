// The serial port on overlapped Win32 file I/O.
//
// Wine quirks handled here:
// - PurgeComm does not cancel a pending overlapped read, so a purge cancels in-flight I/O itself
//   (CancelIoEx, then GetOverlappedResult with waiting) before it clears the line.
// - An overlapped read may end with ERROR_TIMEOUT when the line stayed quiet; that is "no data
//   yet", not a failure.
// - The comm-event wait ignores CancelIoEx; changing the mask ends it (as on Windows).
// - The comm-event wait never reports EV_RXFLAG, so a port with an event character would never
//   wake its owner. The port waits for EV_RXCHAR as well, on Windows too, so that the wake path
//   the tests run is the one that runs in production (see CommEventMask).
// - The comm-event wait polls the driver's input queue instead of seeing characters arrive: bytes
//   that a read takes out of the queue before the wait's next look raise no event at all. A read
//   takes whatever has arrived, so bytes that came after the owner counted the queue may be kept
//   here with no event on their way; Read announces them itself (see there).
// - The pending comm-event wait runs on a helper thread that ends without leaving the loader's
//   list of threads; loading this library again after its host freed it can then hang in the
//   loader. That is for a host under Wine to avoid (the test host keeps the library loaded there).
//   The port takes no reference to its module itself; the reader's thread holds one until its very
//   end (Thread.h), so a host's FreeLibrary leaves the library mapped, and its file in use, until a
//   thread stuck in a driver has ended.
//
// Every call on the device (open and close, the line set-up, the overlapped operations and their
// results) goes through ComCalls(), so that tests can see what the port hands the system, stand in
// for a driver that refuses or never ends an operation, and answer as Windows does where Wine does
// not (a read with nothing waiting completes at once there, and still signals its event).
#include "ComPort.h"
#include "ComCalls.h"
#include "ComLine.h"

namespace {

const DWORD ReadChunkSize = 1024;
// What one pass of reads takes from the driver at most: a device that sends without pause must
// not keep the owner's thread here, away from its stop and wake requests.
const size_t MaxReadPerPass = 16 * 1024;
// No more is read while this much waits for the owner; the driver keeps the rest.
const size_t MaxHeldReceived = 64 * 1024;
// The longest wait for cancelled operations to end, all of a close together (a close must stay well
// within a second); the system ends them within milliseconds unless the device is broken.
const DWORD CancelWaitLimitMs = 400;

HRESULT LastComError(bool atCreate = false)
{
    return MapComError(GetLastError(), atCreate);
}

} // namespace

HRESULT MapComError(DWORD error, bool atCreate)
{
    if (error == 0)
        return S_OK;
    if (atCreate) {
        if (error == ERROR_FILE_NOT_FOUND)
            return PE_PORT_NOT_EXISTS;
        // Windows opens a COM port for one handle only; another program's handle gives either.
        // ERROR_BUSY: an open of the port is still inside its driver (ComOpen.h).
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY)
            return PE_PORT_BUSY;
    }
    // What USB-serial drivers fail calls with once their adapter is pulled out (and what a
    // cancelled operation ends with): each driver has its own, none means more than "gone". A
    // Bluetooth serial port whose remote device does not answer times out its semaphore, at the
    // open (after tens of seconds) or at any call later: for a user that device is gone too.
    switch (error) {
    case ERROR_SEM_TIMEOUT:
    case ERROR_OPERATION_ABORTED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_ACCESS_DENIED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return PE_PORT_DISCONNECTED;
    default:
        return HRESULT_FROM_WIN32(error);
    }
}

CZComPort::CZComPort() = default;

CZComPort::~CZComPort()
{
    GiveUpOpen();
    CloseDevice();
}

HRESULT STDMETHODCALLTYPE CZComPort::Init(const wchar_t* name, HANDLE stopEvent, HANDLE writeDoneEvent,
                                          HANDLE readDoneEvent, HANDLE commEvent)
{
    CZPort::Init(name, stopEvent, writeDoneEvent, readDoneEvent, commEvent);
    m_read->buffer.resize(ReadChunkSize);
    m_write->buffer.reserve(128);
    m_write->ov.hEvent = writeDoneEvent;
    m_read->ov.hEvent = readDoneEvent;
    m_comm->ov.hEvent = commEvent;
    return S_OK;
}

namespace {

// Leaves `record`'s operation to the system and gives the port a fresh record on the same event.
void AbandonRecord(std::unique_ptr<ComIoRecord>& record)
{
    auto fresh = std::make_unique<ComIoRecord>();
    fresh->ov.hEvent = record->ov.hEvent;
    fresh->buffer.resize(record->buffer.size());
    CIoGraveyard::Instance().Abandon(std::move(record));
    record = std::move(fresh);
}

} // namespace

void CZComPort::CancelAndWait(std::unique_ptr<ComIoRecord>& record, DWORD start, DWORD limitMs)
{
    // CancelIoEx fails with ERROR_NOT_FOUND when the operation has already ended. Its outcome is
    // ours to drop: the caller gave up this operation on purpose.
    //
    // The record itself says when the operation is over, not its event: the events are shared
    // (the search drives many ports on one set of events), so another port's signal would let us
    // reuse the record while the system still writes into it.
    ComCalls().CancelIoEx(m_device.Get(), &record->ov);
    if (!WaitForIoEnd(record->ov, start, limitMs))
        AbandonRecord(record);
}

bool CZComPort::EndCommWait(DWORD start, DWORD limitMs)
{
    // The caller has changed the mask, which ends the wait on Windows and under Wine alike (Wine's
    // wait does not see CancelIoEx). Under heavy load Wine has been seen not to end it for seconds:
    // the record is then left to the system and the port goes on with a fresh one.
    ComCalls().CancelIoEx(m_device.Get(), &m_comm->ov);
    if (WaitForIoEnd(m_comm->ov, start, limitMs))
        return true;
    AbandonRecord(m_comm);
    return false;
}

void CZComPort::CloseDevice()
{
    if (!m_device.Valid())
        return;
    // One limit for everything a close waits for.
    const DWORD start = GetTickCount();
    if (m_pending & ZPORT_READ_PENDING)
        CancelAndWait(m_read, start, CancelWaitLimitMs);
    if (m_pending & ZPORT_WRITE_PENDING)
        CancelAndWait(m_write, start, CancelWaitLimitMs);
    if (m_commWaitPending) {
        // Wine's comm-event wait does not see CancelIoEx; a change of the mask ends it there and
        // on Windows alike.
        ComCalls().SetCommMask(m_device.Get(), 0);
        EndCommWait(start, CancelWaitLimitMs);
    }
    m_commWaitPending = false;
    m_pending = 0;
    ComCalls().CloseHandle(m_device.Release());
}

HRESULT CZComPort::ApplyCommMask()
{
    if (!ComCalls().SetCommMask(m_device.Get(), CommEventMask(m_eventChar)))
        return LastComError();
    return S_OK;
}

HRESULT CZComPort::ArmCommWait()
{
    m_comm->mask = 0;
    if (ComCalls().WaitCommEvent(m_device.Get(), &m_comm->mask, &m_comm->ov)) {
        // Ended at once: the comm event is signalled and the owner's next OnCommEvent re-arms.
        m_commWaitPending = false;
        return S_OK;
    }
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        m_commWaitPending = true;
        return S_OK;
    }
    m_commWaitPending = false;
    return MapComError(error);
}

HRESULT STDMETHODCALLTYPE CZComPort::Open(DWORD timeoutMs)
{
    if (m_device.Valid())
        return S_OK;
    const DWORD start = GetTickCount();
    if (m_opening.Running())
        return timeoutMs == 0 ? S_OK : WaitForOpen(start, timeoutMs);
    // A device that never ended the operations given up on it must not make the process grow
    // without bound; ports open again once the system has ended some of them.
    if (CIoGraveyard::Instance().Full())
        return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA);

    const std::wstring path = L"\\\\.\\" + m_name;
    ComLineSetup line;
    line.baudRate = m_baudRate;
    line.stopBits = m_stopBits;
    line.eventChar = m_eventChar;
    if (timeoutMs == INFINITE)
        return AdoptDevice(OpenComDevice(m_name, path, line));
    if (DWORD error = m_opening.Start(m_name, path, line, m_commEvent))
        return MapComError(error, true);
    m_pending = ZPORT_CONNECTING;
    return timeoutMs == 0 ? S_OK : WaitForOpen(start, timeoutMs);
}

HRESULT CZComPort::WaitForOpen(DWORD start, DWORD timeoutMs)
{
    const DWORD waited = m_opening.Wait(m_stopEvent, RemainingWait(start, timeoutMs));
    if (waited == WAIT_OBJECT_0)
        return FinishOpen();
    const DWORD error = GetLastError();
    GiveUpOpen();
    if (waited == WAIT_OBJECT_0 + 1) {
        ResetEvent(m_stopEvent);
        return E_ABORT;
    }
    if (waited == WAIT_TIMEOUT)
        return COM_OPEN_TIMED_OUT;
    return HRESULT_FROM_WIN32(error);
}

HRESULT CZComPort::FinishOpen()
{
    m_pending &= ~ZPORT_CONNECTING;
    return AdoptDevice(m_opening.Take());
}

void CZComPort::GiveUpOpen()
{
    m_opening.GiveUp();
    m_pending &= ~ZPORT_CONNECTING;
}

HRESULT CZComPort::AdoptDevice(const ComOpened& opened)
{
    if (opened.device == INVALID_HANDLE_VALUE)
        return MapComError(opened.error, opened.atCreate);
    m_device.Reset(opened.device);  // closed through ComCalls (CloseDevice), like every other call on it
    m_pending = 0;
    m_commWaitPending = false;
    m_queueSizeError = opened.line.queueSizeError;
    // Parameters set while the open ran in the background take effect now.
    const DWORD baudRate = m_baudRate != 0 ? m_baudRate : opened.line.baudRate;
    m_baudRate = opened.line.baudRate;  // a rate of 0 kept the device's own, reported from now on
    HRESULT hr = S_OK;
    if (baudRate != opened.line.baudRate || m_stopBits != opened.line.stopBits || m_eventChar != opened.line.eventChar)
        hr = SetParams(baudRate, m_stopBits, m_eventChar);
    else
        hr = ArmCommWait();
    if (FAILED(hr)) {
        CloseDevice();
        return hr;
    }
    m_received.clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZComPort::Close()
{
    GiveUpOpen();
    CloseDevice();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZComPort::SetParams(DWORD baudRate, BYTE stopBits, BYTE eventChar)
{
    if (!m_device.Valid())
        return CZPort::SetParams(baudRate, stopBits, eventChar);

    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!ComCalls().GetCommState(m_device.Get(), &dcb))
        return LastComError();
    BuildComDcb(dcb, baudRate, stopBits, eventChar);
    if (!ComCalls().SetCommState(m_device.Get(), &dcb))
        return LastComError();
    CZPort::SetParams(dcb.BaudRate, stopBits, eventChar);  // a rate of 0 kept the current one

    // The new mask ends the wait in flight (Wine's wait ignores CancelIoEx, Windows completes it
    // with an empty mask); its record is reused only once that wait has really ended.
    ApplyCommMask();
    if (m_commWaitPending) {
        EndCommWait(GetTickCount(), CancelWaitLimitMs);
        m_commWaitPending = false;
    }
    ArmCommWait();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZComPort::GetInQueue(DWORD* count)
{
    // Bytes of a read that has finished but not been collected yet count as received.
    HRESULT collected = OnReadComplete();
    DWORD total = static_cast<DWORD>(m_received.size());
    if (FAILED(collected)) {
        if (count)
            *count = total;
        return collected;
    }
    if (m_device.Valid()) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ComCalls().ClearCommError(m_device.Get(), &errors, &stat)) {
            if (count)
                *count = total;
            return LastComError();
        }
        total += stat.cbInQue;
    }
    if (count)
        *count = total;
    return S_OK;
}

HRESULT CZComPort::IssueReads()
{
    size_t taken = 0;
    for (;;) {
        if (m_received.size() >= MaxHeldReceived)
            return S_OK;  // the owner reads what is held first; Read reads again
        if (taken >= MaxReadPerPass) {
            // More may be waiting: the owner comes back through its wait, where it sees its
            // other events too.
            SetEvent(m_commEvent);
            return S_OK;
        }
        if (ComCalls().ReadFile(m_device.Get(), &m_read->buffer[0], ReadChunkSize, nullptr, &m_read->ov)) {
            DWORD got = 0;
            ComCalls().GetOverlappedResult(m_device.Get(), &m_read->ov, &got, FALSE);
            if (got == 0)
                return S_OK;
            m_received.append(m_read->buffer.data(), got);
            taken += got;
            continue;
        }
        DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            m_pending |= ZPORT_READ_PENDING;
            return S_OK;
        }
        if (error == ERROR_HANDLE_EOF || error == ERROR_TIMEOUT)
            return S_OK;
        return MapComError(error);
    }
}

HRESULT STDMETHODCALLTYPE CZComPort::Read(ZByteString& buffer, DWORD count, DWORD timeoutMs)
{
    const size_t target = buffer.size() + count;
    if (m_pending & ZPORT_READ_PENDING) {
        HRESULT hr = OnReadComplete();
        if (FAILED(hr))
            return hr;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        if (!(m_pending & ZPORT_READ_PENDING)) {
            HRESULT hr = IssueReads();
            if (FAILED(hr))
                return hr;
        }
        if (!m_received.empty() && buffer.size() < target) {
            size_t take = target - buffer.size();
            if (take > m_received.size())
                take = m_received.size();
            buffer.append(m_received, 0, take);
            m_received.erase(0, take);
        }
        if (buffer.size() >= target) {
            // Bytes kept beyond the caller's count are announced as a finished read is: the owner
            // learns of data only from its events, and none may be on its way for these.
            if (!m_received.empty())
                SetEvent(m_readDoneEvent);
            return S_OK;
        }

        DWORD wait = RemainingWait(start, timeoutMs, waitSlice);
        if (wait == 0)
            return S_OK;

        // The read-done event is only worth waiting for while a read is in flight: after a read
        // that ended at once it stays signalled and would spin this loop.
        HANDLE handles[3];
        DWORD n = 0;
        const bool readPending = (m_pending & ZPORT_READ_PENDING) != 0;
        if (readPending)
            handles[n++] = m_readDoneEvent;
        handles[n++] = m_commEvent;
        if (m_stopEvent)
            handles[n++] = m_stopEvent;
        DWORD r = WaitForMultipleObjects(n, handles, FALSE, wait);
        if (r == WAIT_TIMEOUT)
            continue;
        if (r == WAIT_FAILED)
            return LastComError();
        if (r >= WAIT_OBJECT_0 + n)
            return E_UNEXPECTED;
        HANDLE fired = handles[r - WAIT_OBJECT_0];
        ResetEvent(fired);
        HRESULT hr = S_OK;
        if (fired == m_stopEvent)
            return E_ABORT;
        if (readPending && fired == m_readDoneEvent)
            hr = OnReadComplete();
        else
            hr = OnCommEvent();
        if (FAILED(hr))
            return hr;
    }
}

HRESULT STDMETHODCALLTYPE CZComPort::Write(const void* data, DWORD length, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    if (m_pending & ZPORT_WRITE_PENDING)
        OnWriteComplete();
    bool toSend = length != 0;
    for (;;) {
        if (m_pending & ZPORT_WRITE_PENDING) {
            // A write is in flight. Our own data, once handed over, may finish later; data not
            // yet handed over must not be dropped silently.
            if (timeoutMs == 0)
                return toSend ? PE_WRITE_TIMEOUT : S_OK;
            DWORD wait = RemainingWait(start, timeoutMs, INFINITE);
            if (wait == 0)
                return PE_WRITE_TIMEOUT;
            HANDLE handles[2] = {m_writeDoneEvent, m_stopEvent};
            DWORD n = m_stopEvent ? 2 : 1;
            DWORD r = WaitForMultipleObjects(n, handles, FALSE, wait);
            if (r == WAIT_TIMEOUT)
                continue;
            if (r == WAIT_FAILED)
                return LastComError();
            if (r >= WAIT_OBJECT_0 + n)
                return E_UNEXPECTED;
            ResetEvent(handles[r - WAIT_OBJECT_0]);
            if (r == WAIT_OBJECT_0 + 1)
                return E_ABORT;
            OnWriteComplete();
            continue;
        }
        if (!toSend)
            return S_OK;
        toSend = false;
        m_write->buffer.assign(static_cast<const char*>(data), length);
        if (ComCalls().WriteFile(m_device.Get(), m_write->buffer.data(), length, nullptr, &m_write->ov))
            return S_OK;
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING)
            return MapComError(error);
        m_pending |= ZPORT_WRITE_PENDING;
    }
}

HRESULT STDMETHODCALLTYPE CZComPort::Purge(BOOL receiveSide, BOOL sendSide)
{
    if (!m_device.Valid())
        return S_OK;
    DWORD flags = 0;
    if (receiveSide)
        flags |= PURGE_RXABORT | PURGE_RXCLEAR;
    if (sendSide)
        flags |= PURGE_TXABORT | PURGE_TXCLEAR;

    // Whatever an aborted operation transferred belongs to the data being discarded.
    const DWORD start = GetTickCount();
    if (receiveSide && (m_pending & ZPORT_READ_PENDING)) {
        CancelAndWait(m_read, start, CancelWaitLimitMs);
        m_pending &= ~ZPORT_READ_PENDING;
    }
    if (sendSide && (m_pending & ZPORT_WRITE_PENDING)) {
        CancelAndWait(m_write, start, CancelWaitLimitMs);
        m_pending &= ~ZPORT_WRITE_PENDING;
    }
    if (flags && !ComCalls().PurgeComm(m_device.Get(), flags))
        return LastComError();
    if (receiveSide)
        m_received.clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZComPort::OnReadComplete()
{
    // Without a read in flight the record holds an outcome already taken (or one of a read we
    // cancelled ourselves); looking at it again would report a stale abort as a lost device.
    if (!(m_pending & ZPORT_READ_PENDING))
        return S_OK;
    DWORD got = 0;
    if (!ComCalls().GetOverlappedResult(m_device.Get(), &m_read->ov, &got, FALSE)) {
        DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return S_OK;
        m_pending &= ~ZPORT_READ_PENDING;
        // Wine ends a read that found the line quiet with ERROR_TIMEOUT: no data yet.
        if (error == ERROR_TIMEOUT || error == ERROR_HANDLE_EOF)
            return S_OK;
        return MapComError(error);
    }
    m_pending &= ~ZPORT_READ_PENDING;
    m_received.append(m_read->buffer.data(), got);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZComPort::OnWriteComplete()
{
    if (!(m_pending & ZPORT_WRITE_PENDING))
        return S_OK;
    DWORD sent = 0;
    if (!ComCalls().GetOverlappedResult(m_device.Get(), &m_write->ov, &sent, FALSE) &&
        GetLastError() == ERROR_IO_INCOMPLETE)
        return S_OK;
    m_pending &= ~ZPORT_WRITE_PENDING;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZComPort::OnCommEvent()
{
    if (m_opening.Running())
        return m_opening.Ended() ? FinishOpen() : S_OK;
    if (!m_device.Valid())
        return S_OK;
    if (!m_commWaitPending)
        return ArmCommWait();
    DWORD ignored = 0;
    if (!ComCalls().GetOverlappedResult(m_device.Get(), &m_comm->ov, &ignored, FALSE)) {
        DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return S_OK;
        m_commWaitPending = false;
        return MapComError(error);
    }
    m_commWaitPending = false;
    return ArmCommWait();
}
