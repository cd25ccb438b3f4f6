// The key-format library page in process with the default library: rows, "only enabled", the
// header sort, the state icons, deleting, group tabs and the red conflicting rows.
#include "FormatsPage.h"
#include "FormatsPageRes.h"
#include "GdiHandles.h"
#include "KeyTypeTexts.h"
#include "ListViewHelpers.h"
#include "PageHelpers.h"
#include <algorithm>

using namespace formats_test;

namespace {

class FormatsPageTest : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        StartApp();
        ClickTab(1);
        page = dynamic_cast<CZFormatsPage*>(App().GetPage(1));
        ASSERT_NE(page, nullptr);
        list = page->List();
    }
    int Rows() const { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }
    bool HasCheckBoxes() const
    {
        return (SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES) != 0;
    }
    // Replaces the library and the groups and shows them.
    void UseLibrary(const KeyFormatLibrary& library, const KeyTypeGroupList& groups = {})
    {
        App().Formats = library;
        App().KTGroups = groups;
        App().FormatsKTGroup = 0;
        MarkFormatConflicts(App().Formats);
        page->UpdateData(false);
    }
    // A click on the group tab `index`.
    void SelectTab(int index) { Input().Click(page->Tabs(), CUserInput::Tab(page->Tabs(), index)); }

    CZFormatsPage* page = nullptr;
    HWND list = nullptr;
};

KeyFormatItem Format(const wchar_t* name, uint32_t keyTypes, uint32_t keySize, uint32_t enabled)
{
    KeyFormatItem item;
    item.Name = name;
    item.Template = L"%u";
    item.Params = L"b0";
    item.KeyTypes = keyTypes;
    item.KeySize = keySize;
    item.Enabled = enabled;
    return item;
}

} // namespace

TEST_F(FormatsPageTest, DefaultLibraryAndOnlyEnabled)
{
    EXPECT_EQ(Rows(), 42);
    EXPECT_TRUE(HasCheckBoxes());
    App().ModifiedFlags = 0;
    HWND box = GetDlgItem(page->GetHwnd(), IDC_ONLY_ENABLED);
    SendMessageW(box, BM_CLICK, 0, 0);
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(ItemText(list, 0, 1), L"HelmSaaS");
    EXPECT_FALSE(HasCheckBoxes());
    EXPECT_TRUE(App().FormatsOnlyEnabled);
    EXPECT_EQ(App().ModifiedFlags, DATA_UI);
    SendMessageW(box, BM_CLICK, 0, 0);
    EXPECT_EQ(Rows(), 42);
    EXPECT_TRUE(HasCheckBoxes());
    EXPECT_FALSE(App().FormatsOnlyEnabled);
}

TEST_F(FormatsPageTest, HeaderClickSortsAndReverses)
{
    std::vector<std::wstring> names;
    for (const auto& item : App().Formats)
        names.push_back(item.Name);
    std::sort(names.begin(), names.end());
    App().ModifiedFlags = 0;
    ClickColumn(Input(), list, 1);
    EXPECT_EQ(App().FormatsSortColumn, 2);
    EXPECT_EQ(App().ModifiedFlags, DATA_UI);
    EXPECT_EQ(ItemText(list, 0, 1), names.front());
    EXPECT_EQ(ItemText(list, 41, 1), names.back());
    EXPECT_EQ(ItemText(list, 0, 0), L"1");
    ClickColumn(Input(), list, 1);
    EXPECT_EQ(App().FormatsSortColumn, -2);
    EXPECT_EQ(ItemText(list, 0, 1), names.back());
    EXPECT_EQ(ItemText(list, 41, 1), names.front());
    // "#" shows library order; clicked again it still does.
    ClickColumn(Input(), list, 0);
    EXPECT_EQ(ItemText(list, 0, 1), App().Formats[0].Name);
    ClickColumn(Input(), list, 0);
    EXPECT_EQ(App().FormatsSortColumn, -1);
    EXPECT_EQ(ItemText(list, 0, 1), App().Formats[0].Name);
}

TEST_F(FormatsPageTest, StateIconEnablesAndMarksLibraryAndAddin)
{
    int row = 0;
    while (App().Formats[static_cast<size_t>(row)].Enabled)
        ++row;
    App().ModifiedFlags = 0;
    POINT at;
    ASSERT_TRUE(CheckBoxPoint(list, row, at));
    ClickAt(Input(), list, at);
    EXPECT_EQ(App().Formats[static_cast<size_t>(row)].Enabled, 1u);
    EXPECT_EQ(App().ModifiedFlags, DATA_LIBRARY | DATA_ADDIN);
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(2));
    // A click on the row's text does not toggle it.
    App().ModifiedFlags = 0;
    ClickAt(Input(), list, CellPoint(list, row, 1));
    EXPECT_EQ(App().Formats[static_cast<size_t>(row)].Enabled, 1u);
    EXPECT_EQ(App().ModifiedFlags, 0u);
}

TEST_F(FormatsPageTest, DeleteAsksAndRemovesExactlyTheSelected)
{
    const std::wstring third = ItemText(list, 3, 1);
    const std::wstring sixth = ItemText(list, 5, 1);
    SelectRows(list, {3, 5});
    Ui().AnswerMessage(IDCANCEL);
    PressKey(Input(), list, VK_DELETE);
    EXPECT_EQ(Rows(), 42);
    Ui().Clear();
    Ui().AnswerMessage(IDOK);
    PressKey(Input(), list, VK_DELETE);
    const auto asked = Ui().Messages();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, L"Remove 2 items?");
    EXPECT_EQ(asked[0].flags, static_cast<UINT>(MB_OKCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(Rows(), 40);
    EXPECT_EQ(App().Formats.size(), 40u);
    EXPECT_EQ(FindFormatByName(App().Formats, third), -1);
    EXPECT_EQ(FindFormatByName(App().Formats, sixth), -1);
    EXPECT_NE(FindFormatByName(App().Formats, L"HelmSaaS"), -1);
    EXPECT_EQ(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0), 0);
    EXPECT_TRUE(App().ModifiedFlags & DATA_LIBRARY);
}

TEST_F(FormatsPageTest, DeleteUnderAGroupTabStripsThatGroupOnly)
{
    UseLibrary({Format(L"hid+em", 6, 0, 0), Format(L"hid", 4, 0, 1), Format(L"em", 2, 0, 0)},
               {{L"HID", 4, 1}});
    ASSERT_EQ(TabCtrl_GetItemCount(page->Tabs()), 2);
    SelectTab(1);
    EXPECT_EQ(App().FormatsKTGroup, 1);
    ASSERT_EQ(Rows(), 2);
    SelectRows(list, {0, 1});
    App().ConfirmFlags = CONFIRM_REMOVE_FORMATS;
    App().ModifiedFlags = 0;
    Ui().AnswerMessage(IDOK);
    SendMessageW(GetDlgItem(page->GetHwnd(), IDC_FORMAT_DELETE), BM_CLICK, 0, 0);
    EXPECT_EQ(Rows(), 0);
    ASSERT_EQ(App().Formats.size(), 2u);
    EXPECT_EQ(App().Formats[0].Name, L"hid+em");
    EXPECT_EQ(App().Formats[0].KeyTypes, 2u);
    EXPECT_EQ(App().Formats[1].Name, L"em");
    // "hid" was enabled: the add-in's list changed as well.
    EXPECT_EQ(App().ModifiedFlags, DATA_LIBRARY | DATA_ADDIN);
    // The button asks only while the confirmation is on.
    SelectTab(0);
    SelectRows(list, {0});
    App().ConfirmFlags = 0;
    Ui().Clear();
    SendMessageW(GetDlgItem(page->GetHwnd(), IDC_FORMAT_DELETE), BM_CLICK, 0, 0);
    EXPECT_TRUE(Ui().Messages().empty());
    EXPECT_EQ(App().Formats.size(), 1u);
}

TEST_F(FormatsPageTest, OnlyConflictingRowsAreDrawnRed)
{
    // "a" and "b" conflict (size 0 against 5); "c" shares no key type; "d" is disabled.
    UseLibrary({Format(L"a", 2, 0, 1), Format(L"b", 6, 5, 1), Format(L"c", 8, 0, 1), Format(L"d", 2, 0, 0)});
    ASSERT_EQ(Rows(), 4);
    NMLVCUSTOMDRAW draw = {};
    draw.nmcd.dwDrawStage = CDDS_PREPAINT;
    EXPECT_EQ(SendNotify(list, draw.nmcd.hdr, NM_CUSTOMDRAW), CDRF_NOTIFYITEMDRAW);
    std::vector<bool> red;
    for (int row = 0; row < 4; ++row) {
        draw = {};
        draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
        draw.nmcd.dwItemSpec = static_cast<DWORD_PTR>(row);
        draw.clrText = CLR_DEFAULT;
        SendNotify(list, draw.nmcd.hdr, NM_CUSTOMDRAW);
        red.push_back(draw.clrText == RGB(255, 0, 0));
    }
    EXPECT_EQ(red, (std::vector<bool>{true, true, false, false}));
    // Disabling "a" by its state icon removes the red from "b" at once.
    POINT at;
    ASSERT_TRUE(CheckBoxPoint(list, 0, at));
    ClickAt(Input(), list, at);
    EXPECT_EQ(App().Formats[1].Conflict, 0u);
}

// Counts, per row, the pixels of the list's own drawing that are pure red.
std::vector<int> RedPixelsPerRow(HWND list, int rows)
{
    RECT client;
    GetClientRect(list, &client);
    const int width = client.right;
    const int height = client.bottom;
    CDibCanvas canvas(width, height);
    if (!canvas.Dc())
        return {};
    // The list paints itself into the bitmap (custom draw included), whatever covers it on screen.
    if (!PrintWindow(list, canvas.Dc(), PW_CLIENTONLY)) {
        HDC screen = GetDC(list);
        BitBlt(canvas.Dc(), 0, 0, width, height, screen, 0, 0, SRCCOPY);
        ReleaseDC(list, screen);
    }
    GdiFlush();
    std::vector<int> red;
    for (int row = 0; row < rows; ++row) {
        RECT r = {};
        r.left = LVIR_BOUNDS;
        SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r));
        int count = 0;
        for (int y = std::max<int>(r.top, 0); y < std::min<int>(r.bottom, height); ++y) {
            for (int x = std::max<int>(r.left, 0); x < std::min<int>(r.right, width); ++x) {
                const DWORD p = canvas.At(x, y);
                const int R = (p >> 16) & 0xFF, G = (p >> 8) & 0xFF, B = p & 0xFF;
                if (R > 200 && G < 80 && B < 80)
                    ++count;
            }
        }
        red.push_back(count);
    }
    return red;
}

TEST_F(FormatsPageTest, ScreenshotShowsExactlyTheConflictingRowsInRed)
{
    UseLibrary({Format(L"a", 2, 0, 1), Format(L"b", 6, 5, 1), Format(L"c", 8, 0, 1), Format(L"d", 2, 0, 0)});
    ListView_SelectCentered(list, -1);
    RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    const std::vector<int> red = RedPixelsPerRow(list, 4);
    ASSERT_EQ(red.size(), 4u);
    EXPECT_GT(red[0], 10) << "row a";
    EXPECT_GT(red[1], 10) << "row b";
    EXPECT_EQ(red[2], 0) << "row c";
    EXPECT_EQ(red[3], 0) << "row d";
}

TEST_F(FormatsPageTest, AnEmptyListSaysSo)
{
    // Wine's list view never asks for the empty-list text, so the page is asked as the list would.
    NMLVEMPTYMARKUP markup = {};
    EXPECT_EQ(SendNotify(list, markup.hdr, LVN_GETEMPTYMARKUP), TRUE);
    EXPECT_STREQ(markup.szMarkup, L"List is empty.");
    EXPECT_EQ(markup.dwFlags, static_cast<DWORD>(EMF_CENTERED));
}

TEST_F(FormatsPageTest, GroupMenuHidesAndShowsTabs)
{
    UseLibrary({Format(L"hid", 4, 0, 0), Format(L"em", 2, 0, 0)}, {{L"HID", 4, 1}, {L"EM", 2, 0}});
    ASSERT_EQ(TabCtrl_GetItemCount(page->Tabs()), 2);
    SelectTab(1);
    ASSERT_EQ(Rows(), 1);
    // Hiding the selected group's tab switches to "All".
    SendMessageW(page->GetHwnd(), WM_COMMAND, ID_GROUP_FIRST + 0, 0);
    EXPECT_EQ(App().FormatsKTGroup, 0);
    EXPECT_EQ(TabCtrl_GetItemCount(page->Tabs()), 1);
    EXPECT_EQ(Rows(), 2);
    // Showing a hidden group selects its tab at once.
    SendMessageW(page->GetHwnd(), WM_COMMAND, ID_GROUP_FIRST + 1, 0);
    EXPECT_EQ(App().FormatsKTGroup, 2);
    EXPECT_EQ(TabCtrl_GetItemCount(page->Tabs()), 2);
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(ItemText(list, 0, 1), L"em");
    EXPECT_TRUE(App().ModifiedFlags & DATA_LIBRARY);
}

// As a user opens a format: a double click on any cell of its row but the check box, or Enter on
// the selected row, opens the format dialog; a click on the check box alone does not.
TEST_F(FormatsPageTest, AFormatOpensOnADoubleClickOrEnter)
{
    ASSERT_GT(Rows(), 2);
    for (int column : {1, 3, 6}) {
        Ui().AnswerModal(IDCANCEL);
        Input().DoubleClick(list, CUserInput::ListCell(list, 1, column));
        EXPECT_EQ(0u, Ui().PendingAnswers()) << "a double click on column " << column << " opened nothing";
        Ui().Clear();
    }
    SelectRows(list, {2});
    SetFocus(list);
    Ui().AnswerModal(IDCANCEL);
    Input().PressKey(VK_RETURN);
    EXPECT_EQ(0u, Ui().PendingAnswers()) << "Enter opened nothing";
    ASSERT_EQ(1u, Ui().Asked().size());
    EXPECT_EQ(UiAsk::Modal, Ui().Asked()[0].kind);
    Ui().Clear();
    // The check box toggles and opens nothing.
    POINT box;
    ASSERT_TRUE(CheckBoxPoint(list, 1, box));
    Input().Click(list, box);
    EXPECT_TRUE(Ui().Asked().empty());
}

// Space toggles the focused format's check box as a click on the box does; with several rows
// selected, every selected row takes the focused row's new state.
TEST_F(FormatsPageTest, SpaceTogglesTheFocusedFormatOrEverySelectedOne)
{
    UseLibrary({Format(L"a", 2, 0, 0), Format(L"b", 4, 0, 1), Format(L"c", 8, 0, 0), Format(L"d", 2, 5, 0)});
    Input().Click(list, CUserInput::ListCell(list, 0, 1));
    ASSERT_EQ(GetFocus(), list);
    App().ModifiedFlags = 0;
    Input().PressKey(VK_SPACE);
    EXPECT_EQ(App().Formats[0].Enabled, 1u);
    EXPECT_EQ(App().ModifiedFlags, DATA_LIBRARY | DATA_ADDIN);
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMSTATE, 0, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(2));
    Input().PressKey(VK_SPACE);
    EXPECT_EQ(App().Formats[0].Enabled, 0u);

    // Rows a to c selected by Shift+Down, the focus on c (unchecked): all three end checked. The
    // conflicts follow at once: a and d share Em-Marine, d's size against a's any.
    Input().PressKey(VK_DOWN, MOD_SHIFT);
    Input().PressKey(VK_DOWN, MOD_SHIFT);
    ASSERT_EQ(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0), 3);
    Input().PressKey(VK_SPACE);
    EXPECT_EQ(App().Formats[0].Enabled, 1u);
    EXPECT_EQ(App().Formats[1].Enabled, 1u);
    EXPECT_EQ(App().Formats[2].Enabled, 1u);
    EXPECT_EQ(App().Formats[3].Enabled, 0u);
    EXPECT_EQ(App().Formats[0].Conflict, 0u);
    Input().PressKey(VK_END);
    Input().PressKey(VK_SPACE);
    EXPECT_EQ(App().Formats[3].Enabled, 1u);
    EXPECT_EQ(App().Formats[0].Conflict, 1u);
    EXPECT_EQ(App().Formats[3].Conflict, 1u);
    Input().PressKey(VK_SPACE);
    EXPECT_EQ(App().Formats[3].Enabled, 0u);
    EXPECT_EQ(App().Formats[0].Conflict, 0u);
}

// Change... and Delete follow the selection: after Delete nothing is selected and both are off,
// also when the list is left empty; a row selected again turns them on.
TEST_F(FormatsPageTest, DeleteLeavesChangeAndDeleteOffWithNothingSelected)
{
    UseLibrary({Format(L"a", 2, 0, 0), Format(L"b", 4, 0, 0), Format(L"c", 8, 0, 0)});
    HWND change = GetDlgItem(page->GetHwnd(), IDC_FORMAT_CHANGE);
    HWND remove = GetDlgItem(page->GetHwnd(), IDC_FORMAT_DELETE);
    Input().Click(list, CUserInput::ListCell(list, 1, 1));
    Input().PumpFor(50);
    ASSERT_TRUE(IsWindowEnabled(change));
    ASSERT_TRUE(IsWindowEnabled(remove));
    Ui().AnswerMessage(IDOK);
    Input().PressKey(VK_DELETE);
    Input().PumpFor(50);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0), 0);
    EXPECT_FALSE(IsWindowEnabled(change));
    EXPECT_FALSE(IsWindowEnabled(remove));

    Input().Click(list, CUserInput::ListCell(list, 0, 1));
    Input().PressKey(VK_END, MOD_SHIFT);
    Input().PumpFor(50);
    ASSERT_EQ(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0), 2);
    EXPECT_FALSE(IsWindowEnabled(change));
    EXPECT_TRUE(IsWindowEnabled(remove));
    App().ConfirmFlags = CONFIRM_REMOVE_FORMATS;
    Ui().AnswerMessage(IDOK);
    Input().Click(remove, CUserInput::Centre(remove));
    Input().PumpFor(50);
    ASSERT_EQ(Rows(), 0);
    EXPECT_FALSE(IsWindowEnabled(change));
    EXPECT_FALSE(IsWindowEnabled(remove));
}
