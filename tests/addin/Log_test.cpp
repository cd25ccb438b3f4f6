// The component's log file: the header that starts it after load, after ClearLog and after
// switching the log on; the line format; the groups the log flags switch; whole lines from
// concurrent writers; and the cases in which nothing may be written.
#include "EventFixture.h"
#include "Handles.h"
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
    ASSERT_TRUE(DeleteFileW(LogPath().c_str()));
    ASSERT_TRUE(CreateDirectoryW(LogPath().c_str(), nullptr));
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"lost");
    const uint8_t bytes[] = {0x39, 0x30, 0x7B, 0x00, 0x00};
    KeyData key;
    key.Assign(bytes, 5);
    std::wstring text;
    object->OnTracksData(&reader, 1, key, text);
    EXPECT_EQ(Events().size(), 1u) << "the component goes on working";
    ASSERT_TRUE(RemoveDirectoryW(LogPath().c_str()));
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"after");
    const auto lines = Lines(LogText());
    ASSERT_EQ(lines.size(), 1u) << LogText();
    EXPECT_EQ(CountHeaders(lines), 0u) << "the header is not repeated after lost lines";
    EXPECT_NE(lines[0].find("Error: after"), std::string::npos);
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
    growTo(limit - 100);
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"still below");
    EXPECT_GT(sizeOf(LogPath()), limit - 100) << "appended below the limit";
    EXPECT_EQ(0u, sizeOf(oldPath));

    growTo(limit);
    object->Log(&reader, LOG_LEVEL_INFO, 153, L"after the limit");
    EXPECT_EQ(limit, sizeOf(oldPath)) << "the full log was not renamed";
    auto lines = Lines(LogText());
    ASSERT_EQ(3u, lines.size()) << LogText();
    EXPECT_EQ(1u, CountHeaders(lines));
    EXPECT_NE(std::string::npos, lines[2].find("Error: after the limit"));
    DeleteFileW(oldPath.c_str());
}
