// Texts of key-type masks in the library list and the key-type dialogs.
#include "KeyTypeTexts.h"
#include <gtest/gtest.h>

TEST(KeyTypeTexts, MaskHex)
{
    EXPECT_EQ(MaskHexText(0), L"0000h");
    EXPECT_EQ(MaskHexText(4), L"0004h");
    EXPECT_EQ(MaskHexText(ALL_KEY_TYPES), L"7FFFFh");
}

TEST(KeyTypeTexts, LibraryColumn)
{
    EXPECT_EQ(FormatKeyTypesText(0), L"All");
    EXPECT_EQ(FormatKeyTypesText(ALL_KEY_TYPES), L"All");
    EXPECT_EQ(FormatKeyTypesText(ALL_KEY_TYPES | 0x80000000u), L"All"); // higher bits do not exist
    EXPECT_EQ(FormatKeyTypesText(2), L"Em-Marine");
    EXPECT_EQ(FormatKeyTypesText(1u << 18), L"Temic");
    EXPECT_EQ(FormatKeyTypesText(6), L"EM, HID");
    EXPECT_EQ(FormatKeyTypesText(0x60 | (1u << 20)), L"M1K, M4K");
}

TEST(KeyTypeTexts, GroupColumn)
{
    EXPECT_EQ(GroupKeyTypesText(0), L"All");
    EXPECT_EQ(GroupKeyTypesText(ALL_KEY_TYPES), L"All");
    EXPECT_EQ(GroupKeyTypesText(4), L"HID");
    EXPECT_EQ(GroupKeyTypesText(6), L"0006h: EM, HID");
    EXPECT_EQ(GroupKeyTypesText(0x1E000), L"1E000h: M+, M+1K, M+2K, M+4K");
}

TEST(KeyTypeTexts, NamesPastTheLastType)
{
    EXPECT_STREQ(KeyTypeShortName(0), L"X");
    EXPECT_STREQ(KeyTypeShortName(19), L"");
    EXPECT_EQ(KeyTypeLongName(0), L"Unknown");
    EXPECT_EQ(KeyTypeLongName(19), L"?");
}
