// The settings record's defaults, its two groups, and the key-format list operations.
#include "Settings.h"
#include <gtest/gtest.h>

TEST(SettingsRecord, DefaultsAreTheDocumentedOnes)
{
    CParvelSettings s;
    EXPECT_EQ(s.Portname, L"Auto");
    EXPECT_EQ(s.Model, 0u);
    EXPECT_EQ(s.Speed, 0u);
    EXPECT_EQ(s.StopBits, 0u);
    EXPECT_EQ(s.Flags, 2u); // Wiegand off, binary protocol on, CorrectVM100 on
    EXPECT_EQ(s.Log, 0u);
    EXPECT_EQ(s.LogFlags, 7u);
    EXPECT_EQ(s.ConnectTimeout, 10000);
    EXPECT_EQ(s.ReqTimeout, 3000);
    EXPECT_EQ(s.ReqTries, 2);
    EXPECT_EQ(s.ConnectPeriod, 3000);
    EXPECT_EQ(s.RxPeriod, -1);
    EXPECT_EQ(s.Prefix, -1);
    EXPECT_EQ(s.Suffix, 13);
    EXPECT_EQ(s.LoadAtStartup, 0u);
    EXPECT_EQ(s.SearchFlags, 14u);
    EXPECT_EQ(s.FindIpTimeout, 3000u);
    EXPECT_EQ(s.FindIpTries, 1u);
    EXPECT_EQ(s.KeyTypes, 0x7FFFFu);
    EXPECT_EQ(s.ReadMf.Enabled, 0u);
    EXPECT_EQ(s.ReadMf.Sect, 0u);
    EXPECT_EQ(s.ReadMf.Block, 1u);
    EXPECT_EQ(s.ReadMf.Flags, 0u);
    EXPECT_EQ(s.ReadMf.Mask, 0xFFFFFFFFu);
    EXPECT_EQ(s.ReadMf.Passw, 0x3C7A91E5B20DULL);
    EXPECT_EQ(s.ReadUL.Enabled, 0u);
    EXPECT_EQ(s.ReadUL.Page, 4u);
    EXPECT_EQ(s.ReadUL.Count, 1u);
    EXPECT_EQ(s.SoundEnabled, 0u);
    for (const std::wstring& file : s.SoundFiles)
        EXPECT_TRUE(file.empty());
    EXPECT_TRUE(s.Formats.empty());

    CReaderSettings r;
    EXPECT_EQ(r.Portname, L"Auto");
    EXPECT_EQ(r.Model, 0u);
    EXPECT_EQ(r.Speed, 0u);
    EXPECT_EQ(r.StopBits, 0u);
    EXPECT_EQ(r.Flags, 2u);
    EXPECT_EQ(r.ConnectTimeout, 10000);
    EXPECT_EQ(r.ReqTimeout, 3000);
    EXPECT_EQ(r.ReqTries, 2);
    EXPECT_EQ(r.ConnectPeriod, 3000);
    EXPECT_EQ(r.RxPeriod, -1);
    EXPECT_EQ(r.Prefix, -1);
    EXPECT_EQ(r.Suffix, 13);

    KeyFormat f;
    EXPECT_TRUE(f.Name.empty() && f.Template.empty() && f.Params.empty() && f.Comment.empty());
    EXPECT_EQ(f.KeyTypes, 0u);
    EXPECT_EQ(f.KeySize, 0u);
}

namespace {

KeyFormat Format(const wchar_t* name, uint32_t keyTypes = 0)
{
    KeyFormat f;
    f.Name = name;
    f.KeyTypes = keyTypes;
    return f;
}

} // namespace

TEST(SettingsRecord, FindKeyFormatMatchesExactly)
{
    KeyFormatList list;
    AddKeyFormat(list, Format(L"HelmSaaS"));
    AddKeyFormat(list, Format(L""));
    AddKeyFormat(list, Format(L"Wiegand26"));
    AddKeyFormat(list, Format(L"HelmSaaS", 5)); // a duplicate: the first one wins
    AddKeyFormat(list, Format(L"\x0414\x0435\x0441"));

    struct Case
    {
        const wchar_t* name;
        int32_t index;
    };
    const Case cases[] = {
        {L"HelmSaaS", 0},
        {L"helmsaas", -1}, // case matters
        {L"HelmSaa", -1},  // so does length
        {L"HelmSaaS ", -1},
        {L"", 1},          // an empty name finds the first format with an empty name
        {L"Wiegand26", 2},
        {L"\x0414\x0435\x0441", 4},
        {L"\x0434\x0435\x0441", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindKeyFormat(list, c.name), c.index) << "name: " << testing::PrintToString(std::wstring(c.name));

    EXPECT_EQ(FindKeyFormat(KeyFormatList(), L""), -1);
}

TEST(SettingsRecord, ClearThenAddTwiceFindsTheFirst)
{
    KeyFormatList list{Format(L"A"), Format(L"B")};
    ClearKeyFormats(list);
    EXPECT_TRUE(list.empty());
    KeyFormat f = Format(L"Same", 3);
    AddKeyFormat(list, f);
    AddKeyFormat(list, f);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(FindKeyFormat(list, L"Same"), 0);
    EXPECT_EQ(list[1].KeyTypes, 3u); // a copy, not a reference to the caller's
}

TEST(SettingsRecord, ReaderSettingsAssignment)
{
    CReaderSettings a;
    a.Portname = L"COM12";
    a.Model = 4;
    a.Flags = 5;
    a.Suffix = 10;

    CReaderSettings& self = a;
    a = self;
    EXPECT_EQ(a.Portname, L"COM12");
    EXPECT_EQ(a.Model, 4u);

    CReaderSettings b;
    b = a;
    EXPECT_EQ(b.Portname, L"COM12");
    EXPECT_EQ(b.Model, 4u);
    EXPECT_EQ(b.Flags, 5u);
    EXPECT_EQ(b.Suffix, 10);
    EXPECT_EQ(b.ConnectTimeout, 10000);
}

TEST(SettingsRecord, GroupsReachEveryRecordBuiltFromThem)
{
    ConnectionSettings connection;
    connection.Portname = L"COM9";
    connection.ReqTries = 5;
    AddinOptions options;
    options.SearchFlags = 3;
    options.ReadUL.Page = 8;
    options.SoundFiles[2] = L"C:\\c.wav";

    CParvelSettings s;
    s.Formats.push_back(Format(L"A"));
    static_cast<ConnectionSettings&>(s) = connection;
    static_cast<AddinOptions&>(s) = options;
    EXPECT_EQ(s.Portname, L"COM9");
    EXPECT_EQ(s.ReqTries, 5);
    EXPECT_EQ(s.Suffix, 13);
    EXPECT_EQ(s.SearchFlags, 3u);
    EXPECT_EQ(s.ReadUL.Page, 8u);
    EXPECT_EQ(s.SoundFiles[2], L"C:\\c.wav");
    EXPECT_EQ(s.LogFlags, 7u);
    ASSERT_EQ(s.Formats.size(), 1u); // the format list is no group's

    CReaderSettings r;
    r.Model = 4;
    CopyConnectionValues(s, r);
    EXPECT_EQ(r.Portname, L"COM9");
    EXPECT_EQ(r.ReqTries, 5);
    EXPECT_EQ(r.Model, 0u);
}
