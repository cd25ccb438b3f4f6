// Pins of the text utilities: formatting conventions, number parsing, versions, escapes,
// code pages and paths.
#include "CodePage.h"
#include "Numbers.h"
#include "Paths.h"
#include "TestFolder.h"
#include "Unescape.h"
#include "WFormat.h"
#include <gtest/gtest.h>
#include <vector>
#include <thread>
#include <atomic>

TEST(WFormat, MicrosoftWideConventions)
{
    std::wstring out;
    FormatString(out, L"%s|%S|%c|%C|%d|%u|%x|%I64d|%.3u", L"wide", "narrow", L'w', 'n', -5, 7u, 255u,
                 static_cast<long long>(-9000000000LL), 5u);
    EXPECT_EQ(L"wide|narrow|w|n|-5|7|ff|-9000000000|005", out);
}

TEST(WFormat, LongTextsAreFormattedWhole)
{
    // A text of 256 characters and more used to come out empty.
    for (size_t n : {255u, 256u, 1000u, 70000u}) {
        std::wstring arg(n, L'x');
        std::wstring out;
        EXPECT_EQ(static_cast<int>(n + 2), FormatString(out, L"<%s>", arg.c_str()));
        EXPECT_EQ(L"<" + arg + L">", out);
    }
}

TEST(WFormat, Append)
{
    std::wstring out = L"ab";
    EXPECT_EQ(3, AppendFormat(out, L"%d", 5));
    EXPECT_EQ(L"ab5", out);
    std::wstring big(600, L'y');
    AppendFormat(out, L"%s", big.c_str());
    EXPECT_EQ(L"ab5" + big, out);
    // A format that cannot be formatted appends nothing.
    out = L"ab";
    EXPECT_EQ(2, AppendFormatV(out, nullptr, nullptr));
    EXPECT_EQ(L"ab", out);
}

TEST(Numbers, ParseWithDefaults)
{
    struct Row { const wchar_t* text; uint32_t def; uint32_t hex; int32_t dec; };
    const Row rows[] = {
        {L"", 7, 7, 7},      {L"0", 7, 0, 0},         {L"zz", 7, 7, 7},    {L"1A", 7, 26, 1},
        {L"0x1f", 7, 31, 0}, {L"  12", 7, 0x12, 12},  {L"-3", 7, 0xFFFFFFFDu, -3}, {L"7ffff", 0, 0x7FFFF, 7},
        {L"42abc", 9, 0x42ABC, 42},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.hex, ParseHex32(r.text, r.def)) << r.text;
        EXPECT_EQ(r.dec, ParseInt10(r.text, static_cast<int32_t>(r.def))) << r.text;
    }
    EXPECT_EQ(0x3C7A91E5B20Dull, ParseHex64(L"3c7a91e5b20d", 1));
    EXPECT_EQ(5ull, ParseHex64(L"", 5));
    EXPECT_EQ(0ull, ParseHex64(L"0", 5));

    DWORD v = 99;
    EXPECT_TRUE(ParseUInt10(L"0", v));
    EXPECT_EQ(0u, v);
    EXPECT_FALSE(ParseUInt10(L"x", v));
    EXPECT_TRUE(ParseUInt10(L"115200", v));
    EXPECT_EQ(115200u, v);
}

TEST(Numbers, HexDigits)
{
    const wchar_t* digits = L"0123456789abcdefABCDEF";
    const int values[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
    for (int i = 0; digits[i]; ++i)
        EXPECT_EQ(values[i], HexDigitValue(digits[i])) << static_cast<char>(digits[i]);
    // Neighbours of the digit ranges, a full-width digit and a byte above 127 read as a char.
    for (wchar_t c : {L'/', L':', L'@', L'G', L'`', L'g', L' ', L'\0', L'\xFF10', static_cast<wchar_t>(0xFFC3)})
        EXPECT_EQ(-1, HexDigitValue(c)) << static_cast<unsigned>(c);
}

TEST(Numbers, DecimalTexts)
{
    std::wstring s;
    UIntToWString(s, static_cast<int32_t>(0x80000000u));
    EXPECT_EQ(L"-2147483648", s);
    Int64ToWString(s, -1234567890123LL);
    EXPECT_EQ(L"-1234567890123", s);
    ULongToWString(s, 0xFFFFFFFFu);
    EXPECT_EQ(L"4294967295", s);
}

TEST(Numbers, VersionTexts)
{
    struct Row { uint32_t version; const wchar_t* text; };
    const Row rows[] = {
        {0, L""},
        {0x000012FF, L"18"},
        {0x00000001, L"1"},
        {0x01000001, L"1.0.0.1"},
        {0x00000701, L"1.7"},
        {0x01020701, L"1.7.2.1"},
        {0x00010001, L"1.0.1"},
    };
    for (const Row& r : rows) {
        std::wstring s = L"junk";
        VersionToText(s, r.version);
        EXPECT_EQ(r.text, s) << std::hex << r.version;
    }
}

TEST(Numbers, FileVersionOfSystemAndMissingFiles)
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_NE(0u, GetFileVersion((std::wstring(system) + L"\\kernel32.dll").c_str()));
    EXPECT_EQ(0u, GetFileVersion(L"C:\\no\\such\\file.dll"));
}

TEST(Unescape, TemplateEscapes)
{
    struct Row { const wchar_t* in; std::wstring out; };
    const Row rows[] = {
        {L"%.3u\\x2C%.5u", L"%.3u,%.5u"},
        {L"\\#065", L"A"},
        {L"\\x0041B", L"AB"},
        {L"\\$41", L"A"},
        {L"\\q", L"q"},
        {L"\\101", L"A"},
        {L"ab\\", L"ab"},
        {L"\\9", L"9"},
        {L"\\8x", L"8x"},
        {L"\\n\\r\\t", L"\n\r\t"},
        {L"\\\"\\'\\?\\\\", L"\"'?\\"},
        {L"a\\ab\\bc\\fd\\ve", L"abcde"},
        {L"\\#", L""},
        {L"\\x", L""},
        {L"\\xg", L"g"},
        {L"\\1234", L"S4"},
        {L"\\#1234", std::wstring(1, wchar_t(123)) + L"4"},
        {L"\\x12345", std::wstring(1, wchar_t(0x1234)) + L"5"},
        {L"\\0", std::wstring(1, L'\0')},
    };
    for (const Row& r : rows) {
        std::wstring out = L"junk";
        UnescapeCText(out, r.in);
        EXPECT_EQ(r.out, out) << r.in;
    }
}

TEST(CodePage, Conversions)
{
    std::wstring w;
    EXPECT_EQ(6, Utf8ToWide(w, "\xD0\x9F\xD1\x80\xD0\xB8" "abc", -1));
    EXPECT_EQ(L"Приabc", w);
    EXPECT_EQ(2, Utf8ToWide(w, "\xD0\x9F\xD1\x80\xD0\xB8", 4));
    EXPECT_EQ(L"Пр", w);
    std::string u;
    EXPECT_EQ(6, WideToUtf8(u, L"Пр-x", -1));
    EXPECT_EQ("\xD0\x9F\xD1\x80-x", u);
    EXPECT_EQ(0, Utf8ToWide(w, "", -1));
    EXPECT_TRUE(w.empty());

    std::string ansi;
    EXPECT_EQ(3, WideToAnsi(ansi, L"abc", -1));
    EXPECT_EQ("abc", ansi);
    EXPECT_EQ(3, AnsiToWide(w, "abc", 3));
    EXPECT_EQ(L"abc", w);
    // Every byte of the ANSI code page survives the round trip the reader lines take.
    std::string bytes;
    for (int c = 0x20; c < 0x7F; ++c)
        bytes += static_cast<char>(c);
    EXPECT_EQ(bytes, WideToAnsi(AnsiToWide(bytes)));
}

TEST(Paths, Helpers)
{
    EXPECT_EQ(L"D:\\Data\\", IncludeTrailingBackslash(L"D:\\Data"));
    std::wstring t = L"  a b  ";
    TrimSpaces(t);
    EXPECT_EQ(L"a b", t);
    t = L"\ta ";
    TrimSpaces(t);
    EXPECT_EQ(L"\ta", t);
    t = L"   ";
    TrimSpaces(t);
    EXPECT_EQ(L"", t);
    EXPECT_EQ(L"C:\\a", ExtractFolder(L"C:\\a\\b.xml"));
    EXPECT_EQ(L"", ExtractFolder(L"b.xml"));
}

// Two programs making the same new folder at once: the one that finds it made meanwhile succeeds.
TEST(Paths, ForceDirectoriesTakesAFolderMadeMeanwhileAsSuccess)
{
    TestFolder folder;
    const int threads = 8;
    for (int round = 0; round < 40; ++round) {
        const std::wstring deep = folder.Path() + L"\\r" + std::to_wstring(round) + L"\\a\\b\\c\\d";
        std::atomic<int> ready{0};
        std::atomic<int> failed{0};
        std::vector<std::thread> makers;
        for (int i = 0; i < threads; ++i) {
            makers.emplace_back([&] {
                ++ready;
                while (ready.load() < threads) {
                }
                if (!ForceDirectories(deep))
                    ++failed;
            });
        }
        for (auto& maker : makers)
            maker.join();
        ASSERT_EQ(0, failed.load()) << "round " << round;
        ASSERT_TRUE(DirectoryExists(deep));
    }
}

TEST(Paths, ForceDirectories)
{
    TestFolder folder;
    EXPECT_TRUE(ForceDirectories(L"C:"));
    EXPECT_TRUE(ForceDirectories(L"C:\\"));
    EXPECT_TRUE(ForceDirectories(L""));
    std::wstring deep = folder.Path() + L"\\a\\b\\c\\";
    EXPECT_TRUE(ForceDirectories(deep));
    EXPECT_TRUE(DirectoryExists(folder.Path() + L"\\a\\b\\c"));
    EXPECT_TRUE(ForceDirectories(deep)); // exists already

    // A file in the way: nothing is created below it.
    std::wstring file = folder.Path() + L"\\f";
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    CloseHandle(h);
    EXPECT_FALSE(ForceDirectories(file + L"\\x\\y"));
    EXPECT_FALSE(DirectoryExists(file + L"\\x"));
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(DirectoryExists(file));
}
