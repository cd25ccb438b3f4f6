// The component's log file: the header that starts it after load, after ClearLog and after
// switching the log on; the line format; the groups the log flags switch; whole lines from
// concurrent writers; the cases in which nothing may be written; and the size limit, kept while a
// log viewer holds either file and when two components write one file.
#include "EventFixture.h"
#include "Handles.h"
#include "LogFile.h"
#include <algorithm>
#include <atomic>
#include <memory>
#include <regex>
#include <thread>

using namespace slothost;

namespace {

// The file's lines without their CR LF ends.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            if (start < text.size())
                lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

const std::regex HeaderLine(R"(\d\d:\d\d:\d\d\.\d\d\d \[I00130\] Log \d\d\.\d\d\.\d{4} \(Parvel v[0-9.]*, Windows v[0-9.]+\))");

size_t CountHeaders(const std::vector<std::string>& lines)
{
    size_t n = 0;
    for (const auto& line : lines)
        n += std::regex_match(line, HeaderLine) ? 1 : 0;
    return n;
}

const ULONGLONG LogLimit = 10 * 1024 * 1024;

ULONGLONG SizeOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string FileText(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A file's identity on the test machine's file system, which has file IDs.
struct FileId
{
    DWORD Volume = 0;
    DWORD High = 0;
    DWORD Low = 0;
    bool operator==(const FileId& o) const { return Volume == o.Volume && High == o.High && Low == o.Low; }
};

FileId IdOf(const std::wstring& path)
{
    FileId id;
    CFileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (file.Valid() && GetFileInformationByHandle(file.Get(), &info)) {
        id.Volume = info.dwVolumeSerialNumber;
        id.High = info.nFileIndexHigh;
        id.Low = info.nFileIndexLow;
    }
    return id;
}

// Makes the file at `path` hold `size` bytes, beginning with `start`.
void MakeFile(const std::wstring& path, const std::string& start, ULONGLONG size)
{
    CFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file.Valid());
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), start.data(), static_cast<DWORD>(start.size()), &written, nullptr));
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    ASSERT_TRUE(SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.Get()));
}

// A file system that reports no file IDs (volume serial and index 0: "not supported"), as some
// network redirectors do; it counts the calls that reach it.
class CNoFileIds : public CLogFileCalls
{
public:
    BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) override
    {
        ++m_calls;
        if (!CLogFileCalls::GetFileInformationByHandle(file, info))
            return FALSE;
        info->dwVolumeSerialNumber = 0;
        info->nFileIndexHigh = 0;
        info->nFileIndexLow = 0;
        return TRUE;
    }
    int Calls() const { return m_calls; }

private:
    std::atomic<int> m_calls{0};
};

// NTFS's answer to a viewer that maps only the start of the log: the log may be cut, but not below
// the part mapped (ERROR_USER_MAPPED_FILE), so a cut by the last byte passes and emptying it does
// not. Only cuts of the log itself are judged; the calls are counted.
class CPartlyMappedLog : public CLogFileCalls
{
public:
    CPartlyMappedLog(const FileId& log, ULONGLONG mapped) : m_log(log), m_mapped(mapped) {}
    BOOL SetEndOfFile(HANDLE file) override
    {
        BY_HANDLE_FILE_INFORMATION info{};
        LARGE_INTEGER zero{};
        LARGE_INTEGER end{};
        if (m_mapping && ::GetFileInformationByHandle(file, &info) && info.dwVolumeSerialNumber == m_log.Volume &&
            info.nFileIndexHigh == m_log.High && info.nFileIndexLow == m_log.Low &&
            SetFilePointerEx(file, zero, &end, FILE_CURRENT) && static_cast<ULONGLONG>(end.QuadPart) < m_mapped) {
            ++m_refused;
            ::SetLastError(ERROR_USER_MAPPED_FILE);
            return FALSE;
        }
        return CLogFileCalls::SetEndOfFile(file);
    }
    void Unmap() { m_mapping = false; }
    int Refused() const { return m_refused; }

private:
    const FileId m_log;
    const ULONGLONG m_mapped;
    std::atomic<bool> m_mapping{true};
    std::atomic<int> m_refused{0};
};

// Another program's writer that holds the writers' lock of a log until it lets go.
class CWritersLockHolder
{
public:
    explicit CWritersLockHolder(const std::wstring& path)
        : m_file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr))
    {
        m_at.QuadPart = LogWriterLockOffset;
        m_held = m_file.Valid() && LockFile(m_file.Get(), m_at.LowPart, m_at.HighPart, 1, 0);
    }
    ~CWritersLockHolder() { LetGo(); }
    CWritersLockHolder(const CWritersLockHolder&) = delete;
    CWritersLockHolder& operator=(const CWritersLockHolder&) = delete;

    bool Held() const { return m_held; }
    bool LetGo()
    {
        const bool ok = !m_held || UnlockFile(m_file.Get(), m_at.LowPart, m_at.HighPart, 1, 0);
        m_held = false;
        m_file.Reset();
        return ok;
    }

private:
    CFileHandle m_file;
    ULARGE_INTEGER m_at{};
    bool m_held = false;
};

} // namespace

class LogTest : public EventTest
{
protected:
    void SetUp() override
    {
        EventTest::SetUp();
        reader.Init(object, L"COM7");
        SetProp(PropLog, Bool(true));
    }
    // A full log, "the previous log", without Parvel.log.1, open in a viewer that shares no
    // deleting (so it cannot be renamed).
    void FullLogWithViewer(CFileHandle& viewer)
    {
        object->Log(&reader, LOG_LEVEL_INFO, 153, L"first");
        ASSERT_TRUE(object->FlushLog(5000));
        DeleteFileW((LogPath() + L".1").c_str());
        MakeFile(LogPath(), "the previous log\r\n", LogLimit);
        viewer.Reset(CreateFileW(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(viewer.Valid());
    }
    CReader reader;
};

TEST_F(LogTest, HeaderStartsTheLogAfterLoadClearLogAndSwitchingOn)
{
    object->Log(&reader, LOG_LEVEL_ERROR, 153, L"first");
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"second");
    auto lines = Lines(LogText());
    ASSERT_EQ(lines.size(), 4u) << LogText();
    EXPECT_EQ(lines[0], "") << "the header is preceded by an empty line";
    EXPECT_TRUE(std::regex_match(lines[1], HeaderLine)) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d \[E00153 COM7\] Error: first)"))) << lines[2];
    EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d \[I00153 COM7\] Error: second)"))) << lines[3];

    ASSERT_TRUE(Call(MethodClearLog, {}).bVal);
    EXPECT_EQ(GetFileAttributesW(LogPath().c_str()), INVALID_FILE_ATTRIBUTES);
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"third");
    lines = Lines(LogText());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(CountHeaders(lines), 1u);

    SetProp(PropLog, Bool(false));
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"while off");
    SetProp(PropLog, Bool(true));
    SetProp(PropLog, Bool(true)); // on again without a change: no new header
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"fourth");
    lines = Lines(LogText());
    ASSERT_EQ(lines.size(), 6u) << LogText();
    EXPECT_EQ(CountHeaders(lines), 2u);
    EXPECT_EQ(LogText().find("while off"), std::string::npos);
}

TEST_F(LogTest, LogFlagsSwitchTheirGroups)
{
    // 131 stands for the messages below 140, written whatever the flags.
    const uint32_t ids[] = {131, 142, 153, 161};
    struct Row
    {
        uint32_t Flags;
        const char* Written; // one letter per id: 1 written, 0 not
    } rows[] = {{0, "1000"}, {1, "1100"}, {2, "1010"}, {4, "1001"}, {7, "1111"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "flags " << row.Flags);
        SetProp(PropLogFlags, UI4(row.Flags));
        ASSERT_TRUE(Call(MethodClearLog, {}).bVal);
        for (uint32_t id : ids) {
            if (object->IsLogEnabled(&reader, id))
                object->Log(&reader, LOG_LEVEL_INFO, id, L"x", L"y");
            // A caller that does not test the filter first still writes nothing it forbids.
            object->Log(&reader, LOG_LEVEL_INFO, id, L"x", L"y");
        }
        const std::string log = LogText();
        for (size_t i = 0; i < 4; ++i) {
            const std::string tag = "[I00" + std::to_string(ids[i]) + " COM7]";
            size_t count = 0;
            for (size_t at = log.find(tag); at != std::string::npos; at = log.find(tag, at + 1))
                ++count;
            EXPECT_EQ(count, row.Written[i] == '1' ? 2u : 0u) << tag << "\n" << log;
        }
    }
}

TEST_F(LogTest, KeyTransfersAreLoggedWithTheirText)
{
    const uint8_t bytes[] = {0x39, 0x30, 0x7B, 0x00, 0x00};
    KeyData key;
    key.Assign(bytes, 5);
    std::wstring text;
    object->OnTracksData(&reader, 1, key, text);
    OnlyFormat(L"%u\\n", L"b2");         // the text ends in a line feed, shown escaped
    object->OnTracksData(&reader, 1, key, text);
    EXPECT_EQ(text, L"123\n");
    OnlyFormat(L"%u", L"b0", 1u << 2);  // HID only
    object->OnTracksData(&reader, 1, key, text);
    const std::string log = LogText();
    EXPECT_NE(log.find("[I00160 COM7] Transferred to key \"123,12345\"."), std::string::npos) << log;
    EXPECT_NE(log.find("[I00160 COM7] Transferred to key \"123\\n\"."), std::string::npos) << log;
    EXPECT_NE(log.find("[I00161 COM7] Failed to transer key: format is not specified."), std::string::npos) << log;
}

TEST_F(LogTest, ConcurrentWritersLeaveWholeLines)
{
    const int perThread = 1000;
    auto writer = [this](const wchar_t* name) {
        CReader own;
        own.Init(object, name);
        for (int i = 0; i < perThread; ++i) {
            wchar_t text[32];
            _snwprintf(text, 32, L"line %04d of %ls", i, name);
            object->Log(&own, LOG_LEVEL_INFO, 153, text);
        }
    };
    std::thread a(writer, L"COM11");
    std::thread b(writer, L"COM12");
    a.join();
    b.join();
    const auto lines = Lines(LogText());
    const std::regex whole(R"(\d\d:\d\d:\d\d\.\d\d\d \[I00153 (COM1[12])\] Error: line (\d{4}) of (COM1[12]))");
    size_t good = 0;
    int next[2] = {0, 0};
    for (const auto& line : lines) {
        std::smatch m;
        if (!std::regex_match(line, m, whole) || m[1] != m[3])
            continue;
        ++good;
        int& expected = next[m[1] == "COM11" ? 0 : 1];
        EXPECT_EQ(std::stoi(m[2]), expected) << "lines of one writer keep their order";
        expected = std::stoi(m[2]) + 1;
    }
    EXPECT_EQ(good, 2u * perThread);
    EXPECT_EQ(lines.size(), 2u * perThread + 2) << "the header, its empty line and nothing else";
}

TEST_F(LogTest, ALogFileThatCannotBeOpenedMakesLoggingSilent)
{
    // Wine run as root opens a read-only file for writing all the same, so a folder in the file's
    // place stands for a log file that cannot be written.
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"before");
    ASSERT_TRUE(object->FlushLog(5000));
    ASSERT_TRUE(DeleteFileW(LogPath().c_str()));
    ASSERT_TRUE(CreateDirectoryW(LogPath().c_str(), nullptr));
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"lost");
    const uint8_t bytes[] = {0x39, 0x30, 0x7B, 0x00, 0x00};
    KeyData key;
    key.Assign(bytes, 5);
    std::wstring text;
    object->OnTracksData(&reader, 1, key, text);
    EXPECT_EQ(Events().size(), 1u) << "the component goes on working";
    ASSERT_TRUE(object->FlushLog(5000));
    ASSERT_TRUE(RemoveDirectoryW(LogPath().c_str()));
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"after");
    const auto lines = Lines(LogText());
    ASSERT_EQ(lines.size(), 1u) << LogText();
    EXPECT_EQ(CountHeaders(lines), 0u) << "the header is not repeated after lost lines";
    EXPECT_NE(lines[0].find("Error: after"), std::string::npos);
}

// Another program that holds the writers' lock for longer than any line may wait (another
// process's writer copying a full log on slow storage, say) costs the caller nothing: each line is
// handed over at once, and every one of them is written, in order, once the lock is let go.
TEST_F(LogTest, AWriterHoldingTheLockLongCostsTheCallerNothingAndLosesNoLine)
{
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"before");
    ASSERT_TRUE(object->FlushLog(5000));
    CWritersLockHolder holder(LogPath());
    ASSERT_TRUE(holder.Held());
    const DWORD heldAt = GetTickCount();
    DWORD slowest = 0;
    for (int i = 0; i < 3; ++i) {
        const DWORD start = GetTickCount();
        object->Log(&reader, LOG_LEVEL_INFO, 153, (L"while held " + std::to_wstring(i)).c_str());
        slowest = std::max(slowest, GetTickCount() - start);
    }
    // Longer than the second after which a writer used to give a line up.
    Sleep(1500 - std::min<DWORD>(1500, GetTickCount() - heldAt));
    EXPECT_FALSE(object->FlushLog(0)) << "written through another writer's lock";
    ASSERT_TRUE(holder.LetGo());
    std::printf("the slowest of three lines while another writer holds the lock: %lu ms\n",
                static_cast<unsigned long>(slowest));
    EXPECT_LE(slowest, 100u) << "the caller waited for the file";
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"after");
    const auto lines = Lines(LogText());
    ASSERT_EQ(lines.size(), 7u) << LogText();
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(lines[3 + i].find("Error: while held " + std::to_string(i)), std::string::npos) << lines[3 + i];
    EXPECT_NE(lines[6].find("Error: after"), std::string::npos);
    EXPECT_TRUE(host.Errors().empty());
}

TEST_F(LogTest, WithoutASettingsFolderNoLogIsWritten)
{
    // The root of the drive is where a log without a folder would go.
    const std::wstring root = L"\\Parvel.log";
    const DWORD before = GetFileAttributesW(root.c_str());
    Destroy();
    Create(0, false);
    ASSERT_TRUE(object->SettingsFolder().empty());
    SetProp(PropLog, Bool(true));
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"nowhere");
    EXPECT_EQ(GetFileAttributesW(root.c_str()), before);
    EXPECT_TRUE(Call(MethodClearLog, {}).bVal);
    EXPECT_EQ(GetFileAttributesW(root.c_str()), before);
}

// A log that has reached 10 MB is renamed to Parvel.log.1 (an older one is replaced) and a new one
// starts with its header; below the limit lines are appended as ever.
TEST_F(LogTest, AFullLogIsRenamedAndANewOneStarts)
{
    const ULONGLONG limit = 10 * 1024 * 1024;
    const std::wstring oldPath = LogPath() + L".1";
    auto sizeOf = [](const std::wstring& path) -> ULONGLONG {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
            return 0;
        return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    };
    auto growTo = [this](ULONGLONG size) {
        CFileHandle file(CreateFileW(LogPath().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file.Valid());
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(size);
        ASSERT_TRUE(SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.Get()));
    };
    {
        CFileHandle old(CreateFileW(oldPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(old.Valid());
    }

    object->Log(&reader, LOG_LEVEL_INFO, 153, L"first");
    ASSERT_TRUE(object->FlushLog(5000));
    growTo(limit - 100);
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"still below");
    ASSERT_TRUE(object->FlushLog(5000));
    EXPECT_GT(sizeOf(LogPath()), limit - 100) << "appended below the limit";
    EXPECT_EQ(0u, sizeOf(oldPath));

    growTo(limit);
    const FileId full = IdOf(LogPath());
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"after the limit");
    ASSERT_TRUE(object->FlushLog(5000));
    EXPECT_EQ(limit, sizeOf(oldPath)) << "the full log was not renamed";
    // Renamed, not copied (which every writer that shares no deleting would force): the file
    // itself is Parvel.log.1 now.
    EXPECT_TRUE(full == IdOf(oldPath)) << "the full log was copied into Parvel.log.1, not renamed";
    auto lines = Lines(LogText());
    ASSERT_EQ(3u, lines.size()) << LogText();
    EXPECT_EQ(1u, CountHeaders(lines));
    EXPECT_NE(std::string::npos, lines[2].find("Error: after the limit"));
    DeleteFileW(oldPath.c_str());
}

// A log viewer that follows the log holds a file open for reading without FILE_SHARE_DELETE
// (sharing writing, as it must for a file that grows). Windows then refuses to rename that file,
// and refuses to replace Parvel.log.1 while anybody has it open at all, even sharing deleting;
// a viewer of Parvel.log.1 that shares only reading even stops it being written. Through a flood
// of two and a half files the
// two files together stay within 21 MB, the newest lines are all there in order, at least the
// whole previous file's worth of them, and the platform hears nothing of it.
TEST_F(LogTest, AViewerHoldingEitherFileKeepsTheBoundAndEveryLine)
{
    const ULONGLONG bound = 21 * 1024 * 1024;
    const std::wstring oldPath = LogPath() + L".1";
    const std::wstring pad(30000, L'x');
    // The number only: a regular expression over the whole long line would recurse too deep.
    const std::regex numbered(R"(\[I00153 COM7\] Error: flood (\d{6}) $)");
    struct Viewer
    {
        const char* Name;
        bool OnOld;
        DWORD Share;
        bool KeepsWholePreviousFile;
    } viewers[] = {
        {"viewer on Parvel.log", false, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {"viewer on Parvel.log.1", true, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {"viewer on Parvel.log.1 sharing deleting", true, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
        // Parvel.log.1 can be neither written nor replaced: the log keeps its newer half.
        {"viewer on Parvel.log.1 sharing only reading", true, FILE_SHARE_READ, false},
    };
    for (const Viewer& v : viewers) {
        SCOPED_TRACE(v.Name);
        ASSERT_TRUE(Call(MethodClearLog, {}).bVal);
        DeleteFileW(oldPath.c_str());
        object->Log(&reader, LOG_LEVEL_INFO, 153, L"before the viewer");
        ASSERT_TRUE(object->FlushLog(5000));
        if (v.OnOld)
            MakeFile(oldPath, "an older log\r\n", 0);
        CFileHandle viewer(CreateFileW((v.OnOld ? oldPath : LogPath()).c_str(), GENERIC_READ, v.Share, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(viewer.Valid());

        int last = -1;
        ULONGLONG written = 0;
        ULONGLONG largest = 0;
        while (written < 5 * LogLimit / 2) {
            wchar_t number[8];
            _snwprintf(number, 8, L"%06d", ++last);
            object->Log(&reader, LOG_LEVEL_INFO, 153, (L"flood " + std::wstring(number) + L" " + pad).c_str());
            ASSERT_TRUE(object->FlushLog(5000));
            written += pad.size() + 50;
            largest = std::max(largest, SizeOf(LogPath()) + SizeOf(oldPath));
            if (largest > bound)
                break;
        }
        viewer.Reset();
        EXPECT_LE(largest, bound) << "the two files together after line " << last;

        // The flood's lines as they stand in Parvel.log.1 and then Parvel.log.
        std::vector<int> kept;
        for (const std::string& file : {FileText(oldPath), FileText(LogPath())})
            for (const std::string& line : Lines(file)) {
                if (line.size() <= pad.size())
                    continue;
                const std::string head = line.substr(0, line.size() - pad.size());
                std::smatch m;
                if (std::regex_search(head, m, numbered) &&
                    line.find_first_not_of('x', head.size()) == std::string::npos)
                    kept.push_back(std::stoi(m[1]));
            }
        ASSERT_FALSE(kept.empty());
        EXPECT_EQ(kept.back(), last) << "the newest line is there";
        bool inOrder = true;
        for (size_t i = 1; i < kept.size(); ++i)
            inOrder = inOrder && kept[i] == kept[i - 1] + 1;
        EXPECT_TRUE(inOrder) << "no line is missing between the oldest kept (" << kept.front() << ") and the newest";
        const ULONGLONG keptBytes = kept.size() * (pad.size() + 50);
        EXPECT_GE(keptBytes, v.KeepsWholePreviousFile ? LogLimit : LogLimit / 2);
        EXPECT_TRUE(host.Errors().empty());
        EXPECT_TRUE(Events().empty());
    }
    DeleteFileW(oldPath.c_str());
}

// Two components write one log (two components of one process here; two processes take turns in
// the same way). Both meet the full file while a third writer holds the writers' lock, so both
// have opened it before either may look at its size. Only one may make room: after a rename the
// other finds the file it holds moved away and writes into the new one, or it would put the first
// one's fresh, almost empty file over Parvel.log.1 and the previous 10 MB would be gone; after a
// copy (a viewer holds Parvel.log.1) it finds the file emptied, or it would copy and empty it
// again, over the previous log and the first one's line. On a file system without file IDs the
// other one cannot compare them, and must not take any file for the one it holds.
TEST_F(LogTest, TwoWritersOfAFullLogMakeRoomOnce)
{
    CParvel* second = new CParvel(L"ParvelExtension");
    ComponentPlacement placement;
    placement.ModuleFolder = moduleFolder.Path();
    placement.AppDataFolder = appData.Path();
    second->SetPlacement(placement);
    eventhost::CEventHost secondHost;
    ASSERT_TRUE(second->setMemManager(&memory));
    ASSERT_TRUE(second->Init(&secondHost));
    tVariant on = slothost::Bool(true);
    ASSERT_TRUE(second->SetPropVal(PropLog, &on));
    CReader other;
    other.Init(second, L"COM8");
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"first");
    second->Log(&other, LOG_LEVEL_INFO, 153, L"first");
    ASSERT_TRUE(object->FlushLog(5000));
    ASSERT_TRUE(second->FlushLog(5000));

    const std::wstring oldPath = LogPath() + L".1";
    // The last trials on a file system that reports no file IDs: the writers cannot compare them.
    CNoFileIds noIds;
    std::unique_ptr<CCallSeamScope<CLogFileCalls>> withoutIds;
    for (int trial = 0; trial < 4; ++trial) {
        const bool viewed = trial % 2 == 1;
        SCOPED_TRACE(viewed ? "a viewer holds Parvel.log.1" : "nobody else has either file open");
        SCOPED_TRACE(withoutIds ? "no file IDs" : "file IDs");
        DeleteFileW(oldPath.c_str());
        MakeFile(LogPath(), "the previous log\r\n", LogLimit);
        MakeFile(oldPath, "", 0);
        CFileHandle viewer;
        if (viewed)
            viewer.Reset(CreateFileW(oldPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        CFileHandle third(CreateFileW(LogPath().c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      0, nullptr));
        ASSERT_TRUE(third.Valid());
        ULARGE_INTEGER at;
        at.QuadPart = LogWriterLockOffset;
        ASSERT_TRUE(LockFile(third.Get(), at.LowPart, at.HighPart, 1, 0));
        std::thread a([&] { object->Log(&reader, LOG_LEVEL_INFO, 153, L"at the limit"); });
        std::thread b([&] { second->Log(&other, LOG_LEVEL_INFO, 153, L"at the limit"); });
        Sleep(200);
        ASSERT_TRUE(UnlockFile(third.Get(), at.LowPart, at.HighPart, 1, 0));
        third.Reset();
        a.join();
        b.join();
        EXPECT_TRUE(object->FlushLog(5000));
        EXPECT_TRUE(second->FlushLog(5000));
        viewer.Reset();

        const std::string old = FileText(oldPath);
        EXPECT_EQ(old.size(), LogLimit) << "Parvel.log.1 is not the previous full log";
        EXPECT_EQ(old.compare(0, 18, "the previous log\r\n"), 0);
        const std::string log = LogText();
        EXPECT_NE(log.find("[I00153 COM7] Error: at the limit"), std::string::npos) << log;
        EXPECT_NE(log.find("[I00153 COM8] Error: at the limit"), std::string::npos) << log;
        EXPECT_LT(log.size(), 4096u);
        if (trial == 1)
            withoutIds.reset(new CCallSeamScope<CLogFileCalls>(noIds));
    }
    EXPECT_GE(noIds.Calls(), 4) << "the writers did not ask the file system for file IDs";
    withoutIds.reset();
    second->Done();
    delete second;
    DeleteFileW(oldPath.c_str());
}

// Another program holds the log, as another process's writer in a slow copy holds the writers'
// lock, or as a viewer that shares no writing keeps the writers from opening it. Meanwhile a
// reader's cards come with their log lines while the platform reads a property: neither waits for
// the file, and once it is free every line is there.
TEST_F(LogTest, NoCallWaitsForALogFileThatAnotherProgramHolds)
{
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"before");
    ASSERT_TRUE(object->FlushLog(5000));
    const uint8_t bytes[] = {0x39, 0x30, 0x7B, 0x00, 0x00};
    KeyData key;
    key.Assign(bytes, 5);
    for (const bool lockHolder : {true, false}) {
        SCOPED_TRACE(lockHolder ? "a writer holds the writers' lock" : "a viewer shares only reading");
        eventhost::CRecorder::Instance().Clear();
        const size_t linesBefore = Lines(LogText()).size();
        std::unique_ptr<CWritersLockHolder> writer;
        CFileHandle viewer;
        if (lockHolder) {
            writer.reset(new CWritersLockHolder(LogPath()));
            ASSERT_TRUE(writer->Held());
        } else {
            viewer.Reset(CreateFileW(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(viewer.Valid());
        }

        const DWORD heldFor = 1200;
        const DWORD start = GetTickCount();
        std::atomic<DWORD> slowestCard{0};
        std::atomic<int> cards{0};
        std::thread cardReader([&] {
            while (GetTickCount() - start < heldFor) {
                const DWORD began = GetTickCount();
                std::wstring text;
                object->OnTracksData(&reader, 1, key, text);
                slowestCard = std::max(slowestCard.load(), GetTickCount() - began);
                ++cards;
                Sleep(20);
            }
        });
        DWORD slowestRead = 0;
        while (GetTickCount() - start < heldFor) {
            const DWORD began = GetTickCount();
            tVariant value = slothost::Empty();
            EXPECT_TRUE(object->GetPropVal(PropLastKeyType, &value));
            slowestRead = std::max(slowestRead, GetTickCount() - began);
            Sleep(5);
        }
        cardReader.join();
        writer.reset();
        viewer.Reset();
        std::printf("while another program holds the log: slowest card %lu ms, slowest property read %lu ms\n",
                    static_cast<unsigned long>(slowestCard.load()), static_cast<unsigned long>(slowestRead));
        EXPECT_LE(slowestCard.load(), 100u) << "a card waited for the log file";
        EXPECT_LE(slowestRead, 100u) << "the platform waited for the log file";
        EXPECT_EQ(Events().size(), static_cast<size_t>(cards.load()));
        const auto lines = Lines(LogText());
        ASSERT_EQ(lines.size(), linesBefore + cards) << "a line was lost";
        EXPECT_NE(lines.back().find("[I00160 COM7] Transferred to key \"123,12345\"."), std::string::npos);
    }
}

// Lines for which there is no room while the file is held are given up, and the log says how many
// where they are missing: the lines before in order, the count, and the lines after.
TEST_F(LogTest, LinesGivenUpForWantOfRoomAreCountedInTheLog)
{
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"before");
    ASSERT_TRUE(object->FlushLog(5000));
    CWritersLockHolder holder(LogPath());
    ASSERT_TRUE(holder.Held());
    const std::wstring pad(30000, L'x');
    const int handed = 60; // 1.8 MB of lines
    for (int i = 0; i < handed; ++i)
        object->Log(&reader, LOG_LEVEL_INFO, 153, (L"big " + std::to_wstring(i) + L" " + pad).c_str());
    ASSERT_TRUE(holder.LetGo());
    ASSERT_TRUE(object->FlushLog(5000));
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"after");

    // Lines given up where the writer had taken some off the queue are counted where they are
    // missing, those at the end after the last line written.
    const auto lines = Lines(LogText());
    // The number only: a regular expression over the whole long line would recurse too deep.
    const std::regex big(R"(\d\d:\d\d:\d\d\.\d\d\d \[I00153 COM7\] Error: big (\d+) x{10})");
    const std::regex count(R"(\d\d:\d\d:\d\d\.\d\d\d \[W00132 \] (\d+) log lines were lost: the log file could not be written for a while\.)");
    int written = 0;
    int next = 0;
    int counted = 0;
    int countLines = 0;
    ASSERT_GE(lines.size(), 4u);
    for (size_t i = 3; i + 1 < lines.size(); ++i) {
        const std::string head = lines[i].substr(0, 60);
        std::smatch m;
        if (lines[i].size() >= pad.size() && std::regex_search(head, m, big)) {
            EXPECT_EQ(std::stoi(m[1]) - next, counted) << "the lines missing before this one are not counted";
            next = std::stoi(m[1]) + 1;
            counted = 0;
            ++written;
        } else if (std::regex_match(lines[i], m, count)) {
            counted += std::stoi(m[1]);
            ++countLines;
        } else {
            ADD_FAILURE() << "line " << i << ": " << lines[i].substr(0, 200);
        }
    }
    EXPECT_EQ(handed - next, counted) << "the lines missing at the end are not counted";
    EXPECT_GE(written, 20) << "the queue holds about a megabyte";
    EXPECT_GE(countLines, 1);
    EXPECT_NE(lines.back().find("Error: after"), std::string::npos);
}

// Done does not wait for a log that another program holds beyond its time, and the lines handed
// over before it reach the file once the file is free.
TEST_F(LogTest, DoneReturnsInTimeWhileTheLogIsHeldAndItsLinesFollow)
{
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"before");
    ASSERT_TRUE(object->FlushLog(5000));
    CWritersLockHolder holder(LogPath());
    ASSERT_TRUE(holder.Held());
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"handed before Done");
    const DWORD start = GetTickCount();
    object->Done();
    const DWORD took = GetTickCount() - start;
    std::printf("Done while another program holds the log: %lu ms\n", static_cast<unsigned long>(took));
    EXPECT_LE(took, 1000u);
    Sleep(300);
    ASSERT_TRUE(holder.LetGo());
    const DWORD wait = GetTickCount();
    while (LogText().find("handed before Done") == std::string::npos && GetTickCount() - wait < 3000)
        Sleep(20);
    EXPECT_NE(LogText().find("Error: handed before Done"), std::string::npos) << LogText();
}

// A viewer that keeps a mapped view of the full log (and shares no deleting) stops both the rename
// and the emptying (SetEndOfFile fails with ERROR_USER_MAPPED_FILE, as documented). The log then
// takes its lines only once it can be emptied: the two files stay within their bound, no line is
// in both, and once the viewer lets go Parvel.log.1 holds the previous log and Parvel.log every
// line since, each once.
TEST_F(LogTest, AViewerThatMapsTheFullLogKeepsTheBoundAndEachLineOnce)
{
    const std::wstring oldPath = LogPath() + L".1";
    const ULONGLONG bound = 21 * 1024 * 1024;
    struct Mapping
    {
        const char* Name;
        DWORD Size; // 0: the whole file
    } mappings[] = {{"a view of the whole log", 0}, {"a view of its first 64 KB", 64 * 1024}};
    for (const Mapping& mapping : mappings) {
        SCOPED_TRACE(mapping.Name);
        CFileHandle viewer;
        ASSERT_NO_FATAL_FAILURE(FullLogWithViewer(viewer));
        CHandle section(CreateFileMappingW(viewer.Get(), nullptr, PAGE_READONLY, 0, mapping.Size, nullptr));
        ASSERT_TRUE(section.Get() != nullptr);
        const void* view = MapViewOfFile(section.Get(), FILE_MAP_READ, 0, 0, 0);
        ASSERT_TRUE(view != nullptr);

        const int handed = 20;
        for (int i = 0; i < handed; ++i) {
            object->Log(&reader, LOG_LEVEL_INFO, 153, (L"mapped " + std::to_wstring(i) + L" end").c_str());
            Sleep(10);
        }
        object->FlushLog(300);
        // How often each line stands in the two files.
        auto times = [&]() {
            std::vector<size_t> n(handed);
            for (const std::string& text : {FileText(oldPath), FileText(LogPath())})
                for (int i = 0; i < handed; ++i) {
                    const std::string line = "Error: mapped " + std::to_string(i) + " end";
                    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
                        ++n[i];
                }
            return n;
        };
        EXPECT_LE(SizeOf(LogPath()) + SizeOf(oldPath), bound) << "while the viewer maps the log";
        auto n = times();
        for (int i = 0; i < handed; ++i)
            EXPECT_LE(n[i], 1u) << "line " << i << " while the viewer maps the log";

        UnmapViewOfFile(view);
        section.Reset();
        viewer.Reset();
        ASSERT_TRUE(object->FlushLog(5000));
        const std::string old = FileText(oldPath);
        EXPECT_EQ(old.size(), LogLimit) << "Parvel.log.1 is not the previous full log";
        EXPECT_EQ(old.compare(0, 18, "the previous log\r\n"), 0);
        n = times();
        for (int i = 0; i < handed; ++i)
            EXPECT_EQ(n[i], 1u) << "line " << i;
        EXPECT_EQ(CountHeaders(Lines(LogText())), 1u);
        EXPECT_LT(SizeOf(LogPath()), 4096u);
    }
    DeleteFileW(oldPath.c_str());
}

// Where the cut by the last byte passes but emptying the log does not (NTFS, with a viewer that
// maps only the start of the log), the copy made into Parvel.log.1 is taken back, so that no line
// is in both files, and the next copy waits a while rather than come with every try; once the
// viewer has let go the log makes room as ever.
TEST_F(LogTest, ACopyThatCannotBeFollowedByEmptyingTheLogIsTakenBack)
{
    const std::wstring oldPath = LogPath() + L".1";
    CFileHandle viewer;
    ASSERT_NO_FATAL_FAILURE(FullLogWithViewer(viewer));
    CPartlyMappedLog ntfs(IdOf(LogPath()), 64 * 1024);
    CCallSeamScope<CLogFileCalls> scope(ntfs);
    for (int i = 0; i < 5; ++i)
        object->Log(&reader, LOG_LEVEL_INFO, 153, (L"waiting " + std::to_wstring(i)).c_str());
    EXPECT_FALSE(object->FlushLog(500));
    EXPECT_EQ(ntfs.Refused(), 1) << "the log was copied more than once, or not at all";
    EXPECT_EQ(SizeOf(oldPath), 0u) << "the copy in Parvel.log.1 was not taken back";
    EXPECT_EQ(SizeOf(LogPath()), LogLimit);
    EXPECT_EQ(FileText(LogPath()).find("waiting"), std::string::npos);

    ntfs.Unmap();
    viewer.Reset();
    ASSERT_TRUE(object->FlushLog(5000));
    const std::string old = FileText(oldPath);
    EXPECT_EQ(old.size(), LogLimit);
    EXPECT_EQ(old.compare(0, 18, "the previous log\r\n"), 0);
    const auto lines = Lines(LogText());
    ASSERT_EQ(lines.size(), 7u) << LogText();
    EXPECT_EQ(CountHeaders(lines), 1u);
    EXPECT_NE(lines[6].find("Error: waiting 4"), std::string::npos);
    DeleteFileW(oldPath.c_str());
}
