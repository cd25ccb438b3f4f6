// The page table of the main window: each tab's page class and dialog template, in tab order.
#include "PageFactory.h"
#include "Exceptions.h"
#include "AdvancedPage.h"
#include "App.h"
#include "AppMessageBox.h"
#include "CodePage.h"
#include "AppResource.h"
#include "FormatsPage.h"
#include "MainPage.h"
#include "ReadKeysPage.h"
#include "SoundPage.h"
#include "TestPage.h"

namespace {

template <class Page>
CAppPage* MakePage(CConfigParvelApp&)
{
    return new Page;
}

// The test page gets what the test bench uses of the program: its data, the test host and the test
// log, made here on first use. A host window the system refuses leaves the tab empty.
CAppPage* MakeTestPage(CConfigParvelApp& app)
{
    try {
        return new CTestPage(BenchContext{app, *app.GetTestHost(), *app.GetTestLog()});
    } catch (const std::exception& e) {
        AppMessageBox(ExceptionMessage(e), MB_ICONERROR);
        return nullptr;
    }
}

// In tab order: Main, Formats, Reading keys, Sound, Configurator, Test.
const PageSlot g_pages[] = {
    {&MakePage<CMainPage>, IDD_PAGE_MAIN},
    {&MakePage<CZFormatsPage>, IDD_PAGE_FORMATS},
    {&MakePage<CReadKeysPage>, IDD_PAGE_READKEYS},
    {&MakePage<CSoundPage>, IDD_PAGE_SOUND},
    {&MakePage<CZAdvancedPage>, IDD_PAGE_ADVANCED},
    {&MakeTestPage, IDD_PAGE_TEST},
};

} // namespace

const PageSlot* GetPageSlot(int index)
{
    if (index < 0 || index >= static_cast<int>(sizeof(g_pages) / sizeof(g_pages[0])))
        return nullptr;
    return &g_pages[index];
}
