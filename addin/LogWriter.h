// The log's own writer: a thread that takes the lines its callers hand over and writes them into
// the log file, so that no caller (the platform's thread, a reader's thread) ever waits for the
// file, whoever else holds it and for however long.
//
// Rules a reader must not break:
// - Hand never touches the file and never waits for it; lines keep the order in which they were
//   handed over.
// - The lines waiting are bounded (QueueLimitBytes): a line that finds no room is given up and
//   counted, and the count goes into the log, where the lines were missed, as soon as there is room.
// - The thread waits for a file that another program holds for as long as it holds it; only when
//   its owner ends it (Finish) does it give up what it cannot write in time.
#pragma once
#include "LogFile.h"
#include "Handles.h"
#include "Lock.h"
#include "Thread.h"
#include <windows.h>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class CLogWriter final : public CThread
{
public:
    // Texts the thread makes itself, in the file's code page: a file's header for a line's time, and
    // the line that tells how many lines were given up.
    using HeaderText = std::string (*)(const SYSTEMTIME& time);
    using LostLinesText = std::string (*)(const SYSTEMTIME& time, uint32_t count);

    // The most bytes of lines that wait for the file at a time.
    static const size_t QueueLimitBytes = 1024 * 1024;

    // `after`: the thread of a writer that was left to end alone (may be empty); this one writes
    // nothing before that one has ended, so that lines stay in order.
    CLogWriter(ULONGLONG sizeLimit, HeaderText header, LostLinesText lostLines, CHandle after);
    ~CLogWriter() override;

    // Hands one line over (its bytes with their CR LF end) for the log at `path`; `headerDue`
    // puts the header for `time` before it. Starts the thread when it is not running yet (throws
    // COSException when it cannot be made).
    void Hand(const std::wstring& path, bool headerDue, const SYSTEMTIME& time, std::string line);
    // Drops the lines not written yet (the log is being cleared); none of them is counted.
    void Discard();
    // Waits until every line handed over before the call has been written or given up, at most
    // `timeoutMs`; false when that time ran out first.
    bool Flush(DWORD timeoutMs);
    // Lines given up so far because there was no room for them.
    uint64_t GivenUp();

    // Ends the writer: its thread writes what it holds and ends, waited for up to `budgetMs`; a
    // thread that is still waiting for the file then is left to end alone, giving up what it
    // cannot write within `lateMs` more. Returns the thread of such a writer (else empty), which a
    // later writer of the same log waits for.
    static CHandle Finish(std::unique_ptr<CLogWriter> writer, DWORD budgetMs, DWORD lateMs);

protected:
    DWORD Run() override;

private:
    struct Line
    {
        std::wstring Path;
        bool HeaderDue = false;
        SYSTEMTIME Time{};
        std::string Bytes;
    };
    // Under the lock: a batch of lines of one path from the front of the queue.
    void TakeBatch(std::deque<Line>& batch);
    // Writes a batch, waiting for the file as long as it must. False when the batch was given up.
    void WriteBatch(const std::deque<Line>& batch, uint32_t epoch);
    // Under the lock: puts the count of lines given up into the queue when there is room.
    void QueueLostCount(const std::wstring& path);
    bool PastLateEnd();

    const ULONGLONG m_sizeLimit;
    const HeaderText m_header;
    const LostLinesText m_lostLines;
    CHandle m_after;
    std::unique_ptr<CLogFile> m_file; // the thread's

    CCriticalSection m_lock;
    CONDITION_VARIABLE m_changed = CONDITION_VARIABLE_INIT;
    std::deque<Line> m_queue;   // under the lock
    size_t m_queuedBytes = 0;   // under the lock
    uint64_t m_handed = 0;      // under the lock: lines handed over (and count lines queued)
    uint64_t m_done = 0;        // under the lock: of those, written or given up
    uint32_t m_missed = 0;      // under the lock: given up since the last count went into the queue
    uint64_t m_givenUp = 0;     // under the lock
    uint32_t m_epoch = 0;       // under the lock: Discard moves it on
    bool m_ending = false;      // under the lock
    DWORD m_lateEnd = 0;        // under the lock, once ending
};
