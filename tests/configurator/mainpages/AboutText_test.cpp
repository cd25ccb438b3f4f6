// The About box's date, version line and mail link.
#include "AboutText.h"
#include <gtest/gtest.h>
#include <clocale>

namespace {

TEST(AboutText, CompilerDatesOfEveryMonth)
{
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int m = 0; m < 12; ++m)
    {
        std::string text = std::string(months[m]) + "  9 2026";
        SYSTEMTIME date;
        ASSERT_TRUE(ParseBuildDate(text.c_str(), date)) << text;
        EXPECT_EQ(date.wMonth, m + 1);
        EXPECT_EQ(date.wDay, 9);
        EXPECT_EQ(date.wYear, 2026);
    }
    SYSTEMTIME date;
    EXPECT_TRUE(ParseBuildDate(__DATE__, date));
    for (const char* bad : {"", "Foo 1 2020", "anF 1 2020", "Jan", "Jan 1", "Janu 1 2020", "Jan 0 2020"})
        EXPECT_FALSE(ParseBuildDate(bad, date)) << bad;
}

TEST(AboutText, VersionLineAndMailLink)
{
    SYSTEMTIME date{};
    date.wYear = 2026;
    date.wMonth = 12;
    date.wDay = 9;
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(FormatBuildDate(date), L"12/09/26");
    EXPECT_EQ(AboutVersionText(L"1.7.2.1", L"12/09/26"), L"v1.7.2.1 (12/09/26)");
    EXPECT_EQ(AboutVersionText(L"", L""), L"v ()");
    EXPECT_EQ(AboutMailLink(L"parvel@corvane.example", L"1.7.2.1"),
              L"mailto:parvel@corvane.example?subject=Parvel%20v1.7.2.1");
}

} // namespace
