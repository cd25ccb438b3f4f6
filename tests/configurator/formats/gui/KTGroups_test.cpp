// The key-type groups dialogs in process, opened from the library page's "Customize tab...": mask
// texts, adding a group and its tab, and the duplicate questions of the group dialog.
#include "FormatsPage.h"
#include "FormatsPageRes.h"
#include "KTGroupsDialog.h"
#include "KTGroupsRes.h"
#include "KeyTypeTexts.h"
#include "KeyTypesRes.h"
#include "PageHelpers.h"

using namespace formats_test;

namespace {

class KTGroupsTest : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        StartApp();
        ClickTab(1);
        page = dynamic_cast<CZFormatsPage*>(App().GetPage(1));
        ASSERT_NE(page, nullptr);
    }
    // Opens the groups dialog; `inGroups` acts on it and its OK or Cancel is sent afterwards.
    void Customize(std::function<void(HWND)> inGroups, int end = IDOK)
    {
        Ui().DriveModal([=](HWND groups) {
            inGroups(groups);
            ClickButton(Input(), groups, end);
        });
        SendMessageW(page->GetHwnd(), WM_COMMAND, ID_CUSTOMIZE_TABS, 0);
    }
    static CDlgKTGroup* GroupDialog(HWND d) { return reinterpret_cast<CDlgKTGroup*>(GetWindowLongPtrW(d, DWLP_USER)); }

    CZFormatsPage* page = nullptr;
};

} // namespace

TEST_F(KTGroupsTest, AddingAGroupShowsItsTab)
{
    const size_t groups = App().KTGroups.size();
    const int tabs = TabCtrl_GetItemCount(page->Tabs());
    std::wstring all, none, temic, row;
    int focusAtOpen = 0;
    App().ModifiedFlags = 0;
    Customize([&](HWND dialog) {
        Ui().DriveModal([&](HWND d) {
            // The dialog opens on the name: the user types it straight away.
            focusAtOpen = GetDlgCtrlID(GetFocus());
            if (focusAtOpen != IDC_GROUP_NAME)
                SetFocus(GetDlgItem(d, IDC_GROUP_NAME)); // told below; the rest goes on
            Input().TypeText(L"R&D Temic only");
            SendMessageW(d, WM_COMMAND, ID_KEY_TYPES_CHECK_ALL, 0);
            all = ControlText(GetDlgItem(d, IDC_GROUP_MASK));
            SendMessageW(d, WM_COMMAND, ID_KEY_TYPES_UNCHECK_ALL, 0);
            none = ControlText(GetDlgItem(d, IDC_GROUP_MASK));
            HWND types = GetDlgItem(d, IDC_GROUP_KEY_TYPES);
            SendMessageW(types, LVM_ENSUREVISIBLE, 18, FALSE);
            POINT at = {};
            EXPECT_TRUE(CheckBoxPoint(types, 18, at));
            ClickAt(Input(), types, at);
            temic = ControlText(GetDlgItem(d, IDC_GROUP_MASK));
            ClickButton(Input(), d, IDOK);
        });
        ClickButton(Input(), dialog, IDC_GROUP_ADD);
        HWND list = GetDlgItem(dialog, IDC_GROUPS_LIST);
        const int selected = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
        row = ItemText(list, selected, 2);
    });
    EXPECT_EQ(all, L"7FFFFh");
    EXPECT_EQ(none, L"0000h");
    EXPECT_EQ(temic, L"40000h");
    EXPECT_EQ(row, L"Temic");
    ASSERT_EQ(App().KTGroups.size(), groups + 1);
    EXPECT_EQ(focusAtOpen, IDC_GROUP_NAME);
    EXPECT_EQ(App().KTGroups.back().Name, L"R&D Temic only");
    EXPECT_EQ(App().KTGroups.back().Visible, 1u);
    ASSERT_EQ(TabCtrl_GetItemCount(page->Tabs()), tabs + 1);
    // The tab shows the name as typed: its text doubles the ampersand, which a single one would
    // turn into an access-key mark ("RD Temic only", D underlined).
    wchar_t caption[64] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = caption;
    item.cchTextMax = 64;
    ASSERT_TRUE(TabCtrl_GetItem(page->Tabs(), tabs, &item));
    EXPECT_STREQ(caption, L"R&&D Temic only");
    EXPECT_TRUE(App().ModifiedFlags & DATA_LIBRARY);
}

TEST_F(KTGroupsTest, CancelDropsGroupEditsButKeepsTheSortColumn)
{
    const KeyTypeGroupList before = App().KTGroups;
    Customize(
        [&](HWND dialog) {
            HWND list = GetDlgItem(dialog, IDC_GROUPS_LIST);
            SelectRows(list, {0});
            Ui().AnswerMessage(IDOK);
            ClickButton(Input(), dialog, IDC_GROUP_DELETE);
            EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), static_cast<LRESULT>(before.size() - 1));
            ClickColumn(Input(), list, 1);
            ClickColumn(Input(), list, 1);
        },
        IDCANCEL);
    EXPECT_EQ(App().KTGroups.size(), before.size());
    EXPECT_EQ(App().KTGroupsSortColumn, -2);
    const auto asked = Ui().Messages();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, L"Remove 1 items?");
}

TEST_F(KTGroupsTest, AGroupWithAnExistingMaskReplacesItAfterAsking)
{
    size_t existing = 0;
    while (existing < App().KTGroups.size() &&
           (App().KTGroups[existing].KeyTypes == 0 || App().KTGroups[existing].KeyTypes == ALL_KEY_TYPES))
        ++existing;
    ASSERT_LT(existing, App().KTGroups.size());
    const uint32_t mask = App().KTGroups[existing].KeyTypes;
    const size_t groups = App().KTGroups.size();
    int focusAfterCancel = 0;
    Customize([&](HWND dialog) {
        Ui().DriveModal([&](HWND d) {
            SetDlgItemTextW(d, IDC_GROUP_NAME, L"Same types");
            GroupDialog(d)->SetMask(mask);
            Ui().AnswerMessage(IDCANCEL);
            ClickButton(Input(), d, IDOK);
            focusAfterCancel = GetDlgCtrlID(GetFocus());
            Ui().AnswerMessage(IDOK);
            ClickButton(Input(), d, IDOK);
        });
        ClickButton(Input(), dialog, IDC_GROUP_ADD);
    });
    EXPECT_EQ(focusAfterCancel, IDC_GROUP_KEY_TYPES);
    const auto asked = Ui().Messages();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].text, L"Group with the types of keys \"" + MaskHexText(mask) + L"\" already exists. Replace?");
    EXPECT_EQ(App().KTGroups.size(), groups);
    EXPECT_EQ(App().KTGroups[existing].Name, L"Same types");
    EXPECT_EQ(App().KTGroups[existing].KeyTypes, mask);
}

TEST_F(KTGroupsTest, RenamingOntoAnotherGroupKeepsTheLowerPosition)
{
    ASSERT_GE(App().KTGroups.size(), 3u);
    const std::wstring first = App().KTGroups[0].Name;
    const std::wstring third = App().KTGroups[2].Name;
    const size_t groups = App().KTGroups.size();
    Customize([&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_GROUPS_LIST);
        SelectRows(list, {2});
        Ui().DriveModal([&](HWND d) {
            SetDlgItemTextW(d, IDC_GROUP_NAME, first.c_str());
            GroupDialog(d)->SetMask(ALL_KEY_TYPES); // no mask question for "all"
            Ui().AnswerMessage(IDOK);
            ClickButton(Input(), d, IDOK);
        });
        ClickButton(Input(), dialog, IDC_GROUP_CHANGE);
    });
    ASSERT_EQ(App().KTGroups.size(), groups - 1);
    EXPECT_EQ(App().KTGroups[0].Name, first);
    EXPECT_EQ(App().KTGroups[0].KeyTypes, ALL_KEY_TYPES);
    for (const auto& group : App().KTGroups)
        EXPECT_NE(group.Name, third);
}

TEST_F(KTGroupsTest, TheSelectedTabFollowsItsGroupThroughTheDialog)
{
    App().KTGroups = {{L"HID", 4, 1}, {L"EM", 2, 1}, {L"CAME", 0x1000, 1}, {L"DS", 0x800, 1}};
    App().FormatsKTGroup = 4;
    page->UpdateData(false);
    const auto selectedTab = [&] {
        wchar_t text[64] = {};
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = 64;
        SendMessageW(page->Tabs(), TCM_GETITEMW, SendMessageW(page->Tabs(), TCM_GETCURSEL, 0, 0),
                     reinterpret_cast<LPARAM>(&item));
        return std::wstring(text);
    };
    ASSERT_EQ(selectedTab(), L"DS");
    const auto inGroups = [](HWND d) { return reinterpret_cast<CDlgKTGroups*>(GetWindowLongPtrW(d, DWLP_USER)); };
    const auto deleteGroup = [&](const wchar_t* name) {
        Customize([&](HWND d) {
            CDlgKTGroups* groups = inGroups(d);
            for (size_t i = 0; i < groups->Groups.size(); ++i)
                if (groups->Groups[i].Name == name)
                    SelectRows(groups->List(), {static_cast<int>(groups->View().RowOf(static_cast<int64_t>(i)))});
            Ui().AnswerMessage(IDOK);
            ClickButton(Input(), d, IDC_GROUP_DELETE);
        });
    };

    // Deleting a group before it: the tab stays on "DS", now the third group.
    deleteGroup(L"HID");
    EXPECT_EQ(App().FormatsKTGroup, 3);
    EXPECT_EQ(selectedTab(), L"DS");
    EXPECT_EQ(page->View().FilterMask, 0x800u);

    // Renaming "CAME" onto "EM" collapses the two into the lower, before "DS": it moves up again.
    Customize([&](HWND d) {
        CDlgKTGroups* groups = inGroups(d);
        SelectRows(groups->List(), {static_cast<int>(groups->View().RowOf(1))});
        Ui().DriveModal([&](HWND g) {
            SetDlgItemTextW(g, IDC_GROUP_NAME, L"EM");
            Ui().AnswerMessage(IDOK);
            ClickButton(Input(), g, IDOK);
        });
        ClickButton(Input(), d, IDC_GROUP_CHANGE);
    });
    ASSERT_EQ(App().KTGroups.size(), 2u);
    EXPECT_EQ(App().FormatsKTGroup, 2);
    EXPECT_EQ(selectedTab(), L"DS");

    // Deleting the group itself shows "All".
    deleteGroup(L"DS");
    EXPECT_EQ(App().FormatsKTGroup, 0);
    EXPECT_EQ(SendMessageW(page->Tabs(), TCM_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(page->View().FilterMask, 0u);
}

// Space toggles a check box by the keyboard in both dialogs: the focused group's tab in the list
// of groups, the focused key type in the group dialog, as clicks on their boxes do.
TEST_F(KTGroupsTest, SpaceTogglesTheFocusedGroupAndKeyType)
{
    ASSERT_GE(App().KTGroups.size(), 2u);
    const uint32_t firstVisible = App().KTGroups[0].Visible;
    std::wstring mask;
    Customize([&](HWND dialog) {
        ShowWindow(dialog, SW_SHOWNORMAL);
        HWND list = GetDlgItem(dialog, IDC_GROUPS_LIST);
        Input().Click(list, CUserInput::ListCell(list, 0, 1));
        ASSERT_EQ(GetFocus(), list);
        Input().PressKey(VK_SPACE);
        EXPECT_EQ(SendMessageW(list, LVM_GETITEMSTATE, 0, LVIS_STATEIMAGEMASK),
                  INDEXTOSTATEIMAGEMASK(firstVisible ? 1 : 2));
        Ui().DriveModal([&](HWND d) {
            ShowWindow(d, SW_SHOWNORMAL);
            SetDlgItemTextW(d, IDC_GROUP_NAME, L"By keys");
            SendMessageW(d, WM_COMMAND, ID_KEY_TYPES_UNCHECK_ALL, 0);
            HWND types = GetDlgItem(d, IDC_GROUP_KEY_TYPES);
            Input().Click(types, CUserInput::ListCell(types, 3, 0)); // iCode
            Input().PressKey(VK_SPACE);
            Input().PressKey(VK_UP);
            Input().PressKey(VK_SPACE); // HID
            Input().PressKey(VK_SPACE); // and back
            Input().PressKey(VK_HOME);
            Input().PressKey(VK_SPACE); // Unknown
            mask = ControlText(GetDlgItem(d, IDC_GROUP_MASK));
            ClickButton(Input(), d, IDOK);
        });
        ClickButton(Input(), dialog, IDC_GROUP_ADD);
    });
    EXPECT_EQ(mask, L"0009h");
    EXPECT_EQ(App().KTGroups[0].Visible, firstVisible ? 0u : 1u);
    ASSERT_FALSE(App().KTGroups.empty());
    EXPECT_EQ(App().KTGroups.back().Name, L"By keys");
    EXPECT_EQ(App().KTGroups.back().KeyTypes, 9u);
}
