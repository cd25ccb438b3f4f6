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

namespace {

const NumberType I4 = NumberTypeOf(VTYPE_I4);
const NumberType UI4 = NumberTypeOf(VTYPE_UI4);
const NumberType I8 = NumberTypeOf(VTYPE_I8);
const NumberType UI8 = NumberTypeOf(VTYPE_UI8);

} // namespace

TEST(NumberText, ThirtyTwoBitsInBothModes)
{
    uint64_t v = 0;
    EXPECT_TRUE(ParseTypedNumber(L"0x10", true, UI4, v));
    EXPECT_EQ(16u, v);
    EXPECT_TRUE(ParseTypedNumber(L"ff", true, UI4, v));
    EXPECT_EQ(255u, v);
    EXPECT_TRUE(ParseTypedNumber(L"-1", false, UI4, v));
    EXPECT_EQ(0xFFFFFFFFu, v);
    EXPECT_TRUE(ParseTypedNumber(L"4294967295", false, UI4, v));
    EXPECT_EQ(0xFFFFFFFFu, v);
    EXPECT_TRUE(ParseTypedNumber(L"-2147483648", false, UI4, v));
    EXPECT_EQ(0x80000000u, v);
    EXPECT_TRUE(ParseTypedNumber(L" 42 ", false, UI4, v));
    EXPECT_EQ(42u, v);
    EXPECT_TRUE(ParseTypedNumber(L"0x80004005", true, NumberTypeOf(VTYPE_HRESULT), v));
    EXPECT_EQ(0x80004005u, v);
    // Not numbers, or too wide: refused, the value stays.
    v = 7;
    for (const wchar_t* bad : {L"", L"abc", L"12abc", L"0x", L"4294967296", L"-2147483649", L"1 2"})
        EXPECT_FALSE(ParseTypedNumber(bad, false, UI4, v)) << bad;
    for (const wchar_t* bad : {L"0xG", L"123456789", L"-1"})
        EXPECT_FALSE(ParseTypedNumber(bad, true, UI4, v)) << bad;
    EXPECT_EQ(7u, v);

    EXPECT_EQ(L"0x0000001F", FormatNumber32(31, true));
    EXPECT_EQ(L"-1", FormatNumber32(0xFFFFFFFF, false));
}

TEST(NumberText, SixtyFourBitsInBothModes)
{
    uint64_t v = 0;
    EXPECT_TRUE(ParseTypedNumber(L"-9223372036854775808", false, UI8, v));
    EXPECT_EQ(0x8000000000000000ull, v);
    EXPECT_TRUE(ParseTypedNumber(L"18446744073709551615", false, UI8, v));
    EXPECT_EQ(~0ull, v);
    EXPECT_TRUE(ParseTypedNumber(L"0xFFFFFFFFFFFFFFFF", true, UI8, v));
    EXPECT_EQ(~0ull, v);
    EXPECT_FALSE(ParseTypedNumber(L"0x1FFFFFFFFFFFFFFFF", true, UI8, v));
    EXPECT_FALSE(ParseTypedNumber(L"18446744073709551616", false, UI8, v));
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
    EXPECT_TRUE(ArgNumberFromEditor(VTYPE_UI4, L"0xFFFFFFFF", hex, flipped, value));
    EXPECT_FALSE(flipped);
    EXPECT_EQ(L"-1", value);

    // Typing 0x1F in decimal mode switches to hexadecimal and stores 31.
    hex = false;
    EXPECT_TRUE(ArgNumberFromEditor(VTYPE_I4, L"0x1F", hex, flipped, value));
    EXPECT_TRUE(hex);
    EXPECT_TRUE(flipped);
    EXPECT_EQ(L"31", value);

    // A text that is no number of the type is refused and leaves the value, in both modes; the
    // mode still follows the text.
    EXPECT_FALSE(ArgNumberFromEditor(VTYPE_I4, L"twelve", hex, flipped, value));
    EXPECT_FALSE(hex);
    EXPECT_EQ(L"31", value);
    EXPECT_FALSE(ArgNumberFromEditor(VTYPE_I8, L"0xZZ", hex, flipped, value));
    EXPECT_TRUE(hex);
    EXPECT_EQ(L"31", value);
    EXPECT_TRUE(ArgNumberFromEditor(VTYPE_I8, L"-9223372036854775808", hex, flipped, value));
    EXPECT_EQ(L"-9223372036854775808", value);
}

// Each type's own range: a signed type's decimal stops at its largest value, where the unsigned
// one of its width goes on; hexadecimal takes every bit pattern of the width.
TEST(ArgumentEditor, EachTypeTakesItsOwnRange)
{
    struct Case
    {
        uint16_t type;
        const wchar_t* text;
        const wchar_t* stored; // nullptr: refused
    };
    const Case cases[] = {
        {VTYPE_I4, L"2147483647", L"2147483647"},
        {VTYPE_I4, L"-2147483648", L"-2147483648"},
        {VTYPE_I4, L"2147483648", nullptr},
        {VTYPE_I4, L"4294967295", nullptr},
        {VTYPE_I4, L"99999999999", nullptr},
        {VTYPE_I4, L"0xFFFFFFFF", L"-1"},
        {VTYPE_UI4, L"4294967295", L"-1"},
        {VTYPE_UI4, L"-1", L"-1"},
        {VTYPE_UI4, L"99999999999", nullptr},
        {VTYPE_UI4, L"0x100000000", nullptr},
        {VTYPE_HRESULT, L"0x80004005", L"-2147467259"},
        {VTYPE_HRESULT, L"2147500037", L"-2147467259"},
        {VTYPE_I8, L"9223372036854775807", L"9223372036854775807"},
        {VTYPE_I8, L"9223372036854775808", nullptr},
        {VTYPE_I8, L"99999999999", L"99999999999"},
        {VTYPE_UI8, L"18446744073709551615", L"-1"},
        {VTYPE_UI8, L"18446744073709551616", nullptr},
        {VTYPE_UI8, L"12abc", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)) + " as type " + std::to_string(c.type));
        bool hex = false, flipped = false;
        std::wstring value = L"old";
        EXPECT_EQ(c.stored != nullptr, ArgNumberFromEditor(c.type, c.text, hex, flipped, value));
        EXPECT_EQ(c.stored ? c.stored : L"old", value);
    }
}

TEST(NumberText, ARefusalNamesTheRangeOfTheType)
{
    struct Case
    {
        NumberType type;
        const wchar_t* min;
        const wchar_t* max;
    };
    for (const Case& c : {Case{I4, L"-2147483648", L"2147483647"}, Case{UI4, L"0", L"4294967295"},
                          Case{I8, L"-9223372036854775808", L"9223372036854775807"},
                          Case{UI8, L"0", L"18446744073709551615"}}) {
        std::wstring min, max;
        NumberTypeRange(c.type, min, max);
        EXPECT_EQ(c.min, min);
        EXPECT_EQ(c.max, max);
    }
}

TEST(NumberText, APropertysTypeBoundsItsDecimalRange)
{
    uint64_t v = 7;
    // An I4 in decimal stays within its own range; in hexadecimal it is any 32 bits.
    EXPECT_FALSE(ParseTypedNumber(L"2147483648", false, I4, v));
    EXPECT_FALSE(ParseTypedNumber(L"4294967295", false, I4, v));
    EXPECT_FALSE(ParseTypedNumber(L"99999999999", false, I4, v));
    EXPECT_EQ(7u, v);
    EXPECT_TRUE(ParseTypedNumber(L"-2147483648", false, I4, v));
    EXPECT_EQ(0x80000000u, v);
    EXPECT_TRUE(ParseTypedNumber(L"0xFFFFFFFF", true, I4, v));
    EXPECT_EQ(0xFFFFFFFFu, v);
    // A UI4 takes back the signed decimal the editor shows for it, and its whole unsigned range.
    EXPECT_TRUE(ParseTypedNumber(L"-1", false, UI4, v));
    EXPECT_EQ(0xFFFFFFFFu, v);
    EXPECT_TRUE(ParseTypedNumber(L"4294967295", false, UI4, v));
    EXPECT_FALSE(ParseTypedNumber(L"4294967296", false, UI4, v));
}
