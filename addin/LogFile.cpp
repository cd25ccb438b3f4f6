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
#include "LogFile.h"
#include "Handles.h"
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

const wchar_t* const OldLogSuffix = L".1";
// How long a writer waits for the others: each holds the lock for one line, or for one copy of a
// full file, which takes far less.
const DWORD WriterWaitMs = 1000;
// How long it waits for a program that opened the file without sharing writing (not a writer).
const DWORD ForeignHolderWaitMs = 100;
const DWORD WriterLockOffsetLow = static_cast<DWORD>(LogWriterLockOffset);
const DWORD WriterLockOffsetHigh = static_cast<DWORD>(LogWriterLockOffset >> 32);
const DWORD CopyBlock = 64 * 1024;
// How far past the middle of a full file a line start is looked for when it keeps its newer half.
const DWORD LineSearchLimit = 64 * 1024;

bool Expired(DWORD start, DWORD waitMs)
{
    return GetTickCount() - start >= waitMs;
}

// Opens the log for appending, made when missing, in the writers' share mode.
HANDLE OpenAsWriter(const std::wstring& path)
{
    const DWORD start = GetTickCount();
    for (;;) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_SHARING_VIOLATION ||
            Expired(start, ForeignHolderWaitMs))
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

private:
    HANDLE m_file;
    bool m_held = false;
    bool m_timedOut = false;
};

// False when the path now names another file than the one open (another writer renamed the open
// one, or deleted it) or none. A file system that cannot tell counts as the same file.
bool IsFileAtPath(HANDLE file, const std::wstring& path)
{
    CFileHandle named(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!named.Valid())
        return false;
    BY_HANDLE_FILE_INFORMATION open{};
    BY_HANDLE_FILE_INFORMATION atPath{};
    if (!GetFileInformationByHandle(file, &open) || !GetFileInformationByHandle(named.Get(), &atPath))
        return true;
    return open.dwVolumeSerialNumber == atPath.dwVolumeSerialNumber && open.nFileIndexHigh == atPath.nFileIndexHigh &&
           open.nFileIndexLow == atPath.nFileIndexLow;
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
    return Seek(file, length) && SetEndOfFile(file);
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

// Makes room in a full log held under the writers' lock. Appended when none could be made.
LogAppend MakeRoom(HANDLE file, const std::wstring& path, ULONGLONG size)
{
    if (RenameToOld(path))
        return LogAppend::Renamed;
    switch (CopyToOld(file, path, size)) {
    case CopyResult::Copied:
        return CutAt(file, 0) ? LogAppend::Copied : LogAppend::Appended;
    case CopyResult::OldUnwritable:
        return KeepNewerHalf(file, size) ? LogAppend::Trimmed : LogAppend::Appended;
    case CopyResult::Failed:
        break;
    }
    // The lines stay where they are, over the limit, rather than be lost.
    return LogAppend::Appended;
}

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
    if (locked)
        UnlockFile(file, end.LowPart, static_cast<DWORD>(end.HighPart), length, 0);
    return ok && written == length;
}

} // namespace

LogAppend AppendToLog(const std::wstring& path, ULONGLONG limit, bool headerDue,
                      const std::function<std::string()>& header, const std::string& lines)
{
    const DWORD start = GetTickCount();
    LogAppend placed = LogAppend::Appended;
    for (;;) {
        CFileHandle file(OpenAsWriter(path));
        if (!file.Valid())
            return LogAppend::Lost;
        CLogWriterLock lock(file.Get(), start, WriterWaitMs);
        if (lock.TimedOut())
            return LogAppend::Lost;
        LARGE_INTEGER size = {};
        if (!GetFileSizeEx(file.Get(), &size))
            return LogAppend::Lost;
        if (placed == LogAppend::Appended && static_cast<ULONGLONG>(size.QuadPart) >= limit) {
            // A file that another writer renamed after it was opened here is full too (that is why
            // it was renamed), so only a full one needs to be checked, once per rotation.
            if (!IsFileAtPath(file.Get(), path)) {
                if (Expired(start, WriterWaitMs))
                    return LogAppend::Lost;
                continue; // take the new file at the path
            }
            placed = MakeRoom(file.Get(), path, static_cast<ULONGLONG>(size.QuadPart));
            if (placed == LogAppend::Renamed)
                continue; // the lines start the new file at the path
        }
        const bool fresh = placed == LogAppend::Renamed || placed == LogAppend::Copied;
        const std::string block = headerDue || fresh ? header() + lines : lines;
        return WriteAtEnd(file.Get(), block) ? placed : LogAppend::Lost;
    }
}
