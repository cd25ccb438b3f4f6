// The log file on disk and the room a full one makes (see LogFile.h for the rules).
//
// Every writer opens the file sharing reading, writing and deleting, so writers never shut each
// other out and a rename stays possible; they take turns through the writers' lock, a byte range
// far beyond the end of the file that only writers lock. Without FILE_SHARE_DELETE from a reader,
// Windows refuses to rename that file, and it refuses to replace "<path>.1" while anybody has
// that file open at all; writing into either file and cutting it shorter stay allowed to a
// handle with write access, as long as the reader shares writing, as a viewer of a growing log
// must. So when the rename is refused the lines are copied into "<path>.1" and the file is
// emptied in place; when "<path>.1" cannot even be written, the file keeps its newer half.
// A program that keeps a mapped view of the file stops it being made shorter (SetEndOfFile fails
// with ERROR_USER_MAPPED_FILE, as documented): a copy that cannot be followed by emptying the file
// is taken back, and the file waits, full, until it can be made shorter again.
#include "LogFile.h"
#include "Handles.h"
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

const wchar_t* const OldLogSuffix = L".1";
// After a copy was taken back, the next waits at least this long, and ten times the copy's time.
const DWORD CopyPauseMs = 2000;
const DWORD WriterLockOffsetLow = static_cast<DWORD>(LogWriterLockOffset);
const DWORD WriterLockOffsetHigh = static_cast<DWORD>(LogWriterLockOffset >> 32);
const DWORD CopyBlock = 64 * 1024;
// How far past the middle of a full file a line start is looked for when it keeps its newer half.
const DWORD LineSearchLimit = 64 * 1024;

bool Expired(DWORD start, DWORD waitMs)
{
    return GetTickCount() - start >= waitMs;
}

// Opens the log for appending, made when missing, in the writers' share mode; waits until `waitMs`
// after `start` while a program that shares no writing holds it (ERROR_SHARING_VIOLATION then).
HANDLE OpenAsWriter(const std::wstring& path, DWORD start, DWORD waitMs)
{
    for (;;) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_SHARING_VIOLATION || Expired(start, waitMs))
            return file;
        Sleep(5);
    }
}

// The writers' lock on one open log file, held for the life of the object.
class CLogWriterLock
{
public:
    // Waits until `waitMs` after `start` while another writer holds it.
    CLogWriterLock(HANDLE file, DWORD start, DWORD waitMs) : m_file(file)
    {
        for (;;) {
            if (LockFile(m_file, WriterLockOffsetLow, WriterLockOffsetHigh, 1, 0)) {
                m_held = true;
                return;
            }
            if (::GetLastError() != ERROR_LOCK_VIOLATION) {
                // A file system without byte-range locks: write without taking turns.
                return;
            }
            if (Expired(start, waitMs)) {
                m_timedOut = true;
                return;
            }
            Sleep(1);
        }
    }
    ~CLogWriterLock()
    {
        if (m_held)
            UnlockFile(m_file, WriterLockOffsetLow, WriterLockOffsetHigh, 1, 0);
    }
    CLogWriterLock(const CLogWriterLock&) = delete;
    CLogWriterLock& operator=(const CLogWriterLock&) = delete;

    bool TimedOut() const { return m_timedOut; }
    bool Held() const { return m_held; }

private:
    HANDLE m_file;
    bool m_held = false;
    bool m_timedOut = false;
};

bool HasFileId(const BY_HANDLE_FILE_INFORMATION& info)
{
    return info.dwVolumeSerialNumber != 0 || info.nFileIndexHigh != 0 || info.nFileIndexLow != 0;
}

// Whether `named`, opened by path, is the file `held` whose writers' lock this writer holds: a
// byte of this writer's own past the writers' lock, locked through `held`, cannot be locked
// through another handle of the same file, and can through a handle of any other file.
bool SameFileByLock(HANDLE held, HANDLE named)
{
    // Process and thread IDs are far below 2^24 (multiples of 4 at that), so no two writers share it.
    const ULONGLONG offset = LogWriterLockOffset + 1 + (static_cast<ULONGLONG>(GetCurrentProcessId() & 0xFFFFFF) << 24) +
                             (GetCurrentThreadId() & 0xFFFFFF);
    const DWORD low = static_cast<DWORD>(offset);
    const DWORD high = static_cast<DWORD>(offset >> 32);
    if (!LockFile(held, low, high, 1, 0))
        return true; // cannot tell
    const bool other = LockFile(named, low, high, 1, 0) != FALSE;
    if (other)
        UnlockFile(named, low, high, 1, 0);
    UnlockFile(held, low, high, 1, 0);
    return !other;
}

// False when the path now names another file than the one open (another writer renamed the open
// one, or deleted it) or none. File IDs tell where the file system has them; where it reports
// none (all zero, as some network redirectors do), the file is opened again by its path and the
// two handles are compared through a lock, which needs the writers' lock held (`lockHeld`);
// without byte-range locks either, nothing can tell and the file counts as the same.
bool IsFileAtPath(HANDLE file, const std::wstring& path, bool lockHeld)
{
    CFileHandle named(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!named.Valid())
        return false;
    CLogFileCalls& calls = CCallSeam<CLogFileCalls>::Get();
    BY_HANDLE_FILE_INFORMATION open{};
    BY_HANDLE_FILE_INFORMATION atPath{};
    if (calls.GetFileInformationByHandle(file, &open) && calls.GetFileInformationByHandle(named.Get(), &atPath) &&
        HasFileId(open) && HasFileId(atPath))
        return open.dwVolumeSerialNumber == atPath.dwVolumeSerialNumber && open.nFileIndexHigh == atPath.nFileIndexHigh &&
               open.nFileIndexLow == atPath.nFileIndexLow;
    return !lockHeld || SameFileByLock(file, named.Get());
}

bool Seek(HANDLE file, ULONGLONG offset)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != FALSE;
}

// Copies `count` bytes block by block; the source may be the target when the bytes move towards
// its start.
bool CopyRange(HANDLE from, ULONGLONG fromOffset, HANDLE to, ULONGLONG toOffset, ULONGLONG count)
{
    std::vector<char> block(CopyBlock);
    while (count > 0) {
        const DWORD chunk = count < CopyBlock ? static_cast<DWORD>(count) : CopyBlock;
        DWORD got = 0;
        DWORD put = 0;
        if (!Seek(from, fromOffset) || !ReadFile(from, block.data(), chunk, &got, nullptr) || got == 0)
            return false;
        if (!Seek(to, toOffset) || !WriteFile(to, block.data(), got, &put, nullptr) || put != got)
            return false;
        fromOffset += got;
        toOffset += got;
        count -= got;
    }
    return true;
}

bool CutAt(HANDLE file, ULONGLONG length)
{
    return Seek(file, length) && CCallSeam<CLogFileCalls>::Get().SetEndOfFile(file);
}

// Renames the log over "<path>.1"; refused while anybody has the log open without sharing
// deleting, or has "<path>.1" open at all.
bool RenameToOld(const std::wstring& path)
{
    CFileHandle file(CreateFileW(path.c_str(), DELETE | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return false;
    const std::wstring target = path + OldLogSuffix;
    const size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t));
    FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(info->FileName, target.c_str(), nameBytes + sizeof(wchar_t));
    return SetFileInformationByHandle(file.Get(), FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != FALSE;
}

enum class CopyResult
{
    Copied,
    OldUnwritable, // "<path>.1" could not be opened for writing; nothing was changed
    Failed,        // it was opened, but the copy failed on the way
};

// Copies the first `size` bytes of the open log over "<path>.1".
CopyResult CopyToOld(HANDLE file, const std::wstring& path, ULONGLONG size)
{
    CFileHandle old(CreateFileW((path + OldLogSuffix).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!old.Valid())
        return CopyResult::OldUnwritable;
    if (!CopyRange(file, 0, old.Get(), 0, size) || !CutAt(old.Get(), size))
        return CopyResult::Failed;
    return CopyResult::Copied;
}

// Empties "<path>.1" again: a copy made into it is taken back.
void EmptyOld(const std::wstring& path)
{
    CFileHandle old(CreateFileW((path + OldLogSuffix).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (old.Valid())
        CutAt(old.Get(), 0);
}

// Whether the full file can be made shorter now: it is cut by its last byte, which is written back.
// A program that keeps a mapped view of the whole file makes the cut fail; one that mapped less of
// it may not, and the later cut may fail all the same, which the callers allow for.
bool CanBeCut(HANDLE file, ULONGLONG size)
{
    char last = 0;
    DWORD got = 0;
    if (size == 0 || !Seek(file, size - 1) || !ReadFile(file, &last, 1, &got, nullptr) || got != 1)
        return false;
    if (!CutAt(file, size - 1))
        return false;
    DWORD put = 0;
    return Seek(file, size - 1) && WriteFile(file, &last, 1, &put, nullptr) && put == 1;
}

// Keeps the lines of the newer half: from the first line start past the middle.
bool KeepNewerHalf(HANDLE file, ULONGLONG size)
{
    ULONGLONG from = size / 2;
    std::vector<char> block(LineSearchLimit);
    DWORD got = 0;
    if (Seek(file, from) && ReadFile(file, block.data(), LineSearchLimit, &got, nullptr)) {
        const void* lineEnd = std::memchr(block.data(), '\n', got);
        if (lineEnd)
            from += static_cast<const char*>(lineEnd) - block.data() + 1;
    }
    return CopyRange(file, from, file, 0, size - from) && CutAt(file, size - from);
}

// False, with the error of the write, when the bytes could not be written whole.
bool WriteAtEnd(HANDLE file, const std::string& bytes)
{
    LARGE_INTEGER zero = {};
    LARGE_INTEGER end = {};
    if (!SetFilePointerEx(file, zero, &end, FILE_END))
        return false;
    const DWORD length = static_cast<DWORD>(bytes.size());
    const BOOL locked = LockFile(file, end.LowPart, static_cast<DWORD>(end.HighPart), length, 0);
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), length, &written, nullptr);
    const DWORD error = ::GetLastError();
    if (locked)
        UnlockFile(file, end.LowPart, static_cast<DWORD>(end.HighPart), length, 0);
    ::SetLastError(ok ? ERROR_SUCCESS : error);
    return ok && written == length;
}

} // namespace

// Makes room in a full log held under the writers' lock: Busy while it cannot be made yet, and
// Appended when none can be made at all (the lines then stay where they are, over the limit,
// rather than be lost).
LogAppend CLogFile::MakeRoom(HANDLE file, ULONGLONG size)
{
    if (RenameToOld(m_path))
        return LogAppend::Renamed;
    // A file that cannot be made shorter now is not copied: the copy would be taken back.
    if (!CanBeCut(file, size))
        return LogAppend::Busy;
    if (m_copyRefused && GetTickCount() - m_copyRefusedAt < m_copyPauseMs)
        return LogAppend::Busy;
    const DWORD began = GetTickCount();
    switch (CopyToOld(file, m_path, size)) {
    case CopyResult::Copied:
        if (CutAt(file, 0)) {
            m_copyRefused = false;
            return LogAppend::Copied;
        }
        // Every line stays in one file: the copy goes, and the file waits, full, to be emptied.
        EmptyOld(m_path);
        m_copyRefused = true;
        m_copyRefusedAt = GetTickCount();
        m_copyPauseMs = std::max(CopyPauseMs, 10 * (m_copyRefusedAt - began));
        return LogAppend::Busy;
    case CopyResult::OldUnwritable:
        return KeepNewerHalf(file, size) ? LogAppend::Trimmed : LogAppend::Appended;
    case CopyResult::Failed:
        break;
    }
    return LogAppend::Appended;
}

LogAppend CLogFile::Append(bool headerDue, const std::function<std::string()>& header, const std::string& lines,
                           DWORD waitMs, const std::function<bool()>& wanted)
{
    const DWORD start = GetTickCount();
    LogAppend placed = LogAppend::Appended;
    for (;;) {
        CFileHandle file(OpenAsWriter(m_path, start, waitMs));
        if (!file.Valid())
            return ::GetLastError() == ERROR_SHARING_VIOLATION ? LogAppend::Busy : LogAppend::Lost;
        CLogWriterLock lock(file.Get(), start, waitMs);
        if (lock.TimedOut())
            return LogAppend::Busy;
        if (wanted && !wanted())
            return LogAppend::Unwanted;
        LARGE_INTEGER size = {};
        if (!GetFileSizeEx(file.Get(), &size))
            return LogAppend::Lost;
        if (placed == LogAppend::Appended && static_cast<ULONGLONG>(size.QuadPart) >= m_limit) {
            // A file that another writer renamed after it was opened here is full too (that is why
            // it was renamed), so only a full one needs to be checked, once per rotation.
            if (!IsFileAtPath(file.Get(), m_path, lock.Held())) {
                if (Expired(start, waitMs))
                    return LogAppend::Busy;
                continue; // take the new file at the path
            }
            placed = MakeRoom(file.Get(), static_cast<ULONGLONG>(size.QuadPart));
            if (placed == LogAppend::Busy)
                return placed;
            if (placed == LogAppend::Renamed)
                continue; // the lines start the new file at the path
        }
        const bool fresh = placed == LogAppend::Renamed || placed == LogAppend::Copied;
        const std::string block = headerDue || fresh ? header() + lines : lines;
        if (WriteAtEnd(file.Get(), block))
            return placed;
        // Another program locked the range at the end: it lets go in time.
        return ::GetLastError() == ERROR_LOCK_VIOLATION && placed == LogAppend::Appended ? LogAppend::Busy
                                                                                          : LogAppend::Lost;
    }
}
