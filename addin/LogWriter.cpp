// The log's own writer thread and the bounded queue of lines it writes (see LogWriter.h).
#include "LogWriter.h"
#include <algorithm>

namespace {

// The most bytes of lines written in one go (a single longer line goes alone).
const size_t BatchLimitBytes = 64 * 1024;
// How long one try waits for a file that another writer or program holds, and the longest pause
// between tries; short, so that an ending writer notices its end in time.
const DWORD TryWaitMs = 100;
const DWORD LongestPauseMs = 100;
// What a line costs in the queue beside its bytes.
const size_t LineOverheadBytes = 64;
// The thread's stack: lines and copies live on the heap.
const SIZE_T StackBytes = 256 * 1024;

} // namespace

CLogWriter::CLogWriter(ULONGLONG sizeLimit, HeaderText header, LostLinesText lostLines, CHandle after)
    : m_sizeLimit(sizeLimit), m_header(header), m_lostLines(lostLines), m_after(std::move(after))
{
    SetStackReservation(StackBytes);
}

CLogWriter::~CLogWriter()
{
    {
        CritSecLock lock(m_lock);
        if (!m_ending) {
            m_ending = true;
            m_lateEnd = GetTickCount();
        }
        WakeAllConditionVariable(&m_changed);
    }
    StopThread();
}

void CLogWriter::Hand(const std::wstring& path, bool headerDue, const SYSTEMTIME& time, std::string line)
{
    CritSecLock lock(m_lock);
    const size_t cost = line.size() + path.size() * sizeof(wchar_t) + LineOverheadBytes;
    if (m_queuedBytes + cost > QueueLimitBytes && !m_queue.empty()) {
        ++m_missed;
        ++m_givenUp;
        return;
    }
    Start();
    if (m_missed)
        QueueLostCount(path);
    Line entry;
    entry.Path = path;
    entry.HeaderDue = headerDue;
    entry.Time = time;
    entry.Bytes = std::move(line);
    m_queue.push_back(std::move(entry));
    m_queuedBytes += cost;
    ++m_handed;
    WakeAllConditionVariable(&m_changed);
}

void CLogWriter::QueueLostCount(const std::wstring& path)
{
    Line entry;
    entry.Path = path;
    GetLocalTime(&entry.Time);
    entry.Bytes = m_lostLines(entry.Time, m_missed);
    m_queuedBytes += entry.Bytes.size() + path.size() * sizeof(wchar_t) + LineOverheadBytes;
    m_queue.push_back(std::move(entry));
    m_missed = 0;
    ++m_handed;
}

void CLogWriter::Discard()
{
    CritSecLock lock(m_lock);
    m_done += m_queue.size();
    m_queue.clear();
    m_queuedBytes = 0;
    ++m_epoch;
    WakeAllConditionVariable(&m_changed);
}

bool CLogWriter::Flush(DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    CritSecLock lock(m_lock);
    const uint64_t target = m_handed;
    while (m_done < target) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs)
            return false;
        SleepConditionVariableCS(&m_changed, m_lock.Get(), timeoutMs - spent);
    }
    return true;
}

uint64_t CLogWriter::GivenUp()
{
    CritSecLock lock(m_lock);
    return m_givenUp;
}

CHandle CLogWriter::Finish(std::unique_ptr<CLogWriter> writer, DWORD budgetMs, DWORD lateMs)
{
    if (!writer)
        return CHandle();
    {
        CritSecLock lock(writer->m_lock);
        writer->m_ending = true;
        writer->m_lateEnd = GetTickCount() + lateMs;
        WakeAllConditionVariable(&writer->m_changed);
    }
    if (!writer->Started() || writer->StopThread(budgetMs))
        return CHandle();
    HANDLE thread = nullptr;
    DuplicateHandle(GetCurrentProcess(), writer->ThreadHandle(), GetCurrentProcess(), &thread, SYNCHRONIZE, FALSE, 0);
    writer.release()->Abandon();
    return CHandle(thread);
}

bool CLogWriter::PastLateEnd()
{
    CritSecLock lock(m_lock);
    return m_ending && static_cast<LONG>(GetTickCount() - m_lateEnd) >= 0;
}

DWORD CLogWriter::Run()
{
    // A writer left to end alone before this one may still write lines older than any of ours.
    if (m_after.Valid()) {
        while (WaitForSingleObject(m_after.Get(), LongestPauseMs) == WAIT_TIMEOUT && !PastLateEnd()) {
        }
        m_after.Reset();
    }
    std::wstring lastPath;
    for (;;) {
        std::deque<Line> batch;
        uint32_t epoch = 0;
        {
            CritSecLock lock(m_lock);
            while (m_queue.empty()) {
                if (m_missed && !lastPath.empty() && !PastLateEnd()) {
                    // The lines given up were the last ones: their count follows what was written.
                    QueueLostCount(lastPath);
                    break;
                }
                if (m_ending)
                    return 0;
                SleepConditionVariableCS(&m_changed, m_lock.Get(), INFINITE);
            }
            TakeBatch(batch);
            epoch = m_epoch;
        }
        lastPath = batch.front().Path;
        WriteBatch(batch, epoch);
        CritSecLock lock(m_lock);
        m_done += batch.size();
        WakeAllConditionVariable(&m_changed);
    }
}

void CLogWriter::TakeBatch(std::deque<Line>& batch)
{
    size_t bytes = 0;
    while (!m_queue.empty()) {
        Line& line = m_queue.front();
        if (!batch.empty() && (line.Path != batch.front().Path || bytes + line.Bytes.size() > BatchLimitBytes))
            break;
        bytes += line.Bytes.size();
        m_queuedBytes -= line.Bytes.size() + line.Path.size() * sizeof(wchar_t) + LineOverheadBytes;
        batch.push_back(std::move(line));
        m_queue.pop_front();
    }
}

void CLogWriter::WriteBatch(const std::deque<Line>& batch, uint32_t epoch)
{
    const Line& first = batch.front();
    if (!m_file || m_file->Path() != first.Path)
        m_file.reset(new CLogFile(first.Path, m_sizeLimit));
    std::string lines;
    for (const Line& line : batch) {
        if (line.HeaderDue && &line != &first)
            lines += m_header(line.Time);
        lines += line.Bytes;
    }
    const auto header = [&]() { return m_header(first.Time); };
    const auto wanted = [&]() {
        CritSecLock lock(m_lock);
        return m_epoch == epoch;
    };
    for (DWORD pause = 1;; pause = std::min(2 * pause, LongestPauseMs)) {
        if (m_file->Append(first.HeaderDue, header, lines, TryWaitMs, wanted) != LogAppend::Busy)
            return;
        if (PastLateEnd() || !wanted()) {
            CritSecLock lock(m_lock);
            if (m_epoch == epoch)
                m_givenUp += batch.size();
            return;
        }
        Sleep(pause);
    }
}
