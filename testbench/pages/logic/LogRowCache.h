// The rows of the events list, newest first, built from the test log on demand. The list view
// announces which rows it is about to show (the cache hint); those rows are read from the file once
// and kept, and any other row is read into one scratch row. Only the rows of the last hint stay in
// memory, however long the log grows.
#pragma once
#include "TestLog.h"
#include <cstdint>
#include <string>
#include <vector>

struct LogRow
{
    std::wstring time; // "hh:mm:ss.mmm"; empty for time 0
    int32_t level = LogLevelNone;
    int32_t image = -1; // information, warning, error images 0-2; -1 none
    std::wstring source;
    std::wstring message;
    std::wstring data;
};

class CLogRowCache
{
public:
    void Attach(CTestLog* log);
    CTestLog* Log() const { return m_log; }
    // Lines of the log; 0 without a log or an open file.
    int64_t ItemCount() const;
    // Row r (0 = the newest line): from the cache when it holds it, otherwise built into the
    // scratch row, which the next call overwrites.
    const LogRow& Row(int64_t row);
    // Keeps rows from..to. A range the cache covers changes nothing; otherwise the cache is
    // rebuilt for it, limited to the rows that exist. An end before the start (the list view
    // sends no such hint, but nothing else guards the size) is taken as the start alone.
    void CacheHint(int64_t from, int64_t to);
    // Rebuilds the cached rows from the file (new lines shift every row down).
    void Refill();
    void Drop();
    int64_t CacheFirst() const { return m_first; }
    int64_t CacheSize() const { return static_cast<int64_t>(m_rows.size()); }

    // Row of line n of the log (oldest first); an empty row with level 0 without a log.
    static void BuildRow(CTestLog* log, int64_t line, LogRow& row);

private:
    void Fill(int64_t from, int64_t to);

    CTestLog* m_log = nullptr; // the application's test log, not owned
    int64_t m_first = 0;
    std::vector<LogRow> m_rows;
    LogRow m_scratch;
};
