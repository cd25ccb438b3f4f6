// The window framework: dispatch with the nested current message, the exception box, anchors,
// the scroller, list-view and tab helpers, the list adapter's change event and the clipboard.
#include "AnchorLayout.h"
#include "AppMessageBox.h"
#include "Clipboard.h"
#include "Exceptions.h"
#include "ListViewHelpers.h"
#include "ModuleState.h"
#include "ScriptedUi.h"
#include "ScrollHelper.h"
#include "TestDialogs.h"
#include "VirtualListViewData.h"
#include "Wnd.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <stdexcept>

namespace {

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// A plain window of its own class whose WM_GETTEXTLENGTH handler sends itself another message
// first and then answers through DefaultProc.
class CNestingWindow : public CWnd
{
public:
    UINT innerSeen = 0;
    UINT outerAfterInner = 0;
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_GETTEXTLENGTH)
        {
            SendMessageW(hWnd, WM_APP + 1, 0, 0);
            outerAfterInner = GetCurrentMessage().message;
            return DefaultProc();
        }
        if (message == WM_APP + 1)
        {
            innerSeen = GetCurrentMessage().message;
            return 0;
        }
        if (message == WM_APP + 2)
            throw std::runtime_error("main window failure");
        return DefaultProc();
    }
};

// The framework test dialog as a modeless page: "Go" throws, "Other" counts.
class CTestPage : public CAppPage
{
public:
    int others = 0;
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        switch (message)
        {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_TEST_BUTTON && HIWORD(wParam) == BN_CLICKED)
                throw std::runtime_error("page failure");
            if (LOWORD(wParam) == IDC_TEST_OTHER && HIWORD(wParam) == BN_CLICKED)
                ++others;
            return TRUE;
        }
        return FALSE;
    }
};

class Framework : public testing::Test
{
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = {};
        icc.dwSize = sizeof(icc);
        icc.dwICC = ICC_WIN95_CLASSES;
        InitCommonControlsEx(&icc);
    }
    void TearDown() override
    {
        if (m_page.GetHwnd())
            DestroyWindow(m_page.GetHwnd());
        Pump();
    }
    HWND CreatePage()
    {
        HWND hWnd = CreateDialogParamW(ModuleHandle, MAKEINTRESOURCEW(IDD_TEST_DIALOG), nullptr, CWnd::StaticDlgProc,
                                       reinterpret_cast<LPARAM>(&m_page));
        EXPECT_TRUE(hWnd != nullptr);
        ShowWindow(hWnd, SW_SHOW);
        Pump();
        return hWnd;
    }

    ScriptedUi m_ui;
    CTestPage m_page;
};

} // namespace

TEST_F(Framework, NestedDispatchLeavesTheOuterMessageToDefaultProc)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = CWnd::StaticWndProc;
    wc.hInstance = ModuleHandle;
    wc.lpszClassName = L"ParvelNestingTest";
    ASSERT_NE(0, RegisterClassExW(&wc));
    CNestingWindow window;
    HWND hWnd = CreateWindowExW(0, wc.lpszClassName, L"abcd", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                                ModuleHandle, &window);
    ASSERT_TRUE(hWnd != nullptr);
    EXPECT_EQ(hWnd, window.GetHwnd());
    EXPECT_EQ(4, SendMessageW(hWnd, WM_GETTEXTLENGTH, 0, 0));
    EXPECT_EQ(static_cast<UINT>(WM_APP + 1), window.innerSeen);
    EXPECT_EQ(static_cast<UINT>(WM_GETTEXTLENGTH), window.outerAfterInner);
    // A failure in a main window's handling ends the message quietly.
    EXPECT_EQ(0, SendMessageW(hWnd, WM_APP + 2, 0, 0));
    EXPECT_TRUE(m_ui.Asked().empty());
    DestroyWindow(hWnd);
    EXPECT_EQ(nullptr, window.GetHwnd());
    UnregisterClassW(wc.lpszClassName, ModuleHandle);
}

TEST_F(Framework, ExceptionInAPageShowsOneBoxAndThePageStaysUsable)
{
    HWND page = CreatePage();
    m_ui.AnswerMessage(IDOK);
    SendMessageW(GetDlgItem(page, IDC_TEST_BUTTON), BM_CLICK, 0, 0);
    Pump();
    ASSERT_EQ(1u, m_ui.Messages().size());
    const auto messages = m_ui.Messages();
    const UiAsk& ask = messages[0];
    EXPECT_EQ(L"page failure", ask.text);
    EXPECT_EQ(LoadAppString(103), ask.caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), ask.flags);
    EXPECT_EQ(page, ask.owner);
    EXPECT_TRUE(IsWindow(page));
    SendMessageW(GetDlgItem(page, IDC_TEST_OTHER), BM_CLICK, 0, 0);
    EXPECT_EQ(1, m_page.others);
    m_ui.AnswerMessage(IDOK);
    SendMessageW(GetDlgItem(page, IDC_TEST_BUTTON), BM_CLICK, 0, 0);
    EXPECT_EQ(2u, m_ui.Messages().size());
}

TEST_F(Framework, AnchorsStretchAndMoveByTheGrowthOfTheClientArea)
{
    HWND page = CreatePage();
    CAnchorLayout layout(page);
    layout.AddControl(IDC_TEST_EDIT, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    layout.AddWindow(GetDlgItem(page, IDC_TEST_BUTTON));
    layout.AddControl(IDC_TEST_OTHER, ANCHOR_RIGHT);
    layout.Capture();
    const RECT edit0 = layout.Items()[0].rect, button0 = layout.Items()[1].rect, other0 = layout.Items()[2].rect;
    RECT client;
    GetClientRect(page, &client);
    layout.Apply(client.right + 50, client.bottom + 30);
    auto rectOf = [page](int id) {
        RECT r;
        GetWindowRect(GetDlgItem(page, id), &r);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    RECT edit = rectOf(IDC_TEST_EDIT), button = rectOf(IDC_TEST_BUTTON), other = rectOf(IDC_TEST_OTHER);
    EXPECT_EQ(edit0.left, edit.left);
    EXPECT_EQ(edit0.top, edit.top);
    EXPECT_EQ(edit0.right + 50, edit.right);
    EXPECT_EQ(edit0.bottom + 30, edit.bottom);
    EXPECT_EQ(button0.left, button.left);
    EXPECT_EQ(button0.top + 30, button.top);
    EXPECT_EQ(button0.bottom - button0.top, button.bottom - button.top);
    EXPECT_EQ(other0.left + 50, other.left);
    EXPECT_EQ(other0.top, other.top);
    EXPECT_EQ(other0.right - other0.left, other.right - other.left);
}

TEST_F(Framework, ScrollerGivesATallPageABarAndStopsAtTheEnd)
{
    HWND dialog = CreatePage();
    // A frameless child, as a page inside the tab control is.
    HWND page = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 300, 200, dialog, nullptr,
                                ModuleHandle, nullptr);
    ASSERT_TRUE(page != nullptr);
    CScrollHelper scroller;
    scroller.SetOwner(page);
    scroller.SetContentSize(0, 1000);
    scroller.Update();
    RECT client;
    GetClientRect(page, &client);
    EXPECT_EQ(client.bottom, scroller.VerticalPage());
    SCROLLINFO si = {};
    si.cbSize = sizeof(si);
    si.fMask = SIF_PAGE | SIF_RANGE;
    GetScrollInfo(page, SB_VERT, &si);
    EXPECT_EQ(static_cast<UINT>(client.bottom), si.nPage);
    EXPECT_EQ(999, si.nMax);
    scroller.OnVScroll(SB_LINEDOWN, 0, nullptr);
    EXPECT_EQ(CScrollHelper::LineStep, scroller.VerticalPos());
    for (int i = 0; i < 100; ++i)
        scroller.OnVScroll(SB_LINEDOWN, 0, nullptr);
    const int end = 1000 - scroller.VerticalPage();
    EXPECT_EQ(end, scroller.VerticalPos());
    scroller.OnVScroll(SB_LINEDOWN, 0, nullptr);
    EXPECT_EQ(end, scroller.VerticalPos());
    scroller.OnVScroll(SB_PAGEUP, 0, nullptr);
    EXPECT_EQ(end - scroller.VerticalPage(), scroller.VerticalPos());
    // Content that fits takes the bar away and scrolls back to the top.
    scroller.SetContentSize(0, 10);
    scroller.Update();
    EXPECT_EQ(0, scroller.VerticalPos());
    EXPECT_EQ(0, scroller.VerticalPage());
}

TEST_F(Framework, ListViewColumnsSelectionAndSortArrows)
{
    HWND page = CreatePage();
    HWND list = GetDlgItem(page, IDC_TEST_LIST);
    for (int i = 0; i < 3; ++i)
    {
        LVCOLUMNW column = {};
        column.mask = LVCF_WIDTH | LVCF_TEXT;
        column.cx = 40;
        column.pszText = const_cast<wchar_t*>(L"C");
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    // More pairs than columns set only the existing ones; a pair numbered 0 leaves its column;
    // a negative width (client width minus a constant on a narrow list) never turns into auto-size.
    ListView_SetColumnWidths(list, {{1, 70}, {0, 90}, {3, -2}, {4, 55}, {5, 60}});
    ColumnWidths widths;
    ASSERT_TRUE(ListView_GetColumnWidths(list, widths));
    ASSERT_EQ(3u, widths.size());
    EXPECT_EQ(std::make_pair(1, 70), widths[0]);
    EXPECT_EQ(std::make_pair(2, 40), widths[1]);
    EXPECT_EQ(std::make_pair(3, 0), widths[2]);
    EXPECT_EQ(0, ClampColumnWidth(-1));
    EXPECT_EQ(25, ClampColumnWidth(10, 25));
    EXPECT_EQ(300, ClampColumnWidth(300, 25));

    SendMessageW(list, LVM_SETITEMCOUNT, 100, 0);
    ListView_SelectCentered(list, 50);
    EXPECT_EQ(50, SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    EXPECT_EQ(50, SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    ListView_SelectCentered(list, -1);
    EXPECT_EQ(-1, SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    EXPECT_EQ(0, SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));

    EXPECT_TRUE(ListView_InitSortImages(list));
    EXPECT_TRUE(ListView_SetSortArrow(list, 1, false));
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    HDITEMW item = {};
    item.mask = HDI_FORMAT | HDI_IMAGE;
    SendMessageW(header, HDM_GETITEMW, 1, reinterpret_cast<LPARAM>(&item));
    if (SendMessageW(header, CCM_GETVERSION, 0, 0) < 6)
    {
        EXPECT_TRUE(item.fmt & HDF_BITMAP_ON_RIGHT);
        EXPECT_EQ(1, item.iImage);
    }
    else
    {
        EXPECT_TRUE(item.fmt & HDF_SORTDOWN);
    }
    EXPECT_TRUE(ListView_ClearSortArrow(list, 1));
    item.mask = HDI_FORMAT;
    SendMessageW(header, HDM_GETITEMW, 1, reinterpret_cast<LPARAM>(&item));
    EXPECT_FALSE(item.fmt & (HDF_SORTUP | HDF_SORTDOWN | HDF_BITMAP_ON_RIGHT));
    EXPECT_FALSE(ListView_SetSortArrow(list, 7, true));
    DestroySortImages();
}

// A check list narrower than a scroll bar gets a column of width 0, never a negative width (which
// the list view takes for an auto-size code or keeps as it is).
TEST_F(Framework, CheckListOnANarrowListHasNoNegativeColumn)
{
    HWND page = CreatePage();
    const int scrollBar = GetSystemMetrics(SM_CXVSCROLL);
    for (int width : {scrollBar - 6, scrollBar - 2, scrollBar - 1, 0}) {
        HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, std::max(width, 0),
                                    50, page, nullptr, ModuleHandle, nullptr);
        ASSERT_NE(nullptr, list);
        ListView_InitCheckList(list);
        EXPECT_EQ(0, SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0)) << width;
        DestroyWindow(list);
    }
    HWND wide = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 200, 50, page,
                                nullptr, ModuleHandle, nullptr);
    ListView_InitCheckList(wide);
    RECT client;
    GetClientRect(wide, &client);
    EXPECT_EQ(client.right - scrollBar, SendMessageW(wide, LVM_GETCOLUMNWIDTH, 0, 0));
    DestroyWindow(wide);
}

TEST_F(Framework, TabFindsItsItemByParameter)
{
    HWND page = CreatePage();
    HWND tab = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD, 0, 0, 100, 30, page, nullptr, ModuleHandle, nullptr);
    for (int i = 0; i < 3; ++i)
    {
        TCITEMW item = {};
        item.mask = TCIF_TEXT | TCIF_PARAM;
        item.pszText = const_cast<wchar_t*>(L"T");
        item.lParam = 10 + i;
        SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    EXPECT_EQ(2, TabCtrl_FindByParam(tab, 12));
    EXPECT_EQ(0, TabCtrl_FindByParam(tab, 10));
    EXPECT_EQ(-1, TabCtrl_FindByParam(tab, 13));
}

TEST_F(Framework, ARememberedDialogComesBackWhereItWasKeptAndANewOneCentred)
{
    HWND page = CreatePage();
    RECT kept = {};
    m_page.RestorePlacement(kept);
    RECT window = {};
    GetWindowRect(page, &window);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(page, MONITOR_DEFAULTTOPRIMARY), &monitor);
    EXPECT_NEAR((monitor.rcWork.left + monitor.rcWork.right) / 2, (window.left + window.right) / 2, 1);
    EXPECT_NEAR((monitor.rcWork.top + monitor.rcWork.bottom) / 2, (window.top + window.bottom) / 2, 1);
    EXPECT_TRUE(m_page.KeepPlacement(kept)) << "nothing was kept before";
    EXPECT_TRUE(EqualRect(&kept, &window));

    const RECT saved = {30, 40, 430, 340};
    m_page.RestorePlacement(saved);
    kept = saved;
    EXPECT_FALSE(m_page.KeepPlacement(kept)) << "the dialog stands where it was kept";
    EXPECT_TRUE(EqualRect(&kept, &saved));
    EXPECT_TRUE(IsWindowVisible(page));

    SetWindowPos(page, nullptr, 60, 70, 500, 360, SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_TRUE(m_page.KeepPlacement(kept));
    const RECT moved = {60, 70, 560, 430};
    EXPECT_TRUE(EqualRect(&kept, &moved));
    EXPECT_FALSE(m_page.KeepPlacement(kept));
}

namespace {

class CCountingAdapter : public CVirtualListViewData
{
public:
    int GetItemCount() override { return 0; }
    void GetDispInfo(NMLVDISPINFOW*) override {}
    void CacheHint(NMLVCACHEHINT*) override {}
};

int g_fired = 0;
void CountFired(void* context, CVirtualListViewData*) { ++*static_cast<int*>(context); }
void ThrowFired(void*, CVirtualListViewData*) { throw std::runtime_error("callback failure"); }

} // namespace

namespace {

class CFiveRows : public CCountingAdapter
{
public:
    int GetItemCount() override { return 5; }
};

} // namespace

TEST_F(Framework, AListThatOnlyShowsTheCountTakesItFromItsAdapter)
{
    HWND list = GetDlgItem(CreatePage(), IDC_TEST_LIST);
    CFiveRows rows;
    rows.SetOwner(list, &CVirtualListViewData::ShowCountIn);
    rows.FireEvent();
    EXPECT_EQ(5, SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    rows.SetOwner(nullptr, nullptr);
}

TEST(ListAdapter, FireEventReachesTheOwnerUntilTheContextIsCut)
{
    CCountingAdapter adapter;
    adapter.FireEvent(); // no owner yet
    adapter.SetOwner(&g_fired, CountFired);
    adapter.FireEvent();
    EXPECT_EQ(1, g_fired);
    adapter.SetOwner(nullptr, CountFired);
    adapter.FireEvent();
    EXPECT_EQ(1, g_fired);
    adapter.SetOwner(&g_fired, ThrowFired);
    EXPECT_NO_THROW(adapter.FireEvent());
}

namespace {

std::wstring ClipboardText()
{
    std::wstring text;
    if (!OpenClipboard(nullptr))
        return L"<not open>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT))
    {
        if (auto* p = static_cast<const wchar_t*>(GlobalLock(data)))
        {
            text = p;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

// Holds the clipboard open from another thread until released.
class CClipboardHolder
{
public:
    CClipboardHolder()
    {
        m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        WaitForSingleObject(m_opened, 5000);
    }
    ~CClipboardHolder()
    {
        SetEvent(m_release);
        WaitForSingleObject(m_thread, 5000);
        CloseHandle(m_thread);
        CloseHandle(m_opened);
        CloseHandle(m_release);
    }
    bool opened = false;

private:
    static DWORD WINAPI Run(void* p)
    {
        auto* self = static_cast<CClipboardHolder*>(p);
        HWND hWnd = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        self->opened = OpenClipboard(hWnd) != FALSE;
        SetEvent(self->m_opened);
        WaitForSingleObject(self->m_release, 10000);
        CloseClipboard();
        DestroyWindow(hWnd);
        return 0;
    }
    HANDLE m_opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE m_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE m_thread = nullptr;
};

} // namespace

TEST(Clipboard, CopiesTextAndClosesTheClipboardOnEveryWayOut)
{
    CopyToClipboard(L"abcdef", 3);
    EXPECT_EQ(L"abc", ClipboardText());
    CopyToClipboard(L"", -1);
    EXPECT_EQ(L"", ClipboardText());
    CopyToClipboard(L"Ключ 0AFF", -1);
    EXPECT_EQ(L"Ключ 0AFF", ClipboardText());
    {
        CClipboardHolder holder;
        ASSERT_TRUE(holder.opened);
        try
        {
            CopyToClipboard(L"x", -1);
            ADD_FAILURE() << "no exception while another window holds the clipboard";
        }
        catch (const COSException& e)
        {
            EXPECT_NE(std::string::npos, std::string(e.what()).find("OpenClipboard"));
        }
    }
    // Nothing of ours keeps it open.
    CopyToClipboard(L"after", -1);
    EXPECT_EQ(L"after", ClipboardText());
}
