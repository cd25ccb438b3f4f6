// Numbers in the property and argument editors, in both modes.
#include "NumberText.h"
#include "MethodText.h"
#include <gtest/gtest.h>

TEST(NumberText, ModeComesFromTheText)
{
    EXPECT_TRUE(NumberTextIsHex(L"0x1F"));
    EXPECT_TRUE(NumberTextIsHex(L" 0X1f"));
    EXPECT_FALSE(NumberTextIsHex(L"1F"));
    EXPECT_FALSE(NumberTextIsHex(L"0"));
    EXPECT_FALSE(NumberTextIsHex(L""));
}

TEST(NumberText, ThirtyTwoBitsInBothModes)
{
    uint32_t v = 0;
    EXPECT_TRUE(ParseNumber32(L"0x10", true, v));
    EXPECT_EQ(16u, v);
    EXPECT_TRUE(ParseNumber32(L"ff", true, v));
    EXPECT_EQ(255u, v);
    EXPECT_TRUE(ParseNumber32(L"-1", false, v));
    EXPECT_EQ(0xFFFFFFFFu, v);
    EXPECT_TRUE(ParseNumber32(L"4294967295", false, v));
    EXPECT_EQ(0xFFFFFFFFu, v);
    EXPECT_TRUE(ParseNumber32(L"-2147483648", false, v));
    EXPECT_EQ(0x80000000u, v);
    EXPECT_TRUE(ParseNumber32(L" 42 ", false, v));
    EXPECT_EQ(42u, v);
    // Not numbers, or too wide: refused, the value stays.
    v = 7;
    for (const wchar_t* bad : {L"", L"abc", L"12abc", L"0x", L"4294967296", L"-2147483649", L"1 2"})
        EXPECT_FALSE(ParseNumber32(bad, false, v)) << bad;
    for (const wchar_t* bad : {L"0xG", L"123456789", L"-1"})
        EXPECT_FALSE(ParseNumber32(bad, true, v)) << bad;
    EXPECT_EQ(7u, v);

    EXPECT_EQ(L"0x0000001F", FormatNumber32(31, true));
    EXPECT_EQ(L"-1", FormatNumber32(0xFFFFFFFF, false));
}

TEST(NumberText, SixtyFourBitsInBothModes)
{
    uint64_t v = 0;
    EXPECT_TRUE(ParseNumber64(L"-9223372036854775808", false, v));
    EXPECT_EQ(0x8000000000000000ull, v);
    EXPECT_TRUE(ParseNumber64(L"18446744073709551615", false, v));
    EXPECT_EQ(~0ull, v);
    EXPECT_TRUE(ParseNumber64(L"0xFFFFFFFFFFFFFFFF", true, v));
    EXPECT_EQ(~0ull, v);
    EXPECT_FALSE(ParseNumber64(L"0x1FFFFFFFFFFFFFFFF", true, v));
    EXPECT_FALSE(ParseNumber64(L"18446744073709551616", false, v));
    EXPECT_EQ(L"0x000000FF", FormatNumber64(255, true)); // at least eight digits
    EXPECT_EQ(L"0x123456789", FormatNumber64(0x123456789ull, true));
    EXPECT_EQ(L"-5", FormatNumber64(static_cast<uint64_t>(-5), false));
}

TEST(ArgumentEditor, KindsByType)
{
    EXPECT_EQ(2, ArgEditorKind(3));  // I4
    EXPECT_EQ(2, ArgEditorKind(16)); // UI4
    EXPECT_EQ(2, ArgEditorKind(21)); // HRESULT
    EXPECT_EQ(1, ArgEditorKind(11)); // BOOL
    EXPECT_EQ(3, ArgEditorKind(17));
    EXPECT_EQ(3, ArgEditorKind(18));
    EXPECT_EQ(4, ArgEditorKind(22));
    EXPECT_EQ(4, ArgEditorKind(23));
    EXPECT_EQ(0, ArgEditorKind(0));
    EXPECT_EQ(0, ArgEditorKind(1));
}

TEST(ArgumentEditor, NumbersRoundTripThroughTheEditor)
{
    // A 32-bit argument of -1 shows its 32 bits in hexadecimal and reads back the same.
    EXPECT_EQ(L"0xFFFFFFFF", ArgNumberForEditor(2, L"-1", true));
    EXPECT_EQ(L"-1", ArgNumberForEditor(2, L"-1", false));
    EXPECT_EQ(L"0xFFFFFFFFFFFFFFFF", ArgNumberForEditor(3, L"-1", true));
    bool hex = true, flipped = false;
    std::wstring value = L"0";
    ArgNumberFromEditor(2, L"0xFFFFFFFF", hex, flipped, value);
    EXPECT_FALSE(flipped);
    EXPECT_EQ(L"-1", value);

    // Typing 0x1F in decimal mode switches to hexadecimal and stores 31.
    hex = false;
    ArgNumberFromEditor(2, L"0x1F", hex, flipped, value);
    EXPECT_TRUE(hex);
    EXPECT_TRUE(flipped);
    EXPECT_EQ(L"31", value);

    // A text that is not a number leaves the value, in both modes.
    ArgNumberFromEditor(2, L"twelve", hex, flipped, value);
    EXPECT_FALSE(hex);
    EXPECT_EQ(L"31", value);
    ArgNumberFromEditor(3, L"0xZZ", hex, flipped, value);
    EXPECT_TRUE(hex);
    EXPECT_EQ(L"31", value);
    ArgNumberFromEditor(3, L"-9223372036854775808", hex, flipped, value);
    EXPECT_EQ(L"-9223372036854775808", value);
}

TEST(NumberText, APropertysTypeBoundsItsDecimalRange)
{
    uint32_t v = 7;
    // An I4 in decimal stays within its own range; in hexadecimal it is any 32 bits.
    EXPECT_FALSE(ParseTypedNumber32(L"2147483648", false, true, v));
    EXPECT_FALSE(ParseTypedNumber32(L"4294967295", false, true, v));
    EXPECT_FALSE(ParseTypedNumber32(L"99999999999", false, true, v));
    EXPECT_EQ(7u, v);
    EXPECT_TRUE(ParseTypedNumber32(L"-2147483648", false, true, v));
    EXPECT_EQ(0x80000000u, v);
    EXPECT_TRUE(ParseTypedNumber32(L"0xFFFFFFFF", true, true, v));
    EXPECT_EQ(0xFFFFFFFFu, v);
    // A UI4 takes back the signed decimal the editor shows for it, and its whole unsigned range.
    EXPECT_TRUE(ParseTypedNumber32(L"-1", false, false, v));
    EXPECT_EQ(0xFFFFFFFFu, v);
    EXPECT_TRUE(ParseTypedNumber32(L"4294967295", false, false, v));
    EXPECT_FALSE(ParseTypedNumber32(L"4294967296", false, false, v));
}
