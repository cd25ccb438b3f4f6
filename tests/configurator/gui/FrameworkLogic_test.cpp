// Pure helpers of the framework: path order, file search and hexadecimal text.
#include "FileHelpers.h"
#include "Hex.h"
#include "TestFolder.h"
#include <gtest/gtest.h>
#include <algorithm>

TEST(PathLess, FoldersCaseInsensitiveAndSubfoldersFirst)
{
    struct Case { const wchar_t* a; const wchar_t* b; bool less; };
    const Case cases[] = {
        {L"D:\\M\\Sub\\a.wav", L"D:\\M\\b.wav", true},
        {L"D:\\M\\b.wav", L"D:\\M\\Sub\\a.wav", false},
        {L"d:\\m\\A.wav", L"D:\\M\\b.wav", true},
        {L"D:\\M\\b.wav", L"d:\\m\\A.wav", false},
        {L"D:\\M\\a.wav", L"D:\\M\\a.wav", false},
        {L"D:\\A\\z.wav", L"D:\\B\\a.wav", true},
        {L"D:\\Ab\\z.wav", L"D:\\A\\z.wav", false},
        {L"D:\\A\\z.wav", L"D:\\Ab\\z.wav", true},
        {L"a", L"B", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.less, PathLess(c.a, c.b)) << testing::PrintToString(std::wstring(c.a)) << " < "
                                              << testing::PrintToString(std::wstring(c.b));
}

TEST(FindFiles, TakesTheGivenExtensionsInEverySubfolder)
{
    TestFolder folder;
    CreateDirectoryW(folder.File(L"Sub").c_str(), nullptr);
    for (const wchar_t* name : {L"A.WAV", L"readme.txt", L"wav", L"Sub\\c.mid", L"Sub\\d.Mp3", L"b.wav"})
    {
        HANDLE h = CreateFileW(folder.File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        CloseHandle(h);
    }
    const wchar_t* const sounds[3] = {L".wav", L".mid", L".mp3"};
    std::vector<std::wstring> found;
    FindFiles(found, folder.Path(), sounds);
    std::sort(found.begin(), found.end(), PathLess);
    std::vector<std::wstring> expected = {folder.File(L"Sub\\c.mid"), folder.File(L"Sub\\d.Mp3"),
                                          folder.File(L"A.WAV"), folder.File(L"b.wav")};
    EXPECT_EQ(expected, found);
    found.clear();
    FindFiles(found, folder.Path(), nullptr);
    EXPECT_EQ(6u, found.size());
    found.clear();
    FindFiles(found, folder.File(L"missing"), sounds);
    EXPECT_TRUE(found.empty());
}

TEST(BytesToHex, CutsToTheBufferAndTerminates)
{
    const uint8_t bytes[] = {0x0A, 0xFF};
    wchar_t buffer[8];
    EXPECT_EQ(4, BytesToHex(bytes, 2, buffer, 5));
    EXPECT_STREQ(L"0AFF", buffer);
    EXPECT_EQ(3, BytesToHex(bytes, 2, buffer, 4));
    EXPECT_STREQ(L"0AF", buffer);
    EXPECT_EQ(0, BytesToHex(bytes, 2, buffer, 1));
    EXPECT_STREQ(L"", buffer);
    EXPECT_EQ(0, BytesToHex(bytes, 0, buffer, 8));
    EXPECT_STREQ(L"", buffer);
}
