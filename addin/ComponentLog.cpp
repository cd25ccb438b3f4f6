// The component's log settings as the readers see them (the filter), the log-line operation of the
// reader-events interface, and the ClearLog method. The log file "Parvel.log" lies in the settings
// folder; emptying the log path makes the next line start with a header.
#include "Component.h"
#include "Exceptions.h"
#include "Paths.h"
#include <cstdarg>

namespace {

const wchar_t* const LogFileName = L"\\Parvel.log";

// Log flag bits by message group.
const uint32_t LogPortMessages = 1;   // 140-149
const uint32_t LogReaderMessages = 2; // 150-159
const uint32_t LogKeyMessages = 4;    // 160 and above

} // namespace

BOOL CParvel::IsLogEnabled(CReader* reader, uint32_t messageId)
{
    if (!m_log)
        return FALSE;
    if (messageId < 140)
        return TRUE;
    const uint32_t flags = m_logFlags;
    const uint32_t group = messageId < 150 ? LogPortMessages : messageId < 160 ? LogReaderMessages : LogKeyMessages;
    return (flags & group) != 0;
}

void CParvel::Log(CReader* reader, uint32_t level, uint32_t messageId, ...)
{
    // The component writes no log file in this build; lines that the filter lets through end here.
}

bool CParvel::MethodClearLog(tVariant* result, tVariant* params, long count)
{
    if (!result) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    SetBoolVariant(result, false);
    CritSecLock lock(m_lock);
    // Without a settings folder there is no log file of ours to delete.
    if (!m_settingsFolder.empty()) {
        const std::wstring path = m_settingsFolder + LogFileName;
        if (FileExists(path) && !DeleteFileW(path.c_str()))
            ThrowOSException(::GetLastError(), L"DeleteFile");
    }
    m_logPath.clear();
    SetBoolVariant(result, true);
    return true;
}
