// How the main window looks after a user enlarges it and opens the pages by their tabs: every
// button is drawn where it moved to, and the lists' filling columns take what the lists' final
// width leaves. What is on the screen is read back from the screen itself.
#include "AppFixture.h"
#include "GdiHandles.h"
#include "AppResource.h"
#include "DpiScale.h"
#include "ExternalEvents.h"
#include "FormatsPageRes.h"
#include "KTGroupsRes.h"
#include "MethodsRes.h"
#include "PropertiesRes.h"
#include "SoundPageRes.h"
#include "TestPageRes.h"
#include <commctrl.h>
#include <vector>

namespace {

// Whether the screen shows the button where it is: the screen's pixels at its place against the
// button's own drawing of itself (WM_PRINT), inside a 3-pixel margin (focus and default frames).
bool ButtonOnScreen(HWND button, std::wstring& why)
{
    RECT r;
    GetWindowRect(button, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    CDibCanvas screen(width, height), own(width, height);
    HDC screenDc = GetDC(nullptr);
    const bool captured = screen.Dc() && own.Dc() &&
                          BitBlt(screen.Dc(), 0, 0, width, height, screenDc, r.left, r.top, SRCCOPY | CAPTUREBLT) &&
                          PrintWindow(button, own.Dc(), 0);
    ReleaseDC(nullptr, screenDc);
    if (!captured) {
        why = L"no capture";
        return false;
    }
    int same = 0, all = 0;
    for (int y = 3; y < height - 3; ++y)
        for (int x = 3; x < width - 3; ++x, ++all)
            same += screen.At(x, y) == own.At(x, y);
    why = std::to_wstring(same) + L" of " + std::to_wstring(all) + L" pixels as the button draws them";
    return all > 0 && same * 10 >= all * 9;
}

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
    // The width of `column` against what the list's client width leaves after the other columns
    // and the `spare` room the design leaves beside them (in pixels at 96 DPI).
    static void ExpectFills(HWND list, int column, int spare, const char* what)
    {
        ASSERT_TRUE(list != nullptr) << what;
        RECT client;
        GetClientRect(list, &client);
        int used = ScalePixels(spare);
        for (int c = 0; c < Header_GetItemCount(ListView_GetHeader(list)); ++c)
            if (c != column)
                used += static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0));
        ASSERT_GT(client.right - used, 100) << what << ": the list is too narrow for the test";
        EXPECT_EQ(client.right - used, SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0)) << what;
    }
    // The visible list with control id `id` on the test page (its inner pages share ids).
    HWND TestPageList(int id)
    {
        struct Find
        {
            int id;
            HWND found;
        } find{id, nullptr};
        EnumChildWindows(App().GetPage(5)->GetHwnd(), [](HWND child, LPARAM param) -> BOOL {
            Find& f = *reinterpret_cast<Find*>(param);
            if (GetDlgCtrlID(child) != f.id || !IsWindowVisible(child))
                return TRUE;
            f.found = child;
            return FALSE;
        }, reinterpret_cast<LPARAM>(&find));
        return find.found;
    }
    // Every column of `list` against what its title needs on the screen: the text in the header's
    // own font and the header's margins, three edges on either side.
    static void ExpectTitlesFit(HWND list, const char* what)
    {
        ASSERT_TRUE(list != nullptr) << what;
        HWND header = ListView_GetHeader(list);
        const int columns = Header_GetItemCount(header);
        ASSERT_GT(columns, 0) << what;
        HDC dc = GetDC(header);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(header, WM_GETFONT, 0, 0)));
        for (int c = 0; c < columns; ++c) {
            wchar_t title[256] = {};
            HDITEMW item = {};
            item.mask = HDI_TEXT;
            item.pszText = title;
            item.cchTextMax = 256;
            Header_GetItem(header, c, &item);
            RECT need = {};
            DrawTextW(dc, title, -1, &need, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
            RECT shown = {};
            Header_GetItemRect(header, c, &shown);
            EXPECT_GE(shown.right - shown.left, need.right + 6 * GetSystemMetrics(SM_CXEDGE))
                << what << ": the title " << testing::PrintToString(std::wstring(title)) << " is cut";
        }
        SelectObject(dc, old);
        ReleaseDC(header, dc);
    }
};

// Whether all of `control` shows inside its ancestors' client areas (a control a page cuts off or
// scrolls away cannot be compared with the screen).
bool WhollyInside(HWND control)
{
    RECT r;
    GetWindowRect(control, &r);
    for (HWND parent = GetParent(control); parent; parent = GetParent(parent)) {
        RECT client;
        GetClientRect(parent, &client);
        MapWindowPoints(parent, nullptr, reinterpret_cast<POINT*>(&client), 2);
        RECT both;
        if (!IntersectRect(&both, &r, &client) || !EqualRect(&both, &r))
            return false;
        if (!(GetWindowLongW(parent, GWL_STYLE) & WS_CHILD))
            break;
    }
    return true;
}

// The buttons, check boxes and radio buttons under `root` that the user sees whole.
void ShownButtons(HWND root, std::vector<HWND>& buttons)
{
    EnumChildWindows(root, [](HWND child, LPARAM param) -> BOOL {
        wchar_t name[32] = {};
        GetClassNameW(child, name, 32);
        const LONG type = GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
        if (_wcsicmp(name, L"Button") == 0 && type != BS_GROUPBOX && type != BS_OWNERDRAW && type != BS_USERBUTTON &&
            IsWindowVisible(child) && WhollyInside(child))
            reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&buttons));
}

} // namespace

// After the window is enlarged on any page, the buttons and boxes that moved with its edges are on
// the screen where they landed: the main window's, and those of the page shown (of the test page
// and of its inner page).
TEST_F(Layout, EveryButtonOfEveryPageIsDrawnAfterAnEnlarge)
{
    StartApp();
    struct Shown
    {
        int page;
        int inner; // the test page's inner tab, -1 for none
        int least; // buttons expected on the page itself
    };
    const Shown shown[] = {{0, -1, 10}, {1, -1, 4}, {2, -1, 5}, {3, -1, 1}, {4, -1, 3},
                           {5, 0, 5},   {5, 1, 8},  {5, 2, 6}};
    for (const Shown& at : shown) {
        SCOPED_TRACE("page " + std::to_string(at.page) + ", inner tab " + std::to_string(at.inner));
        ClickMainTab(at.page);
        if (at.inner >= 0)
            ClickInnerTab(at.inner);
        SetWindowPos(MainWindow(), HWND_TOP, 0, 0, CConfigParvelApp::MinWidth, CConfigParvelApp::MinHeight,
                     SWP_NOZORDER);
        SetForegroundWindow(MainWindow());
        Input().PumpFor(300);
        Enlarge();
        Input().PumpFor(300);
        std::vector<HWND> buttons;
        ShownButtons(App().GetPage(at.page)->GetHwnd(), buttons);
        EXPECT_GE(static_cast<int>(buttons.size()), at.least);
        for (int i = 0; i < 4; ++i)
            if (IsWindowVisible(App().GetButton(i)))
                buttons.push_back(App().GetButton(i));
        for (HWND button : buttons) {
            std::wstring why;
            EXPECT_TRUE(ButtonOnScreen(button, why)) << testing::PrintToString(WindowText(button)) << " ("
                                                  << GetDlgCtrlID(button) << "): " << testing::PrintToString(why);
        }
    }
}

// Every list whose last column fills the list gets it from the list's width on the page as laid
// out in the enlarged window, not from the page's size before its layout.
TEST_F(Layout, FillingColumnsTakeTheListsFinalWidth)
{
    StartApp();
    Enlarge();
    ClickMainTab(1);
    ExpectFills(GetDlgItem(App().GetPage(1)->GetHwnd(), IDC_FORMATS_LIST), 6, 30, "Formats: Comment");
    ClickMainTab(3);
    // The event names fit their column, and the file column takes what the other four leave.
    HWND sounds = GetDlgItem(App().GetPage(3)->GetHwnd(), IDC_SOUND_LIST);
    const int eventWidth = static_cast<int>(SendMessageW(sounds, LVM_GETCOLUMNWIDTH, 0, 0));
    for (int row = 0; row < 4; ++row) {
        wchar_t name[128] = {};
        LVITEMW item = {};
        item.pszText = name;
        item.cchTextMax = 128;
        SendMessageW(sounds, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        EXPECT_LE(SendMessageW(sounds, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(name)) + 12, eventWidth)
            << "Sound: event name of row " << row << " is cut";
    }
    ExpectFills(sounds, 1, 220, "Sound: Sound file");
    ClickMainTab(5);
    // The add-in's event names, in either of its languages, fit the message column; the data
    // column takes what the other three leave.
    HWND events = TestPageList(IDC_EVENTS_LIST);
    ASSERT_TRUE(events != nullptr);
    const int messageWidth = static_cast<int>(SendMessageW(events, LVM_GETCOLUMNWIDTH, 2, 0));
    for (const ExternalEventName& event : kExternalEvents)
        for (const wchar_t* name : {event.English, event.Russian})
            EXPECT_LE(SendMessageW(events, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(name)) + 12, messageWidth)
                << "Events: the event name " << testing::PrintToString(std::wstring(name)) << " is cut";
    EXPECT_GE(messageWidth, 100) << "Events: Message is narrower than designed";
    ExpectFills(events, 3, 16, "Events: Data");
    ClickInnerTab(1);
    ExpectFills(TestPageList(IDC_PROPS_LIST), 4, 26, "Properties: Value");
    ClickInnerTab(2);
    ExpectFills(TestPageList(IDC_METHS_LIST), 5, 16, "Methods: Default parameters");
}

// At the window's default size every column shows its whole title in the program's language,
// the filling columns too: on the Formats, Sound and Test pages, the Test page's inner pages and
// the key-type groups dialog.
TEST_F(Layout, EveryColumnTitleShowsWholeAtTheDefaultSize)
{
    StartApp();
    ClickMainTab(1);
    HWND formats = App().GetPage(1)->GetHwnd();
    ExpectTitlesFit(GetDlgItem(formats, IDC_FORMATS_LIST), "Formats");
    Ui().DriveModal([](HWND groups) {
        ExpectTitlesFit(GetDlgItem(groups, IDC_GROUPS_LIST), "Groups of key types");
        SendMessageW(groups, WM_COMMAND, IDCANCEL, 0);
    });
    SendMessageW(formats, WM_COMMAND, ID_CUSTOMIZE_TABS, 0);
    ClickMainTab(3);
    ExpectTitlesFit(GetDlgItem(App().GetPage(3)->GetHwnd(), IDC_SOUND_LIST), "Sound");
    ClickMainTab(5);
    ExpectTitlesFit(TestPageList(IDC_EVENTS_LIST), "Events");
    ClickInnerTab(1);
    ExpectTitlesFit(TestPageList(IDC_PROPS_LIST), "Properties");
    ClickInnerTab(2);
    ExpectTitlesFit(TestPageList(IDC_METHS_LIST), "Methods");
}

// The system's own mouse input reaches the window in front: a click on a tab selects its page.
TEST_F(Layout, AClickThroughTheSystemsInputSelectsATab)
{
    StartApp();
    SetForegroundWindow(MainWindow());
    Input().PumpFor(100);
    HWND tabs = App().GetTabControl();
    POINT at = CUserInput::Tab(tabs, 3);
    ClientToScreen(tabs, &at);
    Input().ClickOnScreen(at);
    EXPECT_TRUE(Input().PumpUntil([&] { return App().GetCurrentPage() == 3; }, 2000)) << App().GetCurrentPage();
}
