// The reader-events interface of the component: what a reader thread reports. Every operation
// runs on a reader's thread and swallows its own failures: nothing may reach the reader.
//
// The component records the last key and wakes a command method that waits; the external events
// of the platform are raised only after the component lock is left.
#include "Component.h"

void CParvel::OnTracksData(CReader* reader, uint32_t keyType, const KeyData& key, std::wstring& keyText)
{
    try {
        CritSecLock lock(m_lock);
        m_lastKeyType = keyType;
        m_lastKey = key;
    } catch (...) {
    }
}

void CParvel::OnNoCard(CReader* reader, uint32_t keyType, const KeyData& key, const std::wstring& keyText)
{
}

void CParvel::OnDriverError(CReader* reader, HRESULT code, const std::wstring& text)
{
}

void CParvel::OnDeviceConnect(CReader* reader)
{
}

void CParvel::OnDeviceDisconnect(CReader* reader)
{
}

void CParvel::OnCommand(CReader* reader)
{
    // The one command event wakes whichever command method waits, whatever reader finished.
    if (m_commandEvent.Valid())
        SetEvent(m_commandEvent.Get());
}
