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

} // namespace
