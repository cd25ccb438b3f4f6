// The log file on disk, shared by every writer that logs into it: the components of this process
// and of other processes (the platform and the configurator's test bench may log into one file).
//
// Rules: a writer decides whether the file is full only while it holds the writers' lock on that
// file and has checked that the file it holds is still the one at the path, so a full file makes
// room once, whoever else writes. A full file keeps its lines in "<path>.1": by a rename when
// nobody else has either file open, otherwise by copying them there and starting the same file
// again, which a log viewer that holds either file open does not prevent (it stops a rename).
// A full file that can be neither renamed nor started again (a program keeps a mapped view of it)
// takes no more lines until it can: every line stays in one file, and the two stay within their
// bound. Nothing here waits longer than it is told: a file that another program holds is "busy",
// and the caller tries again later.
#pragma once
#include "CallSeam.h"
#include <windows.h>
#include <functional>
#include <string>

// The writers' lock: the one byte at this offset, far beyond the end of any log, which every
// writer locks while it looks at the file's size and writes. Readers never touch it. The bytes
// just past it are where a writer that holds it asks whether two handles name one file.
const ULONGLONG LogWriterLockOffset = 0x4000000000000000ULL;

// The file-system calls whose answers differ between file systems and systems, so that a test can
// play what the test machine's does not (a file system that reports no file IDs, as some network
// redirectors do; a cut refused only below the part of the file that a viewer maps, as NTFS
// refuses it). Each member calls the system; put a stand-in in with CCallSeamScope.
class CLogFileCalls
{
public:
    virtual ~CLogFileCalls() = default;
    virtual BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info)
    {
        return ::GetFileInformationByHandle(file, info);
    }
    virtual BOOL SetEndOfFile(HANDLE file) { return ::SetEndOfFile(file); }
};

// How a block of lines fared.
enum class LogAppend
{
    Appended, // at the end of the file
    Renamed,  // the full file became "<path>.1"; the block starts a new file
    Copied,   // the full file was copied over "<path>.1" and emptied; the block starts it again
    Trimmed,  // "<path>.1" could not be written: the older half of the full file was dropped
    Busy,     // another program holds the file, or the full file cannot make room yet: nothing
              // was written; try again later
    Unwanted, // the caller no longer wanted the block when the file was ready: nothing written
    Lost,     // the file could not be opened or written
};

// One log file at a path, as one writer sees it.
class CLogFile
{
public:
    CLogFile(std::wstring path, ULONGLONG limit) : m_path(std::move(path)), m_limit(limit) {}

    const std::wstring& Path() const { return m_path; }

    // Appends `lines` (bytes as they go into the file), making the file when it is missing. A file
    // that holds the limit or more first makes room as above. `header` gives the text that starts
    // a file: it goes before the lines when `headerDue` or when the file was started again. Waits
    // up to `waitMs` for another writer or program that holds the file, then gives Busy.
    // `wanted` (may be empty) is asked once the file is held, before anything is written.
    LogAppend Append(bool headerDue, const std::function<std::string()>& header, const std::string& lines,
                     DWORD waitMs, const std::function<bool()>& wanted);

private:
    LogAppend MakeRoom(HANDLE file, ULONGLONG size);

    std::wstring m_path;
    ULONGLONG m_limit;
    // After a copy that could not be followed by emptying the full file (it was taken back), the
    // next copy waits this long: each costs the whole file.
    bool m_copyRefused = false;
    DWORD m_copyRefusedAt = 0;
    DWORD m_copyPauseMs = 0;
};
