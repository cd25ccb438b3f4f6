// The program with its help files in place: the Help button shows, Help and F1 ask the viewer for
// the current page's topic (its context number) in the system language's file, and the viewer goes
// to that page's own topic for every page's number in both files.
#include "AppFixture.h"
#include "AppResource.h"
#include "HelpTopicRecorder.h"
#include "HtmlHelpRecorder.h"
#include <htmlhelp.h>
#include <memory>

#ifndef PARVEL_BUILT_HELP_FOLDER
#define PARVEL_BUILT_HELP_FOLDER ""
#endif

namespace {

const wchar_t* const kHelpFiles[] = {L"Parvel_ENU.chm", L"Parvel_RUS.chm"};

// What Help opens on each page, in tab order: the page's context number and its topic in the help
// file. Written out here rather than read from the program's table, so that a page given another
// page's number or topic there is seen.
struct PageTopic
{
    DWORD_PTR context;
    const wchar_t* topic;
};
const PageTopic kPageTopics[] = {
    {0x203B6, L"/page-main.htm"},  {0x203B7, L"/page-formats.htm"}, {0x203B8, L"/page-readkeys.htm"},
    {0x203B9, L"/page-sound.htm"}, {0x203BA, L"/page-advanced.htm"}, {0x203BB, L"/page-test.htm"},
};
// A number below the first page's, which the help files do not map.
const DWORD_PTR kUnmappedContext = 0x203B5;

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
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        m_oleStarted = true;
        m_topics.reset(new CHelpTopicRecorder);
        ASSERT_TRUE(m_topics->Ok());
        CHelpTopicRecorder::Visited().clear();
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
        m_topics.reset();
        if (m_oleStarted)
            OleUninitialize();
    }

    // The file the program must open: the system language's, else the Russian one.
    std::wstring ExpectedFile() const
    {
        std::wstring own = Folder().File((L"Languages\\" + SystemLanguageHelpFile()).c_str());
        if (GetFileAttributesW(own.c_str()) != INVALID_FILE_ATTRIBUTES)
            return own;
        return Folder().File(L"Languages\\Parvel_RUS.chm");
    }

    // The one call the last action made: the page's number, in the right file, with a window, and
    // the viewer went to the page's own topic in that file.
    void ExpectTopicOfPage(int page)
    {
        const auto& calls = RecordedHelpCalls();
        ASSERT_FALSE(calls.empty()) << "page " << page << ": no help was asked for";
        const HelpCall& last = calls.back();
        EXPECT_EQ(static_cast<UINT>(HH_HELP_CONTEXT), last.command) << "page " << page;
        EXPECT_EQ(kPageTopics[page].context, last.data) << "page " << page;
        EXPECT_EQ(ExpectedFile(), last.file) << "page " << page;
        EXPECT_TRUE(last.window && IsWindow(last.window)) << "page " << page << ": the viewer opened no window";
        ExpectVisited(ExpectedFile(), kPageTopics[page].topic);
    }

    // The topic the viewer went to last (a browser may go there only once its loop runs).
    static void ExpectVisited(const std::wstring& file, const std::wstring& topic)
    {
        auto& visited = CHelpTopicRecorder::Visited();
        for (int i = 0; i < 100 && visited.empty(); ++i) {
            PumpMessages();
            Sleep(20);
        }
        ASSERT_FALSE(visited.empty()) << "the viewer went to no topic of " << testing::PrintToString(file);
        EXPECT_EQ(0, _wcsicmp(file.c_str(), visited.back().file.c_str()))
            << testing::PrintToString(visited.back().file);
        EXPECT_EQ(topic, visited.back().topic) << "in " << testing::PrintToString(file);
        visited.clear();
    }

private:
    bool m_oleStarted = false;
    std::unique_ptr<CHelpTopicRecorder> m_topics;
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
        CHelpTopicRecorder::Visited().clear();
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
        CHelpTopicRecorder::Visited().clear();
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

TEST_F(Help, TheViewerOpensEveryPagesTopicInBothFiles)
{
    for (const wchar_t* name : kHelpFiles)
    {
        const std::wstring file = Folder().File((std::wstring(L"Languages\\") + name).c_str());
        // A number the file does not map opens nothing, so the windows below come from the map.
        EXPECT_EQ(nullptr, RealHtmlHelp(nullptr, file.c_str(), HH_HELP_CONTEXT, kUnmappedContext));
        // The viewer keeps its window for the file and moves it to each topic in turn.
        for (const PageTopic& page : kPageTopics)
        {
            CHelpTopicRecorder::Visited().clear();
            HWND window = RealHtmlHelp(nullptr, file.c_str(), HH_HELP_CONTEXT, page.context);
            EXPECT_TRUE(window && IsWindow(window)) << "no help window for " << page.context << " in this file";
            ExpectVisited(file, page.topic);
        }
        RealHtmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0);
        PumpMessages();
    }
}
