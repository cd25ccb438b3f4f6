// The test-bench pages use only what they are handed: a test page made over its own settings data,
// test host and test log, with no application object in the process, shows that log, keeps its
// list state in that data and loads the add-in through that host.
#include "AppData.h"
#include "AppResource.h"
#include "BenchContext.h"
#include "BenchGuiFixture.h"
#include "EventsPage.h"
#include "TestLog.h"
#include "TestPageRes.h"

using namespace benchgui;

TEST(BenchContextTest, PagesUseWhatTheyAreGiven)
{
    ASSERT_FALSE(HasApp());
    TestFolder folder;
    CAppData data;
    data.SetLocation(true, folder.Path());
    data.EventsColumns = {{1, 123}};
    CTestParvel host;
    host.SetLibraryPath(ParvelPath());
    host.CreateHostWindow();
    CTestLog log;
    log.Open(folder.Path() + L"\\Bench.log");
    LogEntry entry;
    entry.time = 1000;
    entry.level = LogLevelInfo;
    entry.source = L"COM9";
    entry.message = L"DeviceConnect";
    log.Write(entry);

    HWND parent = CreateWindowExW(0, L"Static", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 700, 500, nullptr,
                                  nullptr, ModuleHandle, nullptr);
    ASSERT_NE(nullptr, parent);
    {
        CTestPage page(BenchContext{data, host, log});
        HWND hWnd = CreateDialogParamW(ModuleHandle, MAKEINTRESOURCEW(IDD_PAGE_TEST), parent, CWnd::StaticDlgProc,
                                       reinterpret_cast<LPARAM>(&page));
        ASSERT_NE(nullptr, hWnd);
        CEventsPage* events = page.EventsPage();
        ASSERT_NE(nullptr, events);
        EXPECT_EQ(1, events->View().GetItemCount());
        EXPECT_EQ(L"DeviceConnect", events->View().Cache().Row(0).message);
        EXPECT_EQ(123, SendMessageW(events->List(), LVM_GETCOLUMNWIDTH, 0, 0));
        // A resized column marks the data's window state modified and is read back into it.
        NMHEADERW track = {};
        track.hdr.hwndFrom = reinterpret_cast<HWND>(SendMessageW(events->List(), LVM_GETHEADER, 0, 0));
        track.hdr.code = HDN_ENDTRACKW;
        SendMessageW(events->GetHwnd(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&track));
        EXPECT_EQ(DATA_UI, data.ModifiedFlags & DATA_UI);
        SendMessageW(events->List(), LVM_SETCOLUMNWIDTH, 0, 77);
        page.UpdateData(true);
        ASSERT_FALSE(data.EventsColumns.empty());
        EXPECT_EQ(std::make_pair(1, 77), data.EventsColumns[0]);

        // Load goes through the given host; its listeners leave with the page.
        const size_t listeners = host.ListenerCount();
        EXPECT_GT(listeners, 0u);
        SendMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDC_TEST_LOAD, BN_CLICKED), 0);
        EXPECT_TRUE(host.IsLoaded());
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hWnd, IDC_TEST_OPEN)));
        SendMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDC_TEST_LOAD, BN_CLICKED), 0);
        EXPECT_FALSE(host.IsLoaded());
        DestroyWindow(hWnd);
        EXPECT_EQ(0u, host.ListenerCount());
    }
    DestroyWindow(parent);
}
