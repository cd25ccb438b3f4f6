// The search dialog's result lines, step decisions and error texts.
#include "SearchOutput.h"
#include "MethodText.h"
#include "ModuleState.h"
#include "Models.h"
#include <gtest/gtest.h>

namespace {
bool English() { return PRIMARYLANGID(LANGIDFROMLCID(MessageLcid)) == LANG_ENGLISH; }
bool Russian() { return PRIMARYLANGID(LANGIDFROMLCID(MessageLcid)) == LANG_RUSSIAN; }
} // namespace

TEST(SearchOutput, FoundReaderLines)
{
    if (!English())
        GTEST_SKIP() << "English texts";
    EXPECT_EQ(L"COM5 - Kora USB MF s/n 42 v2.1\r\n", FoundReaderLine(L"COM5", 3, 42, PackFirmwareVersion(2, 1)));
    EXPECT_EQ(L"127.0.0.1:4001 - Lintra Net s/n 7\r\n", FoundReaderLine(L"127.0.0.1:4001", 4, 7, 0));
    // A model outside 1-9 is shown as unknown.
    EXPECT_EQ(L"COM1 - ? s/n 0\r\n", FoundReaderLine(L"COM1", 0, 0, 0));
    EXPECT_EQ(L"COM1 - ? s/n -1\r\n", FoundReaderLine(L"COM1", 12, -1, 0));
}

TEST(SearchOutput, RussianSerialNumberText)
{
    if (!Russian())
        GTEST_SKIP() << "Russian texts";
    EXPECT_EQ(L"COM5 - Kora USB с/н 42\r\n", FoundReaderLine(L"COM5", 1, 42, 0));
}

TEST(SearchOutput, WhichCodesGoOnOrStop)
{
    EXPECT_EQ(SearchStepEnd::Wait, SearchStepEndFor(static_cast<int32_t>(0x80040230)));
    EXPECT_EQ(SearchStepEnd::Finished, SearchStepEndFor(static_cast<int32_t>(0x80040231)));
    for (uint32_t code : {0u, 0x80040232u, 0x80004005u, 0x80070005u, 0x80040210u})
        EXPECT_EQ(SearchStepEnd::FailedAndStop, SearchStepEndFor(static_cast<int32_t>(code))) << std::hex << code;
}

TEST(SearchOutput, ErrorTextsLoseTheirLineBreaksForDisplay)
{
    EXPECT_EQ(L"Port busy.", TrimLineBreaks(L"Port busy.\r\n"));
    EXPECT_EQ(L"Port busy.", TrimLineBreaks(L"Port busy.\n\r\n"));
    EXPECT_EQ(L"two\r\nlines", TrimLineBreaks(L"two\r\nlines\r\n"));
    EXPECT_EQ(L"", TrimLineBreaks(L"\r\n"));
    EXPECT_EQ(L"plain", TrimLineBreaks(L"plain"));
    EXPECT_EQ(L"Failed to execute method \"Open\". Port busy.",
              ErrorTextForOutput("Failed to execute method \"Open\". Port busy.\r\n"));
    EXPECT_EQ(L"", ErrorTextForOutput(nullptr));
}
