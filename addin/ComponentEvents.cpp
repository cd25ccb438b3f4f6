// The reader-events interface of the component: what reader threads report becomes the platform's
// external events (the table of ExternalEvents.h: "TracksData", "NoCard", "DriverError",
// "DeviceConnect", "DeviceDisconnect", "Command", or their Russian names under a Russian locale),
// with sounds and log lines.
//
// Rules a reader must not break:
// - Every operation runs on a reader's thread and swallows its own failures: nothing may reach
//   the reader.
// - The source and the data are built under the component lock (the key is formatted against the
//   format list there); the lock is left before ExternalEvent is called, because the platform may
//   call back into the component from inside it.
// - An event that the platform refuses is counted and logged, never dropped silently.
// - After Done nothing is raised: a reader's call still in flight then (Close and Done do not wait
//   for it) must not reach a connection that the platform may have freed. A call that the shut-off
//   let through before Done is counted until it enters the platform, and Done waits for that count
//   (never for the call inside the platform): nothing but the count lies between the two.
#include "Component.h"
#include "AddinStrings.h"
#include "ReplyParse.h"
#include "ResText.h"
#include "WFormat.h"

namespace {

// Sound slots.
const int SoundTransfer = 0;
const int SoundTransferError = 1;
const int SoundConnect = 2;
const int SoundDisconnect = 3;

} // namespace

std::atomic<void (*)(PlatformCallStage)> PlatformCallHook{nullptr};

std::wstring CParvel::EventSource(CReader* reader) const
{
    if (!reader)
        return std::wstring();
    std::wstring source = reader->PortName();
    const int32_t address = reader->CurrentAddress();
    if (address != NO_BUS_ADDRESS)
        AppendFormat(source, L"\\%d", address);
    return source;
}

void CParvel::RaiseEvent(const std::wstring& source, ExternalEventId event, const std::wstring& data)
{
    // The interface takes writable texts; the platform gets copies it may not keep. They are made
    // before the way out is looked at, so that nothing that may fail or take time lies between.
    std::wstring sourceCopy = source;
    std::wstring name = m_russian ? kExternalEvents[event].Russian : kExternalEvents[event].English;
    std::wstring dataCopy = data;
    IAddInDefBase* connection = StartPlatformCall();
    if (!connection)
        return;
    if (void (*hook)(PlatformCallStage) = PlatformCallHook.load(std::memory_order_relaxed))
        hook(PlatformCallStage::Entering);
    EnterPlatform();
    if (connection->ExternalEvent(&sourceCopy[0], &name[0], &dataCopy[0]))
        return;
    // The platform's event buffer is full: the event is gone, but not without a trace.
    ++m_refusedEvents;
    if (IsLogEnabled(nullptr, IDS_LOG_EVENT_REFUSED))
        WriteLogLine(source, LOG_LEVEL_WARNING, IDS_LOG_EVENT_REFUSED, name.c_str(), data.c_str());
}

IAddInDefBase* CParvel::StartPlatformCall()
{
    if (void (*hook)(PlatformCallStage) = PlatformCallHook.load(std::memory_order_relaxed))
        hook(PlatformCallStage::Checking);
    CritSecLock lock(m_shutLock);
    if (m_shut || !m_connection)
        return nullptr;
    ++m_platformCallsEntering;
    return m_connection;
}

void CParvel::EnterPlatform()
{
    CritSecLock lock(m_shutLock);
    --m_platformCallsEntering;
}

void CParvel::WaitPlatformCallsEntered()
{
    // Only the component's own few lines run between the count and the call: the wait is short.
    for (;;) {
        {
            CritSecLock lock(m_shutLock);
            if (m_platformCallsEntering == 0)
                return;
        }
        Sleep(1);
    }
}

void CParvel::PlayEventSound(int slot)
{
    if (m_soundEnabled)
        PlaySoundSlot(slot);
}

void CParvel::LogTransferFailed(CReader* reader, const std::wstring& reason)
{
    if (IsLogEnabled(reader, IDS_LOG_TRANSFER_FAILED))
        Log(reader, LOG_LEVEL_INFO, IDS_LOG_TRANSFER_FAILED, reason.c_str());
}

void CParvel::OnTracksData(CReader* reader, uint32_t keyType, const KeyData& key, std::wstring& keyText)
{
    try {
        std::wstring source;
        std::wstring text;
        {
            CritSecLock lock(m_lock);
            m_lastKeyType = keyType;
            m_lastKey = key;
            source = EventSource(reader);
            const int64_t index = ::FindFormatForKey(m_formats, keyType, key);
            if (index < 0) {
                PlayEventSound(SoundTransferError);
                LogTransferFailed(reader, LoadResString(IDS_FORMAT_NOT_SPECIFIED));
                return;
            }
            if (!m_formats[static_cast<size_t>(index)].Template.empty())
                m_formatCache.FormatKey(text, m_formats, static_cast<size_t>(index), key);
            keyText = text;
        }
        if (text.empty()) {
            PlayEventSound(SoundTransferError);
            LogTransferFailed(reader, LoadResString(IDS_FORMAT_EMPTY_RESULT));
            return;
        }
        RaiseEvent(source, EventTracksData, text);
        PlayEventSound(SoundTransfer);
        if (IsLogEnabled(reader, IDS_LOG_TRANSFERRED)) {
            std::wstring escaped;
            EscapeForLogW(escaped, text.c_str(), static_cast<int>(text.size()));
            Log(reader, LOG_LEVEL_INFO, IDS_LOG_TRANSFERRED, escaped.c_str());
        }
    } catch (const std::exception& e) {
        try {
            PlayEventSound(SoundTransferError);
            std::wstring reason;
            EscapeForLog(reason, e.what());
            LogTransferFailed(reader, reason);
        } catch (...) {
        }
    } catch (...) {
    }
}

void CParvel::OnNoCard(CReader* reader, uint32_t keyType, const KeyData& key, const std::wstring& keyText)
{
    try {
        std::wstring source;
        std::wstring text;
        {
            CritSecLock lock(m_lock);
            source = EventSource(reader);
            text = keyText;
        }
        if (!text.empty())
            RaiseEvent(source, EventNoCard, text);
    } catch (...) {
    }
}

void CParvel::OnDriverError(CReader* reader, HRESULT code, const std::wstring& text)
{
    try {
        std::wstring source;
        {
            CritSecLock lock(m_lock);
            source = EventSource(reader);
        }
        RaiseEvent(source, EventDriverError, text);
    } catch (...) {
    }
}

void CParvel::OnDeviceConnect(CReader* reader)
{
    try {
        PlayEventSound(SoundConnect);
        std::wstring source;
        {
            CritSecLock lock(m_lock);
            source = EventSource(reader);
        }
        RaiseEvent(source, EventDeviceConnect, std::wstring());
    } catch (...) {
    }
}

void CParvel::OnDeviceDisconnect(CReader* reader)
{
    try {
        PlayEventSound(SoundDisconnect);
        std::wstring source;
        {
            CritSecLock lock(m_lock);
            source = EventSource(reader);
        }
        RaiseEvent(source, EventDeviceDisconnect, std::wstring());
    } catch (...) {
    }
}

void CParvel::OnCommand(CReader* reader)
{
    try {
        // A command method waiting on this reader takes the result itself: no event for it.
        if (reader != m_waitingReader.load()) {
            std::wstring source;
            {
                CritSecLock lock(m_lock);
                source = EventSource(reader);
            }
            RaiseEvent(source, EventCommand, std::wstring());
        }
    } catch (...) {
    }
    // The one command event wakes whichever command method waits, whatever reader finished.
    CritSecLock lock(m_shutLock);
    if (!m_shut && m_commandEvent.Valid())
        SetEvent(m_commandEvent.Get());
}
