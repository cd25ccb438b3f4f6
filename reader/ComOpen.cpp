// Serial opens on the caller's thread or on a thread of their own, and the ports they keep busy.
#include "ComOpen.h"
#include "ComCalls.h"
#include "DetachedThread.h"
#include "Lock.h"
#include <algorithm>
#include <vector>

namespace {

// Enough for the driver's open; reserved, not committed, so that an open left running costs little.
const SIZE_T OpenStackSize = 256 * 1024;

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

// Marks the port busy for an open; false when an open of it is inside the driver already.
bool ClaimPort(const std::wstring& name)
{
    CritSecLock lock(OpeningLock());
    auto& ports = Opening();
    if (std::any_of(ports.begin(), ports.end(), [&name](const std::wstring& other) { return SamePort(other, name); }))
        return false;
    ports.push_back(name);
    return true;
}

void ReleasePort(const std::wstring& name)
{
    CritSecLock lock(OpeningLock());
    auto& ports = Opening();
    auto it = std::find_if(ports.begin(), ports.end(), [&name](const std::wstring& other) { return SamePort(other, name); });
    if (it != ports.end())
        ports.erase(it);
}

HANDLE CreateComDevice(const std::wstring& path, DWORD& error)
{
    HANDLE device = ComCalls().CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                                           FILE_FLAG_OVERLAPPED);
    error = 0;
    if (device == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        if (error == 0)
            error = ERROR_GEN_FAILURE;  // a failure must not read as success
    }
    return device;
}

} // namespace

// What the owner and the opening thread share.
struct ComOpenJob
{
    std::wstring name;
    std::wstring path;
    CHandle ended;                              // set once the driver has answered
    CCriticalSection lock;
    HANDLE notify = nullptr;                    // the owner's event; under the lock
    bool givenUp = false;                       // under the lock
    HANDLE device = INVALID_HANDLE_VALUE;       // the driver's answer, until taken; under the lock
    DWORD error = 0;                            // under the lock
};

bool ComOpenInProgress(const std::wstring& name)
{
    CritSecLock lock(OpeningLock());
    const auto& ports = Opening();
    return std::any_of(ports.begin(), ports.end(), [&name](const std::wstring& other) { return SamePort(other, name); });
}

DWORD OpenComDevice(const std::wstring& name, const std::wstring& path, CFileHandle& device)
{
    if (!ClaimPort(name))
        return ERROR_BUSY;
    DWORD error = 0;
    device.Reset(CreateComDevice(path, error));
    ReleasePort(name);
    return error;
}

DWORD CComOpen::Start(const std::wstring& name, const std::wstring& path, HANDLE ended)
{
    GiveUp();
    auto job = std::make_shared<ComOpenJob>();
    job->name = name;
    job->path = path;
    job->notify = ended;
    job->ended.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!job->ended.Valid())
        return GetLastError();
    if (!ClaimPort(name))
        return ERROR_BUSY;
    auto open = [job] {
        DWORD error = 0;
        HANDLE device = CreateComDevice(job->path, error);
        bool givenUp = false;
        {
            CritSecLock lock(job->lock);
            givenUp = job->givenUp;
            if (!givenUp) {
                job->device = device;
                job->error = error;
            }
            // Ended before the owner hears of it: an owner woken by its event finds the answer.
            SetEvent(job->ended.Get());
            if (!givenUp && job->notify)
                SetEvent(job->notify);
        }
        // Closed before the port is let go of: nobody opens it while this handle still holds it.
        if (givenUp && device != INVALID_HANDLE_VALUE)
            ComCalls().CloseHandle(device);
        ReleasePort(job->name);
    };
    if (!StartDetachedThread(open, OpenStackSize)) {
        const DWORD error = GetLastError();
        ReleasePort(name);
        return error ? error : ERROR_NOT_ENOUGH_MEMORY;
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

HANDLE CComOpen::Take(DWORD& error)
{
    error = ERROR_INVALID_HANDLE;
    if (!m_job)
        return INVALID_HANDLE_VALUE;
    HANDLE device = INVALID_HANDLE_VALUE;
    {
        CritSecLock lock(m_job->lock);
        device = m_job->device;
        // Taken before the driver has answered, the open is given up.
        error = WaitForSingleObject(m_job->ended.Get(), 0) == WAIT_OBJECT_0 ? m_job->error : ERROR_OPERATION_ABORTED;
        m_job->device = INVALID_HANDLE_VALUE;
        m_job->givenUp = true;  // nothing of the owner's is touched from here on
        m_job->notify = nullptr;
    }
    m_job.reset();
    return device;
}

void CComOpen::GiveUp()
{
    if (!m_job)
        return;
    DWORD error = 0;
    HANDLE device = Take(error);
    if (device != INVALID_HANDLE_VALUE)
        ComCalls().CloseHandle(device);  // the driver answered, but the owner no longer wants it
}
