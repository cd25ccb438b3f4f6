// Serial opens on the caller's thread or on a thread of their own, and the ports they keep busy.
#include "ComOpen.h"
#include "ComCalls.h"
#include "ComLine.h"
#include "DetachedThread.h"
#include "Handles.h"
#include "Lock.h"
#include <algorithm>
#include <vector>

namespace {

// Enough for the driver's open; reserved, not committed, so that an open left running costs little.
const SIZE_T OpenStackSize = 256 * 1024;
const DWORD InQueueSize = 2048;
const DWORD OutQueueSize = 512;

bool SamePort(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
        CSTR_EQUAL;
}

// The ports whose open is inside the driver now, one entry an open.
CCriticalSection& OpeningLock()
{
    static CCriticalSection lock;
    return lock;
}

std::vector<std::wstring>& Opening()
{
    static std::vector<std::wstring> ports;
    return ports;
}

std::vector<std::wstring>::iterator FindOpening(const std::wstring& name)
{
    auto& ports = Opening();
    return std::find_if(ports.begin(), ports.end(), [&name](const std::wstring& other) { return SamePort(other, name); });
}

// Marks the port busy for an open; false when an open of it is inside the driver already.
bool ClaimPort(const std::wstring& name)
{
    CritSecLock lock(OpeningLock());
    if (FindOpening(name) != Opening().end())
        return false;
    Opening().push_back(name);
    return true;
}

void ReleasePort(const std::wstring& name)
{
    CritSecLock lock(OpeningLock());
    auto it = FindOpening(name);
    if (it != Opening().end())
        Opening().erase(it);
}

// The last Win32 error, never 0: a failed call must not read as success.
DWORD LastFailure()
{
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
}

// Sets up the line of a device just opened: the block starts from the port's current state, so
// that fields this reader does not care about keep values the driver accepts; every field it does
// care about is set explicitly. 0 or the Win32 error.
DWORD SetUpLine(HANDLE device, ComLineSetup& line)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!ComCalls().GetCommState(device, &dcb)) {
        if (line.baudRate == 0)
            return LastFailure();  // no current speed to keep
        dcb = DCB{};
    }
    if (line.baudRate == 0)
        line.baudRate = dcb.BaudRate;
    BuildComDcb(dcb, line.baudRate, line.stopBits, line.eventChar);
    // Some virtual-port drivers refuse the sizes; they keep their own, which serve as well.
    line.queueSizeError = ComCalls().SetupComm(device, InQueueSize, OutQueueSize) ? 0 : GetLastError();
    // Reads return at once with whatever has arrived; waiting is done on the comm event.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!ComCalls().SetCommTimeouts(device, &timeouts) || !ComCalls().SetCommState(device, &dcb) ||
        !ComCalls().SetCommMask(device, CommEventMask(line.eventChar)))
        return LastFailure();
    return 0;
}

// The open itself, on whichever thread it runs, while the port is claimed.
ComOpened Open(const std::wstring& path, const ComLineSetup& line)
{
    ComOpened opened;
    opened.line = line;
    HANDLE device = ComCalls().CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                                           FILE_FLAG_OVERLAPPED);
    if (device == INVALID_HANDLE_VALUE) {
        opened.error = LastFailure();
        opened.atCreate = true;
        return opened;
    }
    opened.error = SetUpLine(device, opened.line);
    if (opened.error != 0) {
        ComCalls().CloseHandle(device);
        return opened;
    }
    opened.device = device;
    return opened;
}

} // namespace

// What the owner and the opening thread share.
struct ComOpenJob
{
    std::wstring name;
    std::wstring path;
    ComLineSetup line;
    CHandle ended;              // set once the open has ended and the port is let go of
    CCriticalSection lock;
    HANDLE notify = nullptr;    // the owner's event; under the lock
    bool givenUp = false;       // under the lock
    ComOpened opened;           // the outcome, until taken; under the lock
    bool finished = false;      // the outcome is in `opened`; under the lock
};

bool ComOpenInProgress(const std::wstring& name)
{
    CritSecLock lock(OpeningLock());
    return FindOpening(name) != Opening().end();
}

ComOpened OpenComDevice(const std::wstring& name, const std::wstring& path, const ComLineSetup& line)
{
    if (!ClaimPort(name)) {
        ComOpened busy;
        busy.error = ERROR_BUSY;
        busy.atCreate = true;
        return busy;
    }
    ComOpened opened = Open(path, line);
    ReleasePort(name);
    return opened;
}

DWORD CComOpen::Start(const std::wstring& name, const std::wstring& path, const ComLineSetup& line, HANDLE ended)
{
    GiveUp();
    auto job = std::make_shared<ComOpenJob>();
    job->name = name;
    job->path = path;
    job->line = line;
    job->notify = ended;
    job->ended.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!job->ended.Valid())
        return LastFailure();
    if (!ClaimPort(name))
        return ERROR_BUSY;
    auto open = [job] {
        ComOpened opened = Open(job->path, job->line);
        bool givenUp = false;
        {
            CritSecLock lock(job->lock);
            givenUp = job->givenUp;
            if (!givenUp) {
                job->opened = opened; // the owner's from here on, whenever it takes it
                job->finished = true;
            }
        }
        // Closed before the port is let go of: nobody opens it while this handle still holds it.
        if (givenUp && opened.device != INVALID_HANDLE_VALUE)
            ComCalls().CloseHandle(opened.device);
        // Let go of before the owner hears of the end: an owner that opens the port again at once
        // must not find it busy.
        ReleasePort(job->name);
        CritSecLock lock(job->lock);
        // Ended before the owner hears of it: an owner woken by its event finds the outcome.
        SetEvent(job->ended.Get());
        if (!job->givenUp && job->notify)
            SetEvent(job->notify);
    };
    if (!StartDetachedThread(open, OpenStackSize)) {
        const DWORD error = LastFailure();
        ReleasePort(name);
        return error;
    }
    m_job = std::move(job);
    return 0;
}

bool CComOpen::Ended() const
{
    return m_job && WaitForSingleObject(m_job->ended.Get(), 0) == WAIT_OBJECT_0;
}

DWORD CComOpen::Wait(HANDLE stop, DWORD timeoutMs) const
{
    if (!m_job)
        return WAIT_OBJECT_0;
    HANDLE handles[2] = {m_job->ended.Get(), stop};
    return WaitForMultipleObjects(stop ? 2 : 1, handles, FALSE, timeoutMs);
}

ComOpened CComOpen::Take()
{
    ComOpened taken;
    taken.error = ERROR_OPERATION_ABORTED;
    if (!m_job)
        return taken;
    {
        CritSecLock lock(m_job->lock);
        if (m_job->finished) {
            taken = m_job->opened;
            m_job->opened.device = INVALID_HANDLE_VALUE;
        }
        m_job->givenUp = true;  // nothing of the owner's is touched from here on
        m_job->notify = nullptr;
    }
    m_job.reset();
    return taken;
}

void CComOpen::GiveUp()
{
    if (!m_job)
        return;
    const ComOpened taken = Take();
    if (taken.device != INVALID_HANDLE_VALUE)
        ComCalls().CloseHandle(taken.device);  // the open ended, but the owner no longer wants it
}
