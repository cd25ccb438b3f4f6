// The events list's rows over the test log.
#include "LogRowCache.h"
#include "SearchOutput.h"
#include "WFormat.h"

void CLogRowCache::Attach(CTestLog* log)
{
    m_log = log;
    Drop();
}

int64_t CLogRowCache::ItemCount() const
{
    return m_log ? static_cast<int64_t>(m_log->LineCount()) : 0;
}

void CLogRowCache::BuildRow(CTestLog* log, int64_t line, LogRow& row)
{
    row = LogRow();
    if (!log)
        return;
    LogEntry entry;
    if (line < 0 || !log->GetEntry(static_cast<uint64_t>(line), entry)) {
        row.level = LogLevelUnknown;
        return;
    }
    if (entry.time != 0)
        FormatString(row.time, L"%.2d:%.2d:%.2d.%.3d", static_cast<int>(entry.time / 3600000 % 24),
                     static_cast<int>(entry.time / 60000 % 60), static_cast<int>(entry.time / 1000 % 60),
                     static_cast<int>(entry.time % 1000));
    row.level = entry.level;
    row.image = entry.level >= LogLevelInfo && entry.level <= LogLevelError ? entry.level - 1 : -1;
    row.source = entry.source;
    // The add-in's error texts end with a line break, which a list cell would show as boxes.
    row.message = TrimLineBreaks(entry.message);
    row.data = entry.data;
}

const LogRow& CLogRowCache::Row(int64_t row)
{
    if (row >= m_first && row < m_first + CacheSize())
        return m_rows[static_cast<size_t>(row - m_first)];
    BuildRow(m_log, ItemCount() - 1 - row, m_scratch);
    return m_scratch;
}

void CLogRowCache::CacheHint(int64_t from, int64_t to)
{
    if (from < 0)
        from = 0;
    if (to < from)
        to = from;
    if (!m_rows.empty() && from >= m_first && to < m_first + CacheSize())
        return;
    Fill(from, to);
}

void CLogRowCache::Refill()
{
    if (m_rows.empty())
        return;
    Fill(m_first, m_first + CacheSize() - 1);
}

void CLogRowCache::Drop()
{
    m_rows.clear();
    m_first = 0;
}

void CLogRowCache::Fill(int64_t from, int64_t to)
{
    Drop();
    const int64_t count = ItemCount();
    if (to >= count)
        to = count - 1;
    if (from > to)
        return;
    m_first = from;
    m_rows.resize(static_cast<size_t>(to - from + 1));
    for (int64_t r = from; r <= to; ++r)
        BuildRow(m_log, count - 1 - r, m_rows[static_cast<size_t>(r - from)]);
}
