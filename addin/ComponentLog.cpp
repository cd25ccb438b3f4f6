// The component's log file "Parvel.log" in the settings folder: the filter that readers test before
// they build a line, the line writer that every reader and the component's own key events share,
// and the ClearLog method.
//
// Rules: lines are built under the component lock and handed, in that order, to the log's own
// writer thread (LogWriter.h), which alone touches the file: no platform call and no reader waits
// for the file, whoever holds it. The writer opens, locks and closes the file for every batch of
// lines, so another program may read or remove it between them. An empty log path means that the
// next line starts with the header. Without a settings folder (Init got no connection) no log
// file is written.
// A log that has reached its size limit keeps its lines in "Parvel.log.1" (replacing an older one)
// and starts again with its header, so the two never take more than about twice the limit, also
// while a log viewer holds either file or another component writes the same file (LogFile.h).
#include "Component.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "LogWriter.h"
#include "ModuleState.h"
#include "Numbers.h"
#include "Paths.h"
#include "ResText.h"
#include "WFormat.h"
#include "AddinStrings.h"
#include <vector>

namespace {

const wchar_t* const LogFileName = L"\\Parvel.log";
const ULONGLONG LogSizeLimit = 10 * 1024 * 1024;
// How long Done waits for the writer to write what it holds, and how long a writer left to end
// alone then goes on trying before it gives the rest up.
const DWORD LogFinishBudgetMs = 300;
const DWORD LogLateWriteMs = 5000;

// Log flag bits by message group.
const uint32_t LogPortMessages = 1;   // 140-149
const uint32_t LogReaderMessages = 2; // 150-159
const uint32_t LogKeyMessages = 4;    // 160 and above

// A level no caller uses is shown as "?".
wchar_t LevelLetter(uint32_t level)
{
    return level < 3 ? L"IWE"[level] : L'?';
}

// The file version of the library holding this code, as text.
std::wstring LibraryVersionText()
{
    std::vector<wchar_t> path(MAX_PATH);
    DWORD n = GetModuleFileNameW(ModuleHandle, path.data(), static_cast<DWORD>(path.size()));
    std::wstring text;
    if (n > 0 && n < path.size())
        VersionToText(text, GetFileVersion(path.data()));
    return text;
}

std::wstring WindowsVersionText()
{
    std::wstring text;
    VersionToText(text, GetFileVersion(L"kernel32.dll"));
    return text;
}

// The time that starts every line.
std::wstring TimePrefix(const SYSTEMTIME& time)
{
    std::wstring prefix;
    FormatString(prefix, L"%.2d:%.2d:%.2d.%.3d ", time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
    return prefix;
}

// The header that starts the log after load, ClearLog and switching the log on, and every file
// that starts again at the size limit.
std::string HeaderText(const SYSTEMTIME& time)
{
    std::wstring text = L"\r\n" + TimePrefix(time);
    AppendFormat(text, L"[%c%.5d] ", L'I', IDS_LOG_HEADER);
    AppendResFormat(text, IDS_LOG_HEADER, time.wDay, time.wMonth, time.wYear, LibraryVersionText().c_str(),
                    WindowsVersionText().c_str());
    text += L"\r\n";
    return WideToAnsi(text);
}

// A message line: the time, the level, the number and the source, and the message's text.
std::wstring MessageLine(const SYSTEMTIME& time, uint32_t level, uint32_t messageId, const std::wstring& source,
                         va_list args)
{
    std::wstring line = TimePrefix(time);
    line.reserve(4096);
    AppendFormat(line, L"[%c%.5d %s] ", LevelLetter(level), static_cast<int>(messageId), source.c_str());
    const std::wstring message = LoadResString(messageId);
    AppendFormatV(line, message.c_str(), args);
    line += L"\r\n";
    return line;
}

std::wstring MessageLineOf(const SYSTEMTIME& time, uint32_t level, uint32_t messageId, const std::wstring& source,
                           ...)
{
    va_list args;
    va_start(args, source);
    std::wstring line = MessageLine(time, level, messageId, source, args);
    va_end(args);
    return line;
}

// The line that tells how many lines the log could not take in time (no source: the log's own).
std::string LostLinesText(const SYSTEMTIME& time, uint32_t count)
{
    return WideToAnsi(MessageLineOf(time, LOG_LEVEL_WARNING, IDS_LOG_LINES_LOST, std::wstring(), count));
}

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
    // Callers test the filter first; a line that comes anyway while the log is off is not written.
    if (!IsLogEnabled(reader, messageId))
        return;
    try {
        CritSecLock lock(m_lock);
        const std::wstring source = EventSource(reader);
        va_list args;
        va_start(args, messageId);
        WriteLog(source, level, messageId, args);
        va_end(args);
    } catch (...) {
        // A log line is never worth disturbing the reader that writes it.
    }
}

void CParvel::WriteLogLine(const std::wstring& source, uint32_t level, uint32_t messageId, ...)
{
    va_list args;
    va_start(args, messageId);
    WriteLog(source, level, messageId, args);
    va_end(args);
}

void CParvel::WriteLog(const std::wstring& source, uint32_t level, uint32_t messageId, va_list args)
{
    try {
        SYSTEMTIME now;
        GetLocalTime(&now);
        CritSecLock lock(m_lock);
        // Without a settings folder the path would name the root of the current drive.
        if (m_settingsFolder.empty())
            return;
        std::string line = WideToAnsi(MessageLine(now, level, messageId, source, args));
        const bool headerDue = m_logPath.empty();
        if (headerDue)
            m_logPath = m_settingsFolder + LogFileName;
        if (!m_logWriter)
            m_logWriter.reset(new CLogWriter(LogSizeLimit, &HeaderText, &LostLinesText, std::move(m_leftLogWriter)));
        m_logWriter->Hand(m_logPath, headerDue, now, std::move(line));
    } catch (...) {
        // The line is lost; the log path stays set, so the header is not repeated.
    }
}

bool CParvel::FlushLog(DWORD timeoutMs)
{
    CritSecLock lock(m_lock);
    return !m_logWriter || m_logWriter->Flush(timeoutMs);
}

void CParvel::FinishLog()
{
    std::unique_ptr<CLogWriter> writer;
    {
        CritSecLock lock(m_lock);
        writer = std::move(m_logWriter);
    }
    CHandle left = CLogWriter::Finish(std::move(writer), LogFinishBudgetMs, LogLateWriteMs);
    if (left.Valid()) {
        CritSecLock lock(m_lock);
        m_leftLogWriter = std::move(left);
    }
}

bool CParvel::MethodClearLog(tVariant* result, tVariant* params, long count)
{
    if (!result) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    SetBoolVariant(result, false);
    CritSecLock lock(m_lock);
    // Lines not written yet belong to the log that goes.
    if (m_logWriter)
        m_logWriter->Discard();
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
