// The log file on disk, shared by every writer that logs into it: the components of this process
// and of other processes (the platform and the configurator's test bench may log into one file).
//
// Rules: a writer decides whether the file is full only while it holds the writers' lock on that
// file and has checked that the file it holds is still the one at the path, so a full file makes
// room once, whoever else writes. A full file keeps its lines in "<path>.1": by a rename when
// nobody else has either file open, otherwise by copying them there and starting the same file
// again, which a log viewer that holds either file open does not prevent (it stops a rename).
#pragma once
#include <windows.h>
#include <functional>
#include <string>

// The writers' lock: the one byte at this offset, far beyond the end of any log, which every
// writer locks while it looks at the file's size and writes. Readers never touch it.
const ULONGLONG LogWriterLockOffset = 0x4000000000000000ULL;

// How AppendToLog placed a block of lines.
enum class LogAppend
{
    Appended, // at the end of the file
    Renamed,  // the full file became "<path>.1"; the block starts a new file
    Copied,   // the full file was copied over "<path>.1" and emptied; the block starts it again
    Trimmed,  // "<path>.1" could not be written: the older half of the full file was dropped
    Lost,     // the file could not be opened or written
};

// Appends `lines` (bytes as they go into the file) to the log at `path`, which is made when
// missing. A file that holds `limit` bytes or more first makes room as above. `header` gives the
// text that starts a file: it goes before the lines when `headerDue` or when the file was
// started again. Waits up to about a second for another writer that holds the lock.
LogAppend AppendToLog(const std::wstring& path, ULONGLONG limit, bool headerDue,
                      const std::function<std::string()>& header, const std::string& lines);
