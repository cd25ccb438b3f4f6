// Remembered arguments fitted to a method, and the XML pages' colouring.
#include "MethodArgs.h"
#include "XmlSpans.h"
#include <gtest/gtest.h>

TEST(MethodArgs, FitToCountAndDefaults)
{
    // Never called before: the defaults become the values.
    MethodArguments args;
    std::vector<ArgumentDefault> defaults = {{0, L""}, {22, L"0x3C7A91E5B20D"}, {16, L"-1"}};
    EXPECT_TRUE(FitArguments(args, 3, defaults));
    ASSERT_EQ(3u, args.size());
    EXPECT_EQ(0, args[0].Type);
    EXPECT_EQ(22, args[1].Type);
    EXPECT_EQ(L"0x3C7A91E5B20D", args[1].Value);
    EXPECT_EQ(L"-1", args[2].Default);
    EXPECT_FALSE(FitArguments(args, 3, defaults)); // nothing new

    // An edited value stays when the default changes; an unedited one follows it.
    args[1].Value = L"0xFFFFFFFFFFFF";
    args[2].Type = 0;
    args[2].Value.clear();
    defaults[1].text = L"0x000000000000";
    defaults[2].text = L"5";
    EXPECT_TRUE(FitArguments(args, 3, defaults));
    EXPECT_EQ(L"0xFFFFFFFFFFFF", args[1].Value);
    EXPECT_EQ(L"0x000000000000", args[1].Default);
    EXPECT_EQ(16, args[2].Type);
    EXPECT_EQ(L"5", args[2].Value);

    // A parameter count that changed resizes the list.
    EXPECT_TRUE(FitArguments(args, 1, defaults));
    EXPECT_EQ(1u, args.size());
    EXPECT_TRUE(FitArguments(args, 4, {}));
    EXPECT_EQ(4u, args.size());
    EXPECT_EQ(0, args[3].Type);
}

TEST(XmlSpans, BracketsRedNamesBlue)
{
    const std::wstring text = L"<a x=\"1\"/><b>t</b>";
    std::vector<XmlSpan> spans = XmlTagSpans(text);
    std::wstring red, blue;
    for (const XmlSpan& s : spans)
        (s.name ? blue : red) += text.substr(s.start, s.length) + L" ";
    EXPECT_EQ(L"< /> < > </ > ", red);
    EXPECT_EQ(L"a b b ", blue);
    EXPECT_TRUE(XmlTagSpans(L"no tags").empty());
    spans = XmlTagSpans(L"text <open");
    ASSERT_EQ(2u, spans.size()); // an unclosed tag: its bracket and name, nothing beyond
    EXPECT_EQ(5u, spans[0].start);
}
