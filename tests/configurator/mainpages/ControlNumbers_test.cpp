// Numbers of the pages' edit boxes: every value of a field's range comes back, with or without
// the thousands separators an up-down control or a paste may put in.
#include "ControlNumbers.h"
#include <gtest/gtest.h>

namespace {

TEST(ControlNumbers, PlainTextsInBothForms)
{
    EXPECT_EQ(ParseControlNumber(L"0", true), 0);
    EXPECT_EQ(ParseControlNumber(L"-1", true), -1);
    EXPECT_EQ(ParseControlNumber(L"+25", true), 25);
    EXPECT_EQ(ParseControlNumber(L"  3000 ", true), 3000);
    EXPECT_EQ(ParseControlNumber(L"2147483647", true), 2147483647);
    EXPECT_EQ(ParseControlNumber(L"-2147483648", true), -2147483648LL);
    EXPECT_EQ(ParseControlNumber(L"4294967295", false), 4294967295LL);
}

TEST(ControlNumbers, ThousandsSeparatorsOfAnyLocale)
{
    EXPECT_EQ(ParseControlNumber(L"10,000", true), 10000);
    EXPECT_EQ(ParseControlNumber(L"10 000", true), 10000);
    EXPECT_EQ(ParseControlNumber(L"10\x00A0" L"000", false), 10000);
    EXPECT_EQ(ParseControlNumber(L"10\x202F" L"000", false), 10000);
    EXPECT_EQ(ParseControlNumber(L"10.000", true), 10000);
    EXPECT_EQ(ParseControlNumber(L"2,147,483,647", true), 2147483647);
    EXPECT_EQ(ParseControlNumber(L"-1,000", true), -1000);
}

TEST(ControlNumbers, TextsThatAreNoNumberReadAsZero)
{
    for (const wchar_t* text : {L"", L"  ", L"abc", L"12abc", L"1,23", L"12,3456", L"1,000,00", L"1,000 000",
                                L",100", L"100,", L"1.5", L"--1", L"- 1", L"0x10"})
        EXPECT_EQ(ParseControlNumber(text, true), 0) << text;
    // Out of the field's type: a signed field holds no 2^31, an unsigned one no sign and no 2^32.
    EXPECT_EQ(ParseControlNumber(L"2147483648", true), 0);
    EXPECT_EQ(ParseControlNumber(L"-2147483649", true), 0);
    EXPECT_EQ(ParseControlNumber(L"-1", false), 0);
    EXPECT_EQ(ParseControlNumber(L"4294967296", false), 0);
    EXPECT_EQ(ParseControlNumber(L"99999999999999999999", false), 0);
}

TEST(ControlNumbers, EveryRangeValueSurvivesTextAndGroupedText)
{
    // Walk the range -1 .. 2^31-1 with growing steps so that every digit count and group layout
    // is met, then the edges.
    auto grouped = [](int64_t v) {
        std::wstring digits = std::to_wstring(v < 0 ? -v : v), out;
        for (size_t i = 0; i < digits.size(); ++i)
        {
            if (i > 0 && (digits.size() - i) % 3 == 0)
                out += L',';
            out += digits[i];
        }
        return (v < 0 ? L"-" : L"") + out;
    };
    for (int64_t v = -1; v <= 2147483647; v = v < 100 ? v + 1 : v * 3 / 2 + 7)
    {
        ASSERT_EQ(ParseControlNumber(ControlNumberText(v), true), v);
        ASSERT_EQ(ParseControlNumber(grouped(v), true), v) << grouped(v);
        if (v >= 1)
        {
            ASSERT_EQ(ParseControlNumber(grouped(v), false), v);
        }
    }
    EXPECT_EQ(ParseControlNumber(grouped(2147483647), false), 2147483647);
}

TEST(ControlNumbers, RangedFieldsTellANumberOfTheirRangeFromAnythingElse)
{
    int64_t value = 7;
    EXPECT_TRUE(ReadControlNumber(L"1", 1, 2147483647, value));
    EXPECT_EQ(value, 1);
    EXPECT_TRUE(ReadControlNumber(L"2,147,483,647", 1, 2147483647, value));
    EXPECT_EQ(value, 2147483647);
    EXPECT_TRUE(ReadControlNumber(L"-1", -1, 2147483647, value));
    EXPECT_EQ(value, -1);
    EXPECT_TRUE(ReadControlNumber(L"0", 0, 65535, value));
    EXPECT_EQ(value, 0);
    // A text that is no number is refused, not read as 0 (0 is a number of these ranges).
    for (const wchar_t* text : {L"", L"abc", L"12a", L"99999999999", L"-2", L"65536"}) {
        value = 7;
        EXPECT_FALSE(ReadControlNumber(text, -1, 65535, value)) << text;
        EXPECT_EQ(value, 7) << "a refused text leaves the value";
    }
    EXPECT_FALSE(ReadControlNumber(L"0", 1, 2147483647, value));
    EXPECT_FALSE(ReadControlNumber(L"-5", 1, 2147483647, value));
    EXPECT_FALSE(ReadControlNumber(L"2147483648", -1, 2147483647, value));
}

} // namespace
