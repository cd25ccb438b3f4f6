// CSinkLink: the count of readers' calls in flight into their owner, and the owner's release
// handed to the last of them.
#include "SinkLink.h"

namespace {

// The pause between looks while the link is waited for to fall idle.
const DWORD IdlePollMs = 5;

} // namespace

IReaderEvents* CSinkLink::Enter(const std::atomic<IReaderEvents*>& sink)
{
    CritSecLock lock(m_lock);
    IReaderEvents* current = sink.load();
    if (!current || m_severed)
        return nullptr;
    ++m_calls;
    return current;
}

void CSinkLink::Leave()
{
    std::function<void()> release;
    {
        CritSecLock lock(m_lock);
        if (--m_calls == 0 && m_severed)
            release.swap(m_release);
    }
    if (release)
        release();
}

void CSinkLink::CutOff(std::atomic<IReaderEvents*>& sink)
{
    CritSecLock lock(m_lock);
    sink = nullptr;
}

bool CSinkLink::Sever(std::function<void()> release)
{
    {
        CritSecLock lock(m_lock);
        m_severed = true;
        if (m_calls != 0) {
            if (release)
                m_release = std::move(release);
            return false;
        }
    }
    if (release)
        release();
    return true;
}

bool CSinkLink::WaitIdle(DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (CallsInFlight() != 0) {
        if (timeoutMs != INFINITE && GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(IdlePollMs);
    }
    return true;
}

uint32_t CSinkLink::CallsInFlight()
{
    CritSecLock lock(m_lock);
    return m_calls;
}
