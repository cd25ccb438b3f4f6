// The program by keyboard alone, in process: a focused button of a page answers Enter and Space as
// a click, context menus open by Shift+F10 and the Menu key where the focused item is, and Tab on
// a page taller than its window brings every control it reaches into view.
#include "AppFixture.h"
#include "FormatDialogRes.h"
#include "FormatsPageRes.h"
#include "KeyTypesRes.h"
#include "ReadKeysPageRes.h"
#include "ScrollHelper.h"
#include <commctrl.h>

namespace {

// A context menu as its owner sees it open: the popup's commands at WM_INITMENUPOPUP and the menu
// window's place when the menu loop first idles, where the watch ends the menu as Esc would.
class MenuWatch
{
public:
    explicit MenuWatch(HWND owner) : m_owner(owner)
    {
        SetWindowSubclass(owner, Proc, reinterpret_cast<UINT_PTR>(this), reinterpret_cast<DWORD_PTR>(this));
    }
    ~MenuWatch() { RemoveWindowSubclass(m_owner, Proc, reinterpret_cast<UINT_PTR>(this)); }
    MenuWatch(const MenuWatch&) = delete;
    MenuWatch& operator=(const MenuWatch&) = delete;

    int opened = 0;
    bool hasCommand = false; // the popup holds `command`
    UINT command = 0;
    RECT place = {};

private:
    static LRESULT CALLBACK Proc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data)
    {
        MenuWatch* watch = reinterpret_cast<MenuWatch*>(data);
        if (message == WM_INITMENUPOPUP) {
            ++watch->opened;
            watch->hasCommand = GetMenuState(reinterpret_cast<HMENU>(wParam), watch->command, MF_BYCOMMAND) != 0xFFFFFFFF;
        } else if (message == WM_ENTERIDLE && wParam == MSGF_MENU) {
            GetWindowRect(reinterpret_cast<HWND>(lParam), &watch->place);
            EndMenu();
        }
        return DefSubclassProc(hWnd, message, wParam, lParam);
    }

    HWND m_owner;
};

// A rectangle of `control` in screen coordinates, its client area by default.
RECT ScreenRect(HWND control)
{
    RECT r;
    GetClientRect(control, &r);
    MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool Inside(const RECT& inner, const RECT& outer)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

} // namespace

using Keyboard = AppFixture;

// Enter and Space on a focused push button of a page do what a click does, through the main
// window's dialog manager; the command goes to the page that owns the button.
TEST_F(Keyboard, FocusedPageButtonAnswersEnterAndSpace)
{
    StartApp();
    ClickTab(1);
    HWND add = GetDlgItem(App().GetPage(1)->GetHwnd(), IDC_FORMAT_ADD);
    ASSERT_NE(nullptr, add);
    for (WORD key : {VK_RETURN, VK_SPACE}) {
        SCOPED_TRACE(key == VK_RETURN ? "Enter" : "Space");
        Ui().Clear();
        Ui().AnswerModal(IDCANCEL);
        SetFocus(add);
        Input().PressKey(key);
        ASSERT_EQ(1u, Ui().Asked().size()) << "the format dialog opens";
        EXPECT_EQ(UiAsk::Modal, Ui().Asked()[0].kind);
        EXPECT_EQ(static_cast<UINT>(IDD_FORMAT), Ui().Asked()[0].templateId);
    }
    EXPECT_EQ(0u, Ui().PendingAnswers());
}

// Shift+F10 and the Menu key open the Formats page's menus (the key-type groups of the group tabs,
// the list's menu) and the Reading keys page's key-type menu below the focused tab or row, not at
// the mouse.
TEST_F(Keyboard, ContextMenusOpenByShiftF10AndTheMenuKeyAtTheFocusedItem)
{
    StartApp();
    SetCursorPos(0, 0); // far from every control below

    struct Case
    {
        const char* what;
        int page;
        int control;
        WORD key;
        UINT modifiers;
        UINT command; // a command the menu holds
    };
    const Case cases[] = {
        {"group tabs, Shift+F10", 1, IDC_FORMATS_TABS, VK_F10, MOD_SHIFT, ID_CUSTOMIZE_TABS},
        {"group tabs, Menu key", 1, IDC_FORMATS_TABS, VK_APPS, 0, ID_CUSTOMIZE_TABS},
        {"formats list, Shift+F10", 1, IDC_FORMATS_LIST, VK_F10, MOD_SHIFT, IDC_ONLY_ENABLED},
        {"formats list, Menu key", 1, IDC_FORMATS_LIST, VK_APPS, 0, IDC_ONLY_ENABLED},
        {"key types, Shift+F10", 2, IDC_KEY_TYPES_LIST, VK_F10, MOD_SHIFT, ID_KEY_TYPES_CHECK_ALL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClickTab(c.page);
        HWND pageWnd = App().GetPage(c.page)->GetHwnd();
        HWND control = GetDlgItem(pageWnd, c.control);
        ASSERT_NE(nullptr, control);
        MenuWatch watch(pageWnd);
        watch.command = c.command;
        SetFocus(control);
        Input().PressKey(c.key, c.modifiers);
        EXPECT_EQ(1, watch.opened) << "one menu opens";
        EXPECT_TRUE(watch.hasCommand);
        // Its top left corner at the control (the chosen tab's or the focused row's bottom left),
        // where the menu fits.
        RECT at = ScreenRect(control);
        EXPECT_GE(watch.place.left, at.left - 2);
        EXPECT_LE(watch.place.left, at.right);
        EXPECT_GE(watch.place.top, at.top);
        EXPECT_LE(watch.place.top, at.bottom + 2);
    }
}

// At the window's smallest size the Reading keys page scrolls; Tab from its first control to the
// Ultralight "Enabled" box shows every control it lands on, and Space ticks the box in view.
TEST_F(Keyboard, TabBringsEveryControlOfAScrolledPageIntoView)
{
    StartApp();
    SetWindowPos(MainWindow(), nullptr, 0, 0, CConfigParvelApp::MinWidth, CConfigParvelApp::MinHeight,
                 SWP_NOZORDER | SWP_NOMOVE);
    ClickTab(2);
    HWND pageWnd = App().GetPage(2)->GetHwnd();
    HWND box = GetDlgItem(pageWnd, IDC_UL_ENABLED);
    ASSERT_NE(nullptr, box);
    const RECT view = ScreenRect(pageWnd);
    RECT boxRect;
    GetWindowRect(box, &boxRect);
    ASSERT_FALSE(Inside(boxRect, view)) << "the box starts out of view (the page must scroll for this test)";
    const bool wasChecked = IsDlgButtonChecked(pageWnd, IDC_UL_ENABLED) == BST_CHECKED;

    SetFocus(GetNextDlgTabItem(pageWnd, nullptr, FALSE));
    int presses = 0;
    while (GetFocus() != box && presses < 40) {
        Input().PressKey(VK_TAB);
        ++presses;
        HWND focus = GetFocus();
        if (!IsChild(pageWnd, focus))
            continue;
        RECT r;
        GetWindowRect(focus, &r);
        EXPECT_TRUE(Inside(r, view)) << "control " << GetDlgCtrlID(focus) << " after " << presses << " Tab(s)";
    }
    ASSERT_EQ(box, GetFocus());
    Input().PressKey(VK_SPACE);
    EXPECT_NE(wasChecked, IsDlgButtonChecked(pageWnd, IDC_UL_ENABLED) == BST_CHECKED);
    GetWindowRect(box, &boxRect);
    EXPECT_TRUE(Inside(boxRect, view));
    // Shift+Tab back to the top brings the first control back as well.
    HWND first = GetNextDlgTabItem(pageWnd, nullptr, FALSE);
    for (int back = 0; GetFocus() != first && back < 40; ++back)
        Input().PressKey(VK_TAB, MOD_SHIFT);
    ASSERT_EQ(first, GetFocus());
    RECT firstRect;
    GetWindowRect(first, &firstRect);
    EXPECT_TRUE(Inside(firstRect, view));
}

TEST(ScrollPosToShow, MovesAsLittleAsItCanWithinTheContent)
{
    struct Case
    {
        int pos, page, content, top, bottom, expected;
    };
    const Case cases[] = {
        {0, 100, 300, 10, 30, 0},      // in view: stays
        {0, 100, 300, 120, 140, 40},   // below: its bottom at the view's bottom
        {150, 100, 300, 20, 40, 20},   // above: its top at the view's top
        {0, 100, 300, 50, 250, 50},    // taller than the view: its top
        {0, 100, 300, 280, 320, 200},  // past the content's end: the last position
        {50, 100, 300, -10, 5, 0},     // before the content's start: the first
        {0, 100, 80, 60, 90, 0},       // content shorter than the view never scrolls
        {100, 100, 300, 100, 200, 100} // exactly the view
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, ScrollPosToShow(c.pos, c.page, c.content, c.top, c.bottom))
            << c.pos << " " << c.page << " " << c.content << " " << c.top << " " << c.bottom;
}
