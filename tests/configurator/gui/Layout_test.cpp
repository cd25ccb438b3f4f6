// How the main window looks after a user enlarges it and opens the pages by their tabs: the lists'
// filling columns take what the lists' final width leaves.
#include "AppFixture.h"
#include "AppResource.h"
#include "FormatsPageRes.h"
#include "MethodsRes.h"
#include "PropertiesRes.h"
#include "SoundPageRes.h"
#include "TestPageRes.h"
#include <commctrl.h>

namespace {

class Layout : public AppFixture
{
protected:
    // The window dragged from its smallest size to 1104 x 854, in the steps a drag makes.
    void Enlarge()
    {
        for (int step = 0; step <= 8; ++step) {
            const int width = CConfigParvelApp::MinWidth + (1104 - CConfigParvelApp::MinWidth) * step / 8;
            const int height = CConfigParvelApp::MinHeight + (854 - CConfigParvelApp::MinHeight) * step / 8;
            SetWindowPos(MainWindow(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            Input().PumpFor(20);
        }
    }
    void ClickMainTab(int index)
    {
        HWND tabs = App().GetTabControl();
        Input().Click(tabs, CUserInput::Tab(tabs, index));
        Input().PumpFor(50);
        ASSERT_EQ(index, App().GetCurrentPage());
    }
    void ClickInnerTab(int index)
    {
        HWND tabs = GetDlgItem(App().GetPage(5)->GetHwnd(), IDC_TEST_TABS);
        Input().Click(tabs, CUserInput::Tab(tabs, index));
        Input().PumpFor(50);
        ASSERT_EQ(index, SendMessageW(tabs, TCM_GETCURSEL, 0, 0));
    }
    // The width of `column` against what the list's client width leaves after `used`.
    static void ExpectFills(HWND list, int column, int used, const char* what)
    {
        ASSERT_TRUE(list != nullptr) << what;
        RECT client;
        GetClientRect(list, &client);
        ASSERT_GT(client.right - used, 100) << what << ": the list is too narrow for the test";
        EXPECT_EQ(client.right - used, SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0)) << what;
    }
};

} // namespace

// Every list whose last column fills the list gets it from the list's width on the page as laid
// out in the enlarged window, not from the page's size before its layout.
TEST_F(Layout, FillingColumnsTakeTheListsFinalWidth)
{
    StartApp();
    Enlarge();
    ClickMainTab(1);
    ExpectFills(GetDlgItem(App().GetPage(1)->GetHwnd(), IDC_FORMATS_LIST), 6, 665, "Formats: Comment");
    ClickMainTab(3);
    ExpectFills(GetDlgItem(App().GetPage(3)->GetHwnd(), IDC_SOUND_LIST), 1, 445, "Sound: Sound file");
    ClickMainTab(5);
    HWND test = App().GetPage(5)->GetHwnd();
    auto inner = [&](int id) -> HWND {
        struct Find
        {
            int id;
            HWND found;
        } find{id, nullptr};
        EnumChildWindows(test, [](HWND child, LPARAM param) -> BOOL {
            Find& f = *reinterpret_cast<Find*>(param);
            if (GetDlgCtrlID(child) != f.id || !IsWindowVisible(child))
                return TRUE;
            f.found = child;
            return FALSE;
        }, reinterpret_cast<LPARAM>(&find));
        return find.found;
    };
    ExpectFills(inner(IDC_EVENTS_LIST), 3, 306, "Events: Data");
    ClickInnerTab(1);
    ExpectFills(inner(IDC_PROPS_LIST), 4, 436, "Properties: Value");
    ClickInnerTab(2);
    ExpectFills(inner(IDC_METHS_LIST), 5, 436, "Methods: Default parameters");
}
