// The program with its help files in place: the Help button shows, Help and F1 ask the viewer for
// the current page's topic (the context number of the help-id table) in the system language's
// file, and the viewer opens a window for every page's number in both files.
#include "AppFixture.h"
#include "AppResource.h"
#include "HelpIds.h"
#include "HtmlHelpRecorder.h"
#include <htmlhelp.h>

#ifndef PARVEL_BUILT_HELP_FOLDER
#define PARVEL_BUILT_HELP_FOLDER ""
#endif

namespace {

const wchar_t* const kHelpFiles[] = {L"Parvel_ENU.chm", L"Parvel_RUS.chm"};

std::wstring BuiltHelpFolder()
{
    std::string narrow = PARVEL_BUILT_HELP_FOLDER;
    std::wstring folder(narrow.begin(), narrow.end());
    for (wchar_t& c : folder)
        if (c == L'/')
            c = L'\\';
    return folder;
}

bool HelpWasBuilt()
{
    const std::wstring folder = BuiltHelpFolder();
    if (folder.empty())
        return false;
    for (const wchar_t* name : kHelpFiles)
    {
        DWORD attributes = GetFileAttributesW((folder + L"\\" + name).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return false;
    }
    return true;
}

std::wstring SystemLanguageHelpFile()
{
    wchar_t language[16] = {};
    GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_SABBREVLANGNAME, language, 16);
    return std::wstring(L"Parvel_") + language + L".chm";
}

class Help : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        if (!HelpWasBuilt())
            GTEST_SKIP() << "the help files were not built (chmcmd missing?)";
        ASSERT_TRUE(CreateDirectoryW(Folder().File(L"Languages").c_str(), nullptr));
        for (const wchar_t* name : kHelpFiles)
            ASSERT_TRUE(CopyFileW((BuiltHelpFolder() + L"\\" + name).c_str(),
                                  Folder().File((std::wstring(L"Languages\\") + name).c_str()).c_str(), FALSE));
        RecordedHelpCalls().clear();
    }
    void TearDown() override
    {
        AppFixture::TearDown();
        RealHtmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0);
        PumpMessages();
    }

    // The file the program must open: the system language's, else the Russian one.
    std::wstring ExpectedFile() const
    {
        std::wstring own = Folder().File((L"Languages\\" + SystemLanguageHelpFile()).c_str());
        if (GetFileAttributesW(own.c_str()) != INVALID_FILE_ATTRIBUTES)
            return own;
        return Folder().File(L"Languages\\Parvel_RUS.chm");
    }

    // The one call the last action made: the page's topic, in the right file, with a window.
    void ExpectTopicOfPage(int page)
    {
        const auto& calls = RecordedHelpCalls();
        ASSERT_FALSE(calls.empty()) << "page " << page << ": no help was asked for";
        const HelpCall& last = calls.back();
        EXPECT_EQ(static_cast<UINT>(HH_HELP_CONTEXT), last.command) << "page " << page;
        EXPECT_EQ(static_cast<DWORD_PTR>(HELP_CONTEXT_BASE + kPageHelpIds[page]), last.data) << "page " << page;
        EXPECT_EQ(ExpectedFile(), last.file) << "page " << page;
        EXPECT_TRUE(last.window && IsWindow(last.window)) << "page " << page << ": the viewer opened no window";
    }
};

} // namespace

TEST_F(Help, HelpButtonShowsAndOpensEachPagesTopic)
{
    StartApp();
    EXPECT_TRUE(IsWindowVisible(App().GetButton(2)));
    std::wstring file;
    ASSERT_TRUE(App().GetHelpFile(file));
    EXPECT_EQ(ExpectedFile(), file);
    // The two systems the help is written for get their own file.
    const LANGID system = LOWORD(GetSystemDefaultLCID());
    if (system == 1049)
    {
        EXPECT_EQ(Folder().File(L"Languages\\Parvel_RUS.chm"), file);
    }
    else if (system == 1033)
    {
        EXPECT_EQ(Folder().File(L"Languages\\Parvel_ENU.chm"), file);
    }
    for (int page = 0; page < CConfigParvelApp::PageCount; ++page)
    {
        ClickTab(page);
        ASSERT_EQ(page, App().GetCurrentPage());
        RecordedHelpCalls().clear();
        ClickCommand(ID_APP_HELP);
        ExpectTopicOfPage(page);
    }
}

TEST_F(Help, F1OnAPageControlOpensThatPagesTopic)
{
    StartApp();
    for (int page = 0; page < CConfigParvelApp::PageCount; ++page)
    {
        ClickTab(page);
        HWND pageWindow = App().GetPage(page)->GetHwnd();
        HWND control = GetNextDlgTabItem(pageWindow, nullptr, FALSE);
        ASSERT_TRUE(control != nullptr) << "page " << page << " has no control to focus";
        SetForegroundWindow(MainWindow());
        SetFocus(control);
        PumpMessages(&App());
        RecordedHelpCalls().clear();
        // The key as a user presses it: system input, through the program's own message loop.
        INPUT keys[2] = {};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_F1;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        ASSERT_EQ(2u, SendInput(2, keys, sizeof(INPUT)));
        for (int i = 0; i < 50 && RecordedHelpCalls().empty(); ++i)
        {
            PumpMessages(&App());
            Sleep(20);
        }
        ExpectTopicOfPage(page);
    }
}

TEST_F(Help, TheViewerOpensEveryPagesNumberInBothFiles)
{
    for (const wchar_t* name : kHelpFiles)
    {
        const std::wstring file = Folder().File((std::wstring(L"Languages\\") + name).c_str());
        // A number the file does not map opens nothing, so the windows below come from the map.
        EXPECT_EQ(nullptr, RealHtmlHelp(nullptr, file.c_str(), HH_HELP_CONTEXT, HELP_CONTEXT_BASE + 949));
        // The viewer keeps its window for the file and moves it to each topic in turn.
        for (int id : kPageHelpIds)
        {
            HWND window = RealHtmlHelp(nullptr, file.c_str(), HH_HELP_CONTEXT, HELP_CONTEXT_BASE + id);
            EXPECT_TRUE(window && IsWindow(window)) << "no help window for " << id << " in this file";
            PumpMessages();
        }
        RealHtmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0);
        PumpMessages();
    }
}
