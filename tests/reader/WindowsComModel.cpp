// The Windows serial model (see WindowsComModel.h). Completed operations keep the Win32 error in
// the OVERLAPPED's Internal field in a form of the model's own (never STATUS_PENDING), so that
// IoEnded and the I/O graveyard see them end as they see the system's, and the model's own
// GetOverlappedResult reads them back.
#include "WindowsComModel.h"
#include "Handles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const ULONG_PTR ModelErrorTag = 0xE0000000;
// The driver's input queue; beyond it received bytes are lost, as in an overrun.
const size_t InputQueueLimit = 64 * 1024;
const DWORD PumpChunk = 1024;
// How long a port's close waits for the pump of its line to end, and the pump for a read it
// cancelled; both take milliseconds unless something is stuck.
const DWORD PumpStopLimitMs = 10000;
const DWORD PumpCancelWaitMs = 5000;

bool ReadsReturnAtOnce(const COMMTIMEOUTS& t)
{
    return t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
           t.ReadTotalTimeoutConstant == 0;
}

ULONG_PTR Status(const OVERLAPPED& ov)
{
    return *reinterpret_cast<const volatile ULONG_PTR*>(&ov.Internal);
}

} // namespace

struct CWindowsComModel::Device
{
    std::wstring path;
    HANDLE handle = INVALID_HANDLE_VALUE;   // what the port holds
    CFileHandle real;                        // the line behind (the pty), when there is one
    CHandle own;                             // the handle given out when there is none
    std::string in;                          // the driver's input queue
    DWORD mask = 0;
    DWORD history = 0;                       // masked events since the last completed wait
    BYTE eventChar = 0;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    OVERLAPPED* readOv = nullptr;
    char* readBuffer = nullptr;
    DWORD readSize = 0;
    OVERLAPPED* waitOv = nullptr;
    DWORD* waitMask = nullptr;
    DWORD removed = 0;                       // the code every call fails with once pulled out
    CHandle pumpStop;
    CHandle pumpEnded;                       // set by the pump as it returns
    std::thread pump;
};

CWindowsComModel::CWindowsComModel() = default;

CWindowsComModel::~CWindowsComModel()
{
    std::map<HANDLE, std::unique_ptr<Device>> left;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& entry : m_devices)
            EndPending(*entry.second, ERROR_OPERATION_ABORTED);
        left.swap(m_devices);
    }
    for (auto& entry : left)
        StopPump(*entry.second);
}

unsigned long CWindowsComModel::Total() const
{
    unsigned long total = 0;
    for (const auto& count : m_counts)
        total += count.load();
    return total;
}

void CWindowsComModel::ResetCounts()
{
    for (auto& count : m_counts)
        count = 0;
}

bool CWindowsComModel::AnyOpen()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_devices.empty();
}

CWindowsComModel::Device* CWindowsComModel::Find(HANDLE device)
{
    auto it = m_devices.find(device);
    return it == m_devices.end() ? nullptr : it->second.get();
}

BOOL CWindowsComModel::Fail(DWORD error)
{
    ::SetLastError(error);
    return FALSE;
}

void CWindowsComModel::Complete(OVERLAPPED* ov, DWORD error, DWORD transferred)
{
    ov->InternalHigh = transferred;
    *reinterpret_cast<volatile ULONG_PTR*>(&ov->Internal) = error ? (ModelErrorTag | error) : 0;
    if (ov->hEvent)
        ::SetEvent(ov->hEvent);
}

// An operation starts: the system resets the OVERLAPPED's event first (ReadFile, WriteFile and
// WaitCommEvent do so before they complete, at once or later).
static void Start(OVERLAPPED* ov)
{
    *reinterpret_cast<volatile ULONG_PTR*>(&ov->Internal) = STATUS_PENDING;
    ov->InternalHigh = 0;
    if (ov->hEvent)
        ::ResetEvent(ov->hEvent);
}

void CWindowsComModel::EndPending(Device& d, DWORD error)
{
    if (d.readOv) {
        Complete(d.readOv, error, 0);
        d.readOv = nullptr;
    }
    if (d.waitOv) {
        *d.waitMask = 0;
        Complete(d.waitOv, error, 0);
        d.waitOv = nullptr;
    }
}

void CWindowsComModel::ServeRead(Device& d)
{
    if (!d.readOv || d.in.empty())
        return;
    const DWORD n = static_cast<DWORD>(std::min<size_t>(d.readSize, d.in.size()));
    std::memcpy(d.readBuffer, d.in.data(), n);
    d.in.erase(0, n);
    OVERLAPPED* ov = d.readOv;
    d.readOv = nullptr;
    Complete(ov, 0, n);
}

void CWindowsComModel::Deliver(Device& d, const char* bytes, size_t n)
{
    if (d.removed || n == 0)
        return;
    d.in.append(bytes, std::min(n, InputQueueLimit - std::min(InputQueueLimit, d.in.size())));
    if (d.mask & EV_RXCHAR)
        d.history |= EV_RXCHAR;
    if ((d.mask & EV_RXFLAG) && std::memchr(bytes, d.eventChar, n))
        d.history |= EV_RXFLAG;
    ServeRead(d);
    if (d.waitOv && (d.history & d.mask)) {
        *d.waitMask = d.history & d.mask;
        d.history = 0;
        OVERLAPPED* ov = d.waitOv;
        d.waitOv = nullptr;
        Complete(ov, 0, 0);
    }
}

void CWindowsComModel::Inject(const std::string& bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_devices)
        Deliver(*entry.second, bytes.data(), bytes.size());
}

void CWindowsComModel::Unplug(DWORD error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_devices) {
        Device& d = *entry.second;
        d.removed = error ? error : unplugError.load();
        EndPending(d, d.removed);
    }
}

// Moves what the line behind receives into the driver's queue. The line's own handle is driven as
// Wine drives it: its reads stay pending until bytes come.
//
// While the queue is full the pump takes nothing from the line, and the simulated reader's writes
// wait, as they do on the pty alone. A pty carries megabytes a second; a serial line at its own
// speed (11.5 KB/s at 115,200 baud) never outruns a port that keeps reading, so an overrun here
// would lose bytes that no reader could make a real driver lose.
//
// Every wait here is bounded or ends with pumpStop: a pump that cannot end would hold the port's
// close (CloseHandle joins it) and with it the whole test program. A read that fails at once never
// started: Wine leaves its record pending and never signals its event, so waiting for its result
// would never end; its error is the outcome.
void CWindowsComModel::Pump(Device* d)
{
    CHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    char chunk[PumpChunk];
    for (;;) {
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (d->removed || d->in.size() + PumpChunk <= InputQueueLimit)
                    break;
            }
            // A driver hears of its adapter's removal however full its queue is.
            DWORD errors = 0;
            COMSTAT stat{};
            if (!::ClearCommError(d->real.Get(), &errors, &stat)) {
                LineGone(*d);
                return;
            }
            if (::WaitForSingleObject(d->pumpStop.Get(), 2) == WAIT_OBJECT_0)
                return;
        }
        OVERLAPPED ov{};
        ov.hEvent = done.Get();
        ::ResetEvent(done.Get());
        DWORD got = 0;
        BOOL ok = ::ReadFile(d->real.Get(), chunk, sizeof chunk, nullptr, &ov);
        DWORD error = ok ? 0 : ::GetLastError();
        if (error == ERROR_IO_PENDING) {
            HANDLE handles[2] = {done.Get(), d->pumpStop.Get()};
            if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
                ::CancelIoEx(d->real.Get(), &ov);
                // The buffer and the record live on this stack: wait for the end of the read, for
                // a while; a line that does not end it even then is beyond saving.
                if (::WaitForSingleObject(done.Get(), PumpCancelWaitMs) != WAIT_OBJECT_0)
                    LineDidNotEndARead(*d);
                ::GetOverlappedResult(d->real.Get(), &ov, &got, FALSE);
                return;
            }
            ok = ::GetOverlappedResult(d->real.Get(), &ov, &got, FALSE);
            error = ok ? 0 : ::GetLastError();
        } else if (ok) {
            ok = ::GetOverlappedResult(d->real.Get(), &ov, &got, FALSE);
            error = ok ? 0 : ::GetLastError();
        }
        if (::WaitForSingleObject(d->pumpStop.Get(), 0) == WAIT_OBJECT_0)
            return;
        if (ok && got) {
            std::lock_guard<std::mutex> lock(m_mutex);
            Deliver(*d, chunk, got);
            continue;
        }
        if (ok || error == ERROR_TIMEOUT) {
            // Nothing came; a line whose other end is gone keeps answering so under Wine, which
            // its line state tells apart.
            DWORD errors = 0;
            COMSTAT stat{};
            if (::ClearCommError(d->real.Get(), &errors, &stat)) {
                if (::WaitForSingleObject(d->pumpStop.Get(), 5) == WAIT_OBJECT_0)
                    return;
                continue;
            }
        }
        // The simulated reader was unplugged (Wine ends the read with ERROR_BROKEN_PIPE), or the
        // line refuses reads at all: the adapter is gone.
        LineGone(*d);
        return;
    }
}

void CWindowsComModel::LineGone(Device& d)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!d.removed) {
        d.removed = unplugError.load();
        EndPending(d, d.removed);
    }
}

void CWindowsComModel::StopPump(Device& d)
{
    if (!d.pump.joinable())
        return;
    ::SetEvent(d.pumpStop.Get());
    if (::WaitForSingleObject(d.pumpEnded.Get(), PumpStopLimitMs) != WAIT_OBJECT_0) {
        // Joining would hang the program until its test runner kills it, with nothing said; the
        // Device cannot be freed under a running pump either. End here, saying which pump.
        std::fprintf(stderr, "Windows model: the pump of %ls did not end within %lu ms of its port's close\n",
                     d.path.c_str(), PumpStopLimitMs);
        std::fflush(stderr);
        ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    d.pump.join();
}

void CWindowsComModel::LineDidNotEndARead(const Device& d)
{
    std::fprintf(stderr, "Windows model: the line behind %ls did not end a cancelled read within %lu ms\n",
                 d.path.c_str(), PumpCancelWaitMs);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), 3);
}

HANDLE CWindowsComModel::CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                                     DWORD flags)
{
    Note(Create);
    if (DWORD delay = openDelayMs.load())
        ::Sleep(delay);
    if (DWORD error = openError.load()) {
        ::SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& entry : m_devices)
            if (_wcsicmp(entry.second->path.c_str(), path) == 0) {
                ::SetLastError(busyError.load());
                return INVALID_HANDLE_VALUE;
            }
    }
    auto d = std::make_unique<Device>();
    d->path = path;
    d->dcb.DCBlength = sizeof(DCB);
    d->dcb.BaudRate = CBR_9600;
    d->dcb.ByteSize = 8;
    d->dcb.fBinary = TRUE;
    if (noDeviceBehind) {
        d->own.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        d->handle = d->own.Get();
    } else {
        d->real.Reset(::CreateFileW(path, access, share, nullptr, disposition, flags | FILE_FLAG_OVERLAPPED, nullptr));
        if (!d->real.Valid())
            return INVALID_HANDLE_VALUE;
        COMMTIMEOUTS immediate{};
        immediate.ReadIntervalTimeout = MAXDWORD;
        ::SetCommTimeouts(d->real.Get(), &immediate);
        d->handle = d->real.Get();
        d->pumpStop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        d->pumpEnded.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
    Device* raw = d.get();
    const HANDLE handle = d->handle;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_devices.emplace(handle, std::move(d));
    }
    if (raw->real.Valid())
        raw->pump = std::thread([this, raw] {
            Pump(raw);
            ::SetEvent(raw->pumpEnded.Get());
        });
    return handle;
}

BOOL CWindowsComModel::CloseHandle(HANDLE device)
{
    std::unique_ptr<Device> d;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_devices.find(device);
        if (it == m_devices.end())
            return CComCalls::CloseHandle(device);
        Note(Close);
        // Closing the handle cancels what is still pending on it.
        EndPending(*it->second, ERROR_OPERATION_ABORTED);
        d = std::move(it->second);
        m_devices.erase(it);
    }
    StopPump(*d);
    return TRUE;
}

BOOL CWindowsComModel::GetCommState(HANDLE device, DCB* dcb)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Device* d = Find(device);
    if (!d)
        return CComCalls::GetCommState(device, dcb);
    Note(GetState);
    if (d->removed)
        return Fail(d->removed);
    if (d->real.Valid())
        return ::GetCommState(d->real.Get(), dcb);
    *dcb = d->dcb;
    return TRUE;
}

BOOL CWindowsComModel::SetCommState(HANDLE device, DCB* dcb)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Device* d = Find(device);
    if (!d)
        return CComCalls::SetCommState(device, dcb);
    Note(SetState);
    if (d->removed)
        return Fail(d->removed);
    // The simulated reader answers at the rate the line is set to.
    if (d->real.Valid() && !::SetCommState(d->real.Get(), dcb))
        return FALSE;
    d->dcb = *dcb;
    d->eventChar = static_cast<BYTE>(dcb->EvtChar);
    return TRUE;
}

BOOL CWindowsComModel::SetupComm(HANDLE device, DWORD inQueue, DWORD outQueue)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Device* d = Find(device);
    if (!d)
        return CComCalls::SetupComm(device, inQueue, outQueue);
    Note(Setup);
    return d->removed ? Fail(d->removed) : TRUE;
}

BOOL CWindowsComModel::SetCommTimeouts(HANDLE device, COMMTIMEOUTS* timeouts)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Device* d = Find(device);
    if (!d)
        return CComCalls::SetCommTimeouts(device, timeouts);
    Note(Timeouts);
    if (d->removed)
        return Fail(d->removed);
    d->timeouts = *timeouts;
    return TRUE;
}

BOOL CWindowsComModel::SetCommMask(HANDLE device, DWORD mask)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Device* d = Find(device);
    if (!d)
        return CComCalls::SetCommMask(device, mask);
    Note(SetMask);
    if (d->removed)
        return Fail(d->removed);
    // A wait in flight completes, successfully, with no event.
    if (d->waitOv) {
        *d->waitMask = 0;
        OVERLAPPED* ov = d->waitOv;
        d->waitOv = nullptr;
        Complete(ov, 0, 0);
    }
    d->mask = mask;
    d->history = 0;
    return TRUE;
}

BOOL CWindowsComModel::WaitCommEvent(HANDLE device, DWORD* mask, OVERLAPPED* ov)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Device* d = Find(device);
    if (!d)
        return CComCalls::WaitCommEvent(device, mask, ov);
    Note(WaitEvent);
    if (d->removed)
        return Fail(d->removed);
    // No events asked for, or a wait already pending.
    if (d->waitOv || d->mask == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    Start(ov);
    if (d->history & d->mask) {
        *mask = d->history & d->mask;
        d->history = 0;
        Complete(ov, 0, 0);
        return TRUE;
    }
    *mask = 0;
    d->waitOv = ov;
    d->waitMask = mask;
    return Fail(ERROR_IO_PENDING);
}

BOOL CWindowsComModel::ReadFile(HANDLE device, void* buffer, DWORD size, DWORD* got, OVERLAPPED* ov)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Device* d = Find(device);
    if (!d)
        return CComCalls::ReadFile(device, buffer, size, got, ov);
    Note(Read);
    if (got)
        *got = 0;
    if (d->removed)
        return Fail(d->removed);
    if (d->readOv)
        return Fail(ERROR_INVALID_PARAMETER);  // the port never queues two reads
    Start(ov);
    if (DWORD endless = endlessReadBytes.load()) {
        const DWORD n = std::min(size, endless);
        std::memset(buffer, 'F', n);
        if (got)
            *got = n;
        Complete(ov, 0, n);
        return TRUE;
    }
    if (!d->in.empty() || ReadsReturnAtOnce(d->timeouts)) {
        const DWORD n = static_cast<DWORD>(std::min<size_t>(size, d->in.size()));
        std::memcpy(buffer, d->in.data(), n);
        d->in.erase(0, n);
        if (got)
            *got = n;
        Complete(ov, 0, n);
        return TRUE;
    }
    // Other time-outs: the read waits for the first bytes (the port sets none of them).
    d->readOv = ov;
    d->readBuffer = static_cast<char*>(buffer);
    d->readSize = size;
    return Fail(ERROR_IO_PENDING);
}

BOOL CWindowsComModel::WriteFile(HANDLE device, const void* data, DWORD size, DWORD* sent, OVERLAPPED* ov)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    Device* d = Find(device);
    if (!d) {
        lock.unlock();
        return CComCalls::WriteFile(device, data, size, sent, ov);
    }
    Note(Write);
    if (sent)
        *sent = 0;
    if (d->removed)
        return Fail(d->removed);
    Start(ov);
    if (d->real.Valid()) {
        const HANDLE real = d->real.Get();
        lock.unlock();
        CHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED own{};
        own.hEvent = done.Get();
        DWORD written = 0;
        bool ok = ::WriteFile(real, data, size, nullptr, &own) || ::GetLastError() == ERROR_IO_PENDING;
        ok = ok && ::GetOverlappedResult(real, &own, &written, TRUE);
        lock.lock();
        d = Find(device);   // closed meanwhile by another thread?
        if (!d) {
            Complete(ov, ERROR_OPERATION_ABORTED, 0);
            return Fail(ERROR_INVALID_HANDLE);
        }
        if (!ok) {
            // The line behind is gone (Wine: ERROR_BROKEN_PIPE): the adapter was pulled out.
            if (!d->removed) {
                d->removed = unplugError.load();
                EndPending(*d, d->removed);
            }
            Complete(ov, d->removed, 0);
            return Fail(d->removed);
        }
    }
    // The driver took the bytes at once.
    if (sent)
        *sent = size;
    Complete(ov, 0, size);
    return TRUE;
}

BOOL CWindowsComModel::GetOverlappedResult(HANDLE device, OVERLAPPED* ov, DWORD* transferred, BOOL wait)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Find(device))
            return CComCalls::GetOverlappedResult(device, ov, transferred, wait);
        Note(Overlapped);
    }
    while (Status(*ov) == STATUS_PENDING) {
        if (!wait)
            return Fail(ERROR_IO_INCOMPLETE);
        // The event may be shared with other operations: the record says when this one is over.
        if (ov->hEvent)
            ::WaitForSingleObject(ov->hEvent, 10);
        else
            ::Sleep(1);
    }
    if (transferred)
        *transferred = static_cast<DWORD>(ov->InternalHigh);
    const ULONG_PTR status = Status(*ov);
    if (status == 0)
        return TRUE;
    return Fail(static_cast<DWORD>(status & ~ModelErrorTag));
}

BOOL CWindowsComModel::CancelIoEx(HANDLE device, OVERLAPPED* ov)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Device* d = Find(device);
    if (!d)
        return CComCalls::CancelIoEx(device, ov);
    Note(Cancel);
    bool found = false;
    if (d->readOv && (!ov || ov == d->readOv)) {
        Complete(d->readOv, ERROR_OPERATION_ABORTED, 0);
        d->readOv = nullptr;
        found = true;
    }
    if (d->waitOv && (!ov || ov == d->waitOv)) {
        *d->waitMask = 0;
        Complete(d->waitOv, ERROR_OPERATION_ABORTED, 0);
        d->waitOv = nullptr;
        found = true;
    }
    return found ? TRUE : Fail(ERROR_NOT_FOUND);
}

BOOL CWindowsComModel::PurgeComm(HANDLE device, DWORD flags)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Device* d = Find(device);
    if (!d)
        return CComCalls::PurgeComm(device, flags);
    Note(Purge);
    if (d->removed)
        return Fail(d->removed);
    if ((flags & PURGE_RXABORT) && d->readOv) {
        Complete(d->readOv, ERROR_OPERATION_ABORTED, 0);
        d->readOv = nullptr;
    }
    // Writes complete at once here, so none is left for PURGE_TXABORT to end.
    if (flags & PURGE_RXCLEAR)
        d->in.clear();
    return TRUE;
}

BOOL CWindowsComModel::ClearCommError(HANDLE device, DWORD* errors, COMSTAT* stat)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Device* d = Find(device);
    if (!d)
        return CComCalls::ClearCommError(device, errors, stat);
    Note(ClearError);
    if (d->removed)
        return Fail(d->removed);
    if (errors)
        *errors = 0;
    if (stat) {
        *stat = COMSTAT{};
        stat->cbInQue = static_cast<DWORD>(d->in.size());
    }
    return TRUE;
}
