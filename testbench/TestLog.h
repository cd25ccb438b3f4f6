// The test log: every event and error the add-in raises while the test bench runs, one line each,
// in a UTF-8 text file (TestParvel.log) that may grow without bound. Only the offsets where lines
// end stay in memory; lines are read back on demand, newest first for display.
//
// Rules a reader must not break: every field of an entry is escaped when written (backslash, CR,
// LF, "|" and "]"), so one entry is always exactly one line and the separators of the line format
// are never part of a field; the line index always describes the file exactly, also after a failed
// write. All operations run on one thread (there is no lock).
#pragma once
#include "Handles.h"
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

// A text file of CR LF lines with an index of where each line ends.
class CLog
{
public:
    CLog() = default;
    virtual ~CLog() = default;
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    // Creates the file anew (emptying an existing one) and indexes it. Throws CFileException.
    void Open(const std::wstring& fileName);
    // Appends the text as one line (CR LF added unless it ends with one); a text with embedded line
    // feeds adds several lines. On failure nothing of it stays in the file. Throws CFileException.
    void AppendLine(const std::wstring& text);
    // Line n with its CR LF; returns 1, or 0 (out untouched) when there is no line n.
    // Throws CFileException when the file cannot be read.
    int ReadLine(uint64_t n, std::wstring& out);
    // Empties the file and the index. Throws CFileException.
    void Clear();

    uint64_t LineCount() const { return m_file.Valid() ? m_index.size() : 0; }
    bool IsOpen() const { return m_file.Valid(); }
    const std::wstring& FileName() const { return m_fileName; }

protected:
    // Writes at the file pointer; the one seam through which tests simulate a failing disk.
    virtual BOOL WriteBytes(const void* data, DWORD size, DWORD* written);

private:
    CFileHandle m_file;
    std::wstring m_fileName;
    std::vector<uint64_t> m_index; // offset just after each line's line feed, in file order
};

const int32_t LogLevelNone = 0;
const int32_t LogLevelInfo = 1;
const int32_t LogLevelWarning = 2;
const int32_t LogLevelError = 3;
const int32_t LogLevelUnknown = -1; // a line that does not follow the format

// One entry of the test log; the host's event record has the same fields in the same order.
struct LogEntry
{
    uint32_t time = 0; // milliseconds since midnight
    int32_t level = LogLevelNone;
    std::wstring source;
    std::wstring message;
    std::wstring data;
};

// The test log's line format over CLog:
//   "hh:mm:ss.mmm [L source] message | data"
// with L one of "?IWE" and every field escaped.
class CTestLog : public CLog
{
public:
    void Write(const LogEntry& entry);
    // Entry of line n (oldest first); returns as ReadLine. A line that does not follow the format
    // reads back with time 0, level LogLevelUnknown and as much text as could be parsed.
    int GetEntry(uint64_t n, LogEntry& entry);
    // Entry of display row r: row 0 is the newest line.
    int GetNewestEntry(uint64_t row, LogEntry& entry);

    // The line of an entry, without its CR LF.
    static void FormatEntry(const LogEntry& entry, std::wstring& out);
    static void EscapeText(const std::wstring& text, std::wstring& out);
    // "\n", "\r", "\\", "\|" and "\]" give their character; a backslash before anything else is
    // dropped together with that character, and a backslash at the very end is dropped.
    static void UnescapeText(const wchar_t* text, std::wstring& out);
    // Parses one line (with or without its CR LF) as GetEntry does.
    static void ParseEntry(const std::wstring& line, LogEntry& entry);
};
