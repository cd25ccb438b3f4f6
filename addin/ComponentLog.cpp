// The component's log file "Parvel.log" in the settings folder: the filter that readers test before
// they build a line, the line writer that every reader and the component's own key events share,
// and the ClearLog method.
//
// Rules: lines are built and written under the component lock, so lines of different threads never
// mix; the file is opened, locked over the range written, and closed for every line, so another
// program may read or remove it between lines. An empty log path means that the next line starts
// with the header. Without a settings folder (Init got no connection) no log file is written.
// A log that has reached its size limit is renamed to "Parvel.log.1" (replacing an older one) and
// a new log starts with its header, so the two never take more than about twice the limit.
#include "Component.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Handles.h"
#include "ModuleState.h"
#include "Numbers.h"
#include "Paths.h"
#include "ResText.h"
#include "WFormat.h"
#include "AddinStrings.h"
#include <vector>

namespace {

const wchar_t* const LogFileName = L"\\Parvel.log";
const wchar_t* const OldLogSuffix = L".1";
const ULONGLONG LogSizeLimit = 10 * 1024 * 1024;

// Moves a log that has reached the limit out of the way; true when the next line starts a new one.
// A log that cannot be renamed (another program holds it) is written on and tried again later.
bool RotateFullLog(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    const ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size < LogSizeLimit)
        return false;
    return MoveFileExW(path.c_str(), (path + OldLogSuffix).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

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

// Opens the log for appending. Another program that has it open for writing (only this library
// writes it) holds it for one line at most: wait a little for it rather than lose the line.
HANDLE OpenLogFile(const std::wstring& path)
{
    for (int attempt = 0;; ++attempt) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || attempt >= 20 || ::GetLastError() != ERROR_SHARING_VIOLATION)
            return file;
        Sleep(5);
    }
}

void AppendToFile(const std::wstring& path, const std::string& bytes)
{
    CFileHandle file(OpenLogFile(path));
    if (!file.Valid())
        return;
    LARGE_INTEGER zero = {};
    LARGE_INTEGER end = {};
    if (!SetFilePointerEx(file.Get(), zero, &end, FILE_END))
        return;
    const DWORD length = static_cast<DWORD>(bytes.size());
    const BOOL locked = LockFile(file.Get(), end.LowPart, static_cast<DWORD>(end.HighPart), length, 0);
    DWORD written = 0;
    WriteFile(file.Get(), bytes.data(), length, &written, nullptr);
    if (locked)
        UnlockFile(file.Get(), end.LowPart, static_cast<DWORD>(end.HighPart), length, 0);
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
        std::wstring prefix;
        FormatString(prefix, L"%.2d:%.2d:%.2d.%.3d ", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
        std::wstring buffer;
        buffer.reserve(4096);

        CritSecLock lock(m_lock);
        // Without a settings folder the path would name the root of the current drive.
        if (m_settingsFolder.empty())
            return;
        if (!m_logPath.empty() && RotateFullLog(m_logPath))
            m_logPath.clear();
        if (m_logPath.empty()) {
            m_logPath = m_settingsFolder + LogFileName;
            RotateFullLog(m_logPath);
            buffer += L"\r\n";
            buffer += prefix;
            AppendFormat(buffer, L"[%c%.5d] ", L'I', IDS_LOG_HEADER);
            AppendResFormat(buffer, IDS_LOG_HEADER, now.wDay, now.wMonth, now.wYear,
                            LibraryVersionText().c_str(), WindowsVersionText().c_str());
            buffer += L"\r\n";
        }
        buffer += prefix;
        AppendFormat(buffer, L"[%c%.5d %s] ", LevelLetter(level), static_cast<int>(messageId), source.c_str());
        const std::wstring message = LoadResString(messageId);
        AppendFormatV(buffer, message.c_str(), args);
        buffer += L"\r\n";

        std::string bytes;
        WideToAnsi(bytes, buffer.data(), static_cast<int>(buffer.size()));
        AppendToFile(m_logPath, bytes);
    } catch (...) {
        // The line is lost; the log path stays set, so the header is not repeated.
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
