// The key-format dialog's window-free decisions.
#include "AppData.h"
#include "FormatDialogRes.h"
#include "FormatDialogRules.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>

TEST(FormatDialogRules, ErrorFields)
{
    EXPECT_EQ(FormatErrorField(static_cast<HRESULT>(0x80040236)), IDC_FORMAT_PARAMS);
    EXPECT_EQ(FormatErrorField(static_cast<HRESULT>(0x80040237)), IDC_FORMAT_TEMPLATE);
    EXPECT_EQ(FormatErrorField(static_cast<HRESULT>(0x80040238)), IDC_FORMAT_PARAMS);
    EXPECT_EQ(FormatErrorField(static_cast<HRESULT>(0x8004023D)), IDC_FORMAT_PARAMS);
    EXPECT_EQ(FormatErrorField(static_cast<HRESULT>(0x8004023E)), 0);
    EXPECT_EQ(FormatErrorField(E_FAIL), 0);
}

TEST(FormatDialogRules, TestEventsInBothLanguages)
{
    EXPECT_EQ(ClassifyTestEvent(L"TracksData"), TestEventKind::Key);
    EXPECT_EQ(ClassifyTestEvent(L"ДанныеКарты"), TestEventKind::Key);
    EXPECT_EQ(ClassifyTestEvent(L"DriverError"), TestEventKind::Error);
    EXPECT_EQ(ClassifyTestEvent(L"ОшибкаДрайвера"), TestEventKind::Error);
    EXPECT_EQ(ClassifyTestEvent(L"NoCard"), TestEventKind::Other);
}

TEST(FormatDialogRules, AddinMarkedWhenItsListChanges)
{
    EXPECT_EQ(FormatEditModified(false, false, false), DATA_LIBRARY);
    EXPECT_EQ(FormatEditModified(true, false, false), DATA_LIBRARY | DATA_ADDIN);
    EXPECT_EQ(FormatEditModified(false, true, false), DATA_LIBRARY | DATA_ADDIN);
    EXPECT_EQ(FormatEditModified(false, false, true), DATA_LIBRARY | DATA_ADDIN);
}

TEST(FormatDialogRules, TheTestFormatTakesAFreeName)
{
    std::vector<std::wstring> addin = {L"HelmSaaS"};
    const auto taken = [&](const std::wstring& name) {
        return std::find(addin.begin(), addin.end(), name) != addin.end();
    };
    EXPECT_EQ(FreeTestFormatName(L"FormatTemp", taken), L"FormatTemp");
    addin.push_back(L"FormatTemp");
    addin.push_back(L"FormatTemp1");
    EXPECT_EQ(FreeTestFormatName(L"FormatTemp", taken), L"FormatTemp2");
    EXPECT_EQ(FreeTestFormatName(L"FormatTemp", taken, 2), L"");
}
