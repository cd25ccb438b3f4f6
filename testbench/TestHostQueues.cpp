// The event and error queues, their delivery on the host's thread, and the listeners.
//
// Add-in threads append under the queue lock and post one wake-up message each; the hidden window
// runs PumpQueues on the user-interface thread, which takes everything out under the lock and calls
// the listeners with the lock released.
#include "TestHost.h"
#include <algorithm>

namespace {

const UINT WakeMessage = WM_USER + 1;

} // namespace

uint32_t LocalTimeOfDay()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return ((static_cast<uint32_t>(now.wHour) * 60 + now.wMinute) * 60 + now.wSecond) * 1000 + now.wMilliseconds;
}

void CTestParvel::Wake()
{
    // Before the window exists nothing is posted (a null window would post to the calling
    // thread); PumpQueues then delivers on request.
    if (m_window)
        PostMessageW(m_window, WakeMessage, 0, 0);
}

bool CTestParvel::ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data)
{
    try {
        CritSecLock lock(m_queueLock);
        if (static_cast<long long>(m_events.size()) >= static_cast<long long>(m_depth.load()))
            return false;
        HostEvent event;
        event.time = LocalTimeOfDay();
        event.level = 1;
        event.source = source ? source : L"";
        event.message = message ? message : L"";
        event.data = data ? data : L"";
        m_events.push_back(std::move(event));
        Wake();
        return true;
    } catch (...) {
        return false;
    }
}

bool CTestParvel::AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* description, long scode)
{
    try {
        HostError error;
        error.code = code;
        error.source = source ? source : L"";
        error.description = description ? description : L"";
        error.scode = static_cast<int32_t>(scode);
        CritSecLock lock(m_queueLock);
        if (code == 1004) {
            std::wstring lastDescription = error.description;
            std::wstring lastSource = error.source;
            m_errors.push_back(std::move(error));
            m_lastErrorCode = static_cast<int32_t>(scode);
            m_lastErrorDescription.swap(lastDescription);
            m_lastErrorSource.swap(lastSource);
        } else {
            m_errors.push_back(std::move(error));
        }
        Wake();
        return true;
    } catch (...) {
        return false;
    }
}

bool CTestParvel::SetEventBufferDepth(long depth)
{
    CritSecLock lock(m_queueLock);
    m_depth = depth;
    if (depth < 0)
        return false; // every event is refused until a usable depth is set
    if (m_events.size() > static_cast<size_t>(depth))
        m_events.erase(m_events.begin() + depth, m_events.end()); // the oldest stay
    return true;
}

long CTestParvel::GetEventBufferDepth()
{
    return m_depth.load();
}

void CTestParvel::CleanEventBuffer()
{
    CritSecLock lock(m_queueLock);
    m_events.clear();
}

int32_t CTestParvel::LastErrorCode() const
{
    CritSecLock lock(m_queueLock);
    return m_lastErrorCode;
}

std::wstring CTestParvel::LastErrorDescription() const
{
    CritSecLock lock(m_queueLock);
    return m_lastErrorDescription;
}

std::wstring CTestParvel::LastErrorSource() const
{
    CritSecLock lock(m_queueLock);
    return m_lastErrorSource;
}

void CTestParvel::PumpQueues()
{
    std::vector<HostEvent> events;
    {
        CritSecLock lock(m_queueLock);
        events.swap(m_events);
    }
    for (HostEvent& event : events) {
        m_currentEvent = std::move(event);
        DeliverTo(ListenEvent);
    }
    std::vector<HostError> errors;
    {
        CritSecLock lock(m_queueLock);
        errors.swap(m_errors);
    }
    for (HostError& error : errors) {
        m_currentError = std::move(error);
        DeliverTo(ListenError);
    }
}

void CTestParvel::AddListener(int32_t kind, void* context, HostCallback callback)
{
    m_listeners.push_back(HostListener{kind, context, callback});
}

void CTestParvel::RemoveListeners(void* context)
{
    for (size_t i = m_listeners.size(); i-- > 0;)
        if (m_listeners[i].context == context)
            m_listeners.erase(m_listeners.begin() + static_cast<std::ptrdiff_t>(i));
}

void CTestParvel::Notify(int32_t kind)
{
    DeliverTo(kind);
}

void CTestParvel::DeliverTo(int32_t kind)
{
    // Over a snapshot, so that a listener that removes listeners while it is called cannot make
    // the next one miss the delivery; one removed meanwhile is passed over, since its registrant
    // may be gone.
    const std::vector<HostListener> snapshot = m_listeners;
    for (const HostListener& listener : snapshot) {
        if (listener.kind != kind || !listener.callback)
            continue;
        const bool registered = std::any_of(m_listeners.begin(), m_listeners.end(), [&](const HostListener& l) {
            return l.kind == listener.kind && l.context == listener.context && l.callback == listener.callback;
        });
        if (!registered)
            continue;
        try {
            listener.callback(listener.context, this);
        } catch (...) {
            // One failing listener must not cost the others (or the records still to come) their
            // delivery; its registrant reports its own failures.
        }
    }
}
