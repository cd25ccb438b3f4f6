// The test log: the exact line format, escaping of every field, reading back newest first, lines
// that do not follow the format, and a failed write leaving no trace.
#include "Exceptions.h"
#include "HostFixture.h"
#include "TestLog.h"

namespace {

std::string FileBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    std::string bytes;
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char block[4096];
    DWORD read = 0;
    while (ReadFile(file, block, sizeof(block), &read, nullptr) && read > 0)
        bytes.append(block, read);
    CloseHandle(file);
    return bytes;
}

LogEntry Entry(uint32_t time, int32_t level, const wchar_t* source, const wchar_t* message, const wchar_t* data)
{
    LogEntry e;
    e.time = time;
    e.level = level;
    e.source = source;
    e.message = message;
    e.data = data;
    return e;
}

void ExpectSame(const LogEntry& a, const LogEntry& b)
{
    EXPECT_EQ(a.time, b.time);
    EXPECT_EQ(a.level, b.level);
    EXPECT_EQ(a.source, b.source);
    EXPECT_EQ(a.message, b.message);
    EXPECT_EQ(a.data, b.data);
}

// A disk that takes only part of a write, or fails it after part of it.
class FailingLog : public CTestLog
{
public:
    enum Mode { Works, Short, Fails } mode = Works;

protected:
    BOOL WriteBytes(const void* data, DWORD size, DWORD* written) override
    {
        if (mode == Works)
            return CTestLog::WriteBytes(data, size, written);
        BOOL ok = CTestLog::WriteBytes(data, size / 2, written);
        if (mode == Short)
            return ok;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
};

} // namespace

TEST(TestLog, OneEntryIsExactlyOneLine)
{
    TestFolder folder;
    CTestLog log;
    log.Open(folder.File(L"TestParvel.log"));
    EXPECT_EQ(log.LineCount(), 0u);
    log.Write(Entry(3723004, 2, L"COM3", L"DeviceConnect", L""));
    EXPECT_EQ(FileBytes(folder.File(L"TestParvel.log")), "01:02:03.004 [W COM3] DeviceConnect | \r\n");
    log.Write(Entry(86399999 + 86400000, 1, L"COM4", L"TracksData", L"Ключ 001"));
    EXPECT_EQ(FileBytes(folder.File(L"TestParvel.log")).substr(40),
              "23:59:59.999 [I COM4] TracksData | \xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87 001\r\n");
    EXPECT_EQ(log.LineCount(), 2u);
}

TEST(TestLog, EveryFieldReadsBackUnchanged)
{
    TestFolder folder;
    CTestLog log;
    log.Open(folder.File(L"TestParvel.log"));
    const LogEntry entries[] = {
        Entry(1000, 3, L"Parvel", L"Failed to open port.\r\n", L"message=1004, error=-2147221501"),
        Entry(2000, 1, L"COM3\\2", L"a | b\r\nc", L"data | with\nline\rand\\backslash"),
        Entry(3000, 2, L"odd]source", L"message]", L"]|\\"),
        Entry(4000, 1, L"", L"", L""),
    };
    for (const LogEntry& e : entries)
        log.Write(e);
    ASSERT_EQ(log.LineCount(), 4u);
    std::string bytes = FileBytes(folder.File(L"TestParvel.log"));
    EXPECT_NE(bytes.find("data \\| with\\nline\\rand\\\\backslash\r\n"), std::string::npos) << bytes;
    for (uint64_t i = 0; i < 4; ++i) {
        LogEntry back;
        ASSERT_EQ(log.GetEntry(i, back), 1);
        ExpectSame(back, entries[i]);
    }
}

TEST(TestLog, LevelsBlanksAndNewestFirst)
{
    TestFolder folder;
    CTestLog log;
    log.Open(folder.File(L"TestParvel.log"));
    log.Write(Entry(1, 7, L"COM1", L"first", L"  padded  "));
    log.Write(Entry(2, 0, L"COM1", L"second", L""));
    log.Write(Entry(3, 3, L"COM1", L"third", L""));
    LogEntry e;
    ASSERT_EQ(log.GetEntry(0, e), 1);
    EXPECT_EQ(e.level, LogLevelUnknown); // written as "?"
    EXPECT_EQ(e.data, L"padded");
    ASSERT_EQ(log.GetEntry(1, e), 1);
    EXPECT_EQ(e.level, LogLevelUnknown);

    ASSERT_EQ(log.GetNewestEntry(0, e), 1);
    EXPECT_EQ(e.message, L"third");
    EXPECT_EQ(e.level, LogLevelError);
    ASSERT_EQ(log.GetNewestEntry(2, e), 1);
    EXPECT_EQ(e.message, L"first");
    EXPECT_EQ(log.GetNewestEntry(3, e), 0);
}

TEST(TestLog, ReadingPastTheLastLineReturnsNothing)
{
    TestFolder folder;
    CTestLog log;
    std::wstring line = L"untouched";
    EXPECT_EQ(log.ReadLine(0, line), 0); // not open yet
    log.Open(folder.File(L"TestParvel.log"));
    log.AppendLine(L"one");
    log.AppendLine(L"two\r\n"); // already ends a line: not doubled
    log.AppendLine(L"three\nfour"); // two lines
    ASSERT_EQ(log.LineCount(), 4u);
    EXPECT_EQ(log.ReadLine(4, line), 0);
    EXPECT_EQ(log.ReadLine(1000, line), 0);
    EXPECT_EQ(line, L"untouched");
    ASSERT_EQ(log.ReadLine(1, line), 1);
    EXPECT_EQ(line, L"two\r\n");
    ASSERT_EQ(log.ReadLine(2, line), 1);
    EXPECT_EQ(line, L"three\n");
    ASSERT_EQ(log.ReadLine(3, line), 1);
    EXPECT_EQ(line, L"four\r\n");
    LogEntry e;
    EXPECT_EQ(log.GetEntry(4, e), 0);

    log.Clear();
    EXPECT_EQ(log.LineCount(), 0u);
    EXPECT_EQ(FileBytes(folder.File(L"TestParvel.log")), "");
    log.AppendLine(L"again");
    ASSERT_EQ(log.ReadLine(0, line), 1);
    EXPECT_EQ(line, L"again\r\n");
}

TEST(TestLog, OpenStartsAnEmptyFile)
{
    TestFolder folder;
    {
        CTestLog log;
        log.Open(folder.File(L"TestParvel.log"));
        log.AppendLine(L"from the last run");
    }
    CTestLog log;
    log.Open(folder.File(L"TestParvel.log"));
    EXPECT_EQ(log.LineCount(), 0u);
    EXPECT_EQ(FileBytes(folder.File(L"TestParvel.log")), "");

    CTestLog nowhere;
    const std::wstring bad = folder.File(L"missing\\TestParvel.log");
    try {
        nowhere.Open(bad);
        ADD_FAILURE() << "opened a file in a missing folder";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.FileName(), bad);
    }
    EXPECT_FALSE(nowhere.IsOpen());
    EXPECT_EQ(nowhere.LineCount(), 0u);
}

TEST(TestLog, AFailedWriteLeavesFileAndIndexAsTheyWere)
{
    TestFolder folder;
    FailingLog log;
    log.Open(folder.File(L"TestParvel.log"));
    log.Write(Entry(1000, 1, L"COM1", L"kept", L""));
    const std::string before = FileBytes(folder.File(L"TestParvel.log"));

    log.mode = FailingLog::Short;
    try {
        log.AppendLine(L"a line that does not fit\nand another");
        ADD_FAILURE() << "a short write passed";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.GetCause(), CFileException::DiskFull);
        EXPECT_EQ(e.OsError(), static_cast<DWORD>(CFileException::NoOsError));
    }
    EXPECT_EQ(log.LineCount(), 1u);
    EXPECT_EQ(FileBytes(folder.File(L"TestParvel.log")), before);

    log.mode = FailingLog::Fails;
    try {
        log.AppendLine(L"another line");
        ADD_FAILURE() << "a failed write passed";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.OsError(), static_cast<DWORD>(ERROR_DISK_FULL));
    }
    EXPECT_EQ(log.LineCount(), 1u);
    EXPECT_EQ(FileBytes(folder.File(L"TestParvel.log")), before);

    log.mode = FailingLog::Works;
    log.Write(Entry(2000, 1, L"COM1", L"next", L""));
    LogEntry e;
    ASSERT_EQ(log.GetEntry(1, e), 1);
    EXPECT_EQ(e.message, L"next");
}

TEST(TestLog, LinesThatDoNotFollowTheFormat)
{
    struct Row { const wchar_t* line; uint32_t time; int32_t level; const wchar_t* source; const wchar_t* message;
                 const wchar_t* data; };
    const Row rows[] = {
        {L"", 0, LogLevelUnknown, L"", L"", L""},
        {L"short line", 0, LogLevelUnknown, L"", L"", L""},
        {L"a line without any bracket at all", 0, LogLevelUnknown, L"", L"", L""},
        {L"xx:02:03.004 [W COM3] m | d", 0, LogLevelUnknown, L"", L"", L""},
        {L"01:02:03.004 [W COM3 m | d and more text", 0, LogLevelUnknown, L"", L"", L""},
        {L"01:02:03.004 [X COM3] m | d\r\n", 3723004, LogLevelUnknown, L"COM3", L"m", L"d"},
        {L"01:02:03.004 [w COM3] m", 3723004, LogLevelWarning, L"COM3", L"m", L""},
        {L"01:02:03.004 [WCOM3] message only", 3723004, LogLevelWarning, L"", L"message only", L""},
        {L"1:2:3.4 [E  COM3] a \\q b | \\n\\", 3723004, LogLevelError, L" COM3", L"a  b", L"\n"},
    };
    for (const Row& row : rows) {
        LogEntry e;
        CTestLog::ParseEntry(row.line, e);
        EXPECT_EQ(e.time, row.time) << WideToAnsi(row.line);
        EXPECT_EQ(e.level, row.level) << WideToAnsi(row.line);
        EXPECT_EQ(e.source, row.source) << WideToAnsi(row.line);
        EXPECT_EQ(e.message, row.message) << WideToAnsi(row.line);
        EXPECT_EQ(e.data, row.data) << WideToAnsi(row.line);
    }
}
