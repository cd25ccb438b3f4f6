// How the main window looks after a user enlarges it and opens the pages by their tabs: every
// button is drawn where it moved to, and the lists' filling columns take what the lists' final
// width leaves. What is on the screen is read back from the screen itself.
#include "AppFixture.h"
#include "AppResource.h"
#include "ExternalEvents.h"
#include "FormatsPageRes.h"
#include "MethodsRes.h"
#include "PropertiesRes.h"
#include "SoundPageRes.h"
#include "TestPageRes.h"
#include <commctrl.h>
#include <vector>

namespace {

// A DIB section of a window's size as 0x00RRGGBB values row by row, top row first.
class CPixels
{
public:
    CPixels(int width, int height) : m_width(width), m_height(height)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        m_dc = CreateCompatibleDC(nullptr);
        m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), nullptr, 0);
        if (m_bitmap)
            m_old = SelectObject(m_dc, m_bitmap);
    }
    ~CPixels()
    {
        if (m_bitmap) {
            SelectObject(m_dc, m_old);
            DeleteObject(m_bitmap);
        }
        DeleteDC(m_dc);
    }
    CPixels(const CPixels&) = delete;
    CPixels& operator=(const CPixels&) = delete;
    HDC Dc() const { return m_bitmap ? m_dc : nullptr; }
    DWORD At(int x, int y) const { return m_bits[static_cast<size_t>(y) * m_width + x] & 0xFFFFFF; }

private:
    int m_width, m_height;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    DWORD* m_bits = nullptr;
};

// Whether the screen shows the button where it is: the screen's pixels at its place against the
// button's own drawing of itself (WM_PRINT), inside a 3-pixel margin (focus and default frames).
bool ButtonOnScreen(HWND button, std::wstring& why)
{
    RECT r;
    GetWindowRect(button, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    CPixels screen(width, height), own(width, height);
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

// After the window is enlarged the buttons that moved with its bottom edge are on the screen: the
// main window's and the test page's, and those of the test page's inner pages.
TEST_F(Layout, EveryButtonIsDrawnAfterAnEnlarge)
{
    StartApp();
    ClickMainTab(5);
    ClickInnerTab(2);
    ClickInnerTab(1);
    SetWindowPos(MainWindow(), HWND_TOP, 0, 0, CConfigParvelApp::MinWidth, CConfigParvelApp::MinHeight,
                 SWP_NOZORDER);
    SetForegroundWindow(MainWindow());
    Input().PumpFor(300);
    Enlarge();
    Input().PumpFor(300);
    std::vector<HWND> buttons;
    for (int i = 0; i < 4; ++i)
        buttons.push_back(App().GetButton(i));
    EnumChildWindows(App().GetPage(5)->GetHwnd(), [](HWND child, LPARAM param) -> BOOL {
        wchar_t name[32] = {};
        GetClassNameW(child, name, 32);
        if (_wcsicmp(name, L"Button") == 0 && (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) <= BS_DEFPUSHBUTTON)
            reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&buttons));
    int checked = 0;
    for (HWND button : buttons) {
        if (!IsWindowVisible(button))
            continue;
        ++checked;
        std::wstring why;
        EXPECT_TRUE(ButtonOnScreen(button, why)) << testing::PrintToString(WindowText(button)) << ": "
                                              << testing::PrintToString(why);
    }
    EXPECT_GE(checked, 9);
}

// Every list whose last column fills the list gets it from the list's width on the page as laid
// out in the enlarged window, not from the page's size before its layout.
TEST_F(Layout, FillingColumnsTakeTheListsFinalWidth)
{
    StartApp();
    Enlarge();
    ClickMainTab(1);
    ExpectFills(GetDlgItem(App().GetPage(1)->GetHwnd(), IDC_FORMATS_LIST), 6, 665, "Formats: Comment");
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
    ExpectFills(sounds, 1, eventWidth + 3 * 25 + 220, "Sound: Sound file");
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
    // The add-in's event names, in either of its languages, fit the message column; the data
    // column takes what the other three leave.
    HWND events = inner(IDC_EVENTS_LIST);
    ASSERT_TRUE(events != nullptr);
    const int messageWidth = static_cast<int>(SendMessageW(events, LVM_GETCOLUMNWIDTH, 2, 0));
    for (const ExternalEventName& event : kExternalEvents)
        for (const wchar_t* name : {event.English, event.Russian})
            EXPECT_LE(SendMessageW(events, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(name)) + 12, messageWidth)
                << "Events: the event name " << testing::PrintToString(std::wstring(name)) << " is cut";
    EXPECT_GE(messageWidth, 100) << "Events: Message is narrower than designed";
    ExpectFills(events, 3, 206 + messageWidth, "Events: Data");
    ClickInnerTab(1);
    ExpectFills(inner(IDC_PROPS_LIST), 4, 436, "Properties: Value");
    ClickInnerTab(2);
    ExpectFills(inner(IDC_METHS_LIST), 5, 436, "Methods: Default parameters");
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
