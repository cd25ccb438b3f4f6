// The read-keys page in process: blocks per sector, the key source, the key-type and key-cell
// lists, values that have no selection, the Mifare key limit (which stops a Save), what marks the
// add-in settings modified, and the round trip through the add-in's settings.
#include "AppMessageBox.h"
#include "AppResource.h"
#include "KeyTypeTexts.h"
#include "KeyTypesRes.h"
#include "PageHelpers.h"
#include "PageRefusal.h"
#include "ReadKeysPage.h"
#include "ReadKeysPageRes.h"

using namespace formats_test;

namespace {

class ReadKeysPageTest : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        StartApp();
        ClickTab(2);
        page = dynamic_cast<CReadKeysPage*>(App().GetPage(2));
        ASSERT_NE(page, nullptr);
        dialog = page->GetHwnd();
    }
    // Mifare Classic reading turned on as a user does it: its controls take clicks only then.
    void TurnOnMifare()
    {
        if (SendMessageW(Item(IDC_MF_ENABLED), BM_GETCHECK, 0, 0) != BST_CHECKED)
            Click(IDC_MF_ENABLED);
        ASSERT_TRUE(IsWindowEnabled(Item(IDC_MF_KEY_A)));
        App().ModifiedFlags = 0;
    }
    HWND Item(int id) const { return GetDlgItem(dialog, id); }
    int Count(int id) const { return static_cast<int>(SendMessageW(Item(id), CB_GETCOUNT, 0, 0)); }
    int Selection(int id) const { return static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0)); }
    void Choose(int id, int index)
    {
        SendMessageW(Item(id), CB_SETCURSEL, index, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(id)));
    }
    void Click(int id) { ClickButton(Input(), dialog, id); }

    CReadKeysPage* page = nullptr;
    HWND dialog = nullptr;
};

} // namespace

TEST_F(ReadKeysPageTest, SectorDecidesTheBlocks)
{
    App().ModifiedFlags = 0;
    Choose(IDC_MF_SECTOR, 32);
    EXPECT_EQ(Count(IDC_MF_BLOCK), 16);
    EXPECT_EQ(App().ReadMf.Sect, 32u);
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN);
    Choose(IDC_MF_SECTOR, 31);
    EXPECT_EQ(Count(IDC_MF_BLOCK), 4);
    EXPECT_EQ(Count(IDC_MF_SECTOR), 40);
    EXPECT_EQ(Count(IDC_UL_PAGE), 16);
    EXPECT_EQ(Count(IDC_UL_COUNT), 4);
}

TEST_F(ReadKeysPageTest, ABlockTheSectorLacksBecomesTheOneTheReaderReads)
{
    // Sector 32 with block 10, then sector 5: the reader would read block 10 % 4 = 2 of it, and
    // that block is what the page now stores and shows (never an empty block list).
    Choose(IDC_MF_SECTOR, 32);
    Choose(IDC_MF_BLOCK, 10);
    EXPECT_EQ(App().ReadMf.Block, 10u);
    Choose(IDC_MF_SECTOR, 5);
    EXPECT_EQ(Selection(IDC_MF_BLOCK), 2);
    EXPECT_EQ(App().ReadMf.Block, 2u);
    page->UpdateData(true);
    EXPECT_EQ(App().ReadMf.Block, 2u);
    EXPECT_EQ(App().ReadMf.Sect, 5u);
    // A stored setting with such a block is shown the same way.
    App().ReadMf.Sect = 7;
    App().ReadMf.Block = 13;
    page->UpdateData(false);
    EXPECT_EQ(Selection(IDC_MF_BLOCK), 1);
    EXPECT_EQ(App().ReadMf.Block, 1u);
}

TEST_F(ReadKeysPageTest, NoSelectionLeavesTheValue)
{
    // A stored page beyond the list shows no selection and stays.
    App().ReadUL.Page = 99;
    page->UpdateData(false);
    EXPECT_EQ(Selection(IDC_UL_PAGE), -1);
    page->UpdateData(true);
    EXPECT_EQ(App().ReadUL.Page, 99u);
}

TEST_F(ReadKeysPageTest, KeyChoiceAndKeyEditMarkTheAddinSettings)
{
    TurnOnMifare();
    App().ModifiedFlags = 0;
    Click(IDC_MF_KEY_B);
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN);
    EXPECT_EQ(App().ReadMf.Flags & 1, 1u);
    App().ModifiedFlags = 0;
    Click(IDC_MF_KEY_A);
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN);
    EXPECT_EQ(App().ReadMf.Flags & 1, 0u);
    App().ModifiedFlags = 0;
    SetDlgItemTextW(dialog, IDC_MF_KEY, L"a1b2");
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN);
    // Loading the page is no edit.
    App().ModifiedFlags = 0;
    App().ReadMf.Passw = 0x1234;
    page->UpdateData(false);
    EXPECT_EQ(App().ModifiedFlags, 0u);

    // So closing asks about the key choice instead of dropping it.
    Click(IDC_MF_KEY_B);
    Ui().AnswerMessage(IDCANCEL);
    EXPECT_FALSE(ClickClose());
    const auto asked = Ui().Messages();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, LoadAppString(IDS_SAVE_CHANGES));
}

TEST_F(ReadKeysPageTest, SourceChoiceSwapsTheKeyControls)
{
    TurnOnMifare();
    EXPECT_TRUE(IsWindowVisible(Item(IDC_MF_KEY)));
    EXPECT_FALSE(IsWindowVisible(Item(IDC_MF_KEY_CELLS)));
    RECT edit, cells;
    GetWindowRect(Item(IDC_MF_KEY), &edit);
    GetWindowRect(Item(IDC_MF_KEY_CELLS), &cells);
    EXPECT_EQ(edit.left, cells.left);
    EXPECT_EQ(edit.top, cells.top);
    Click(IDC_MF_SOURCE_MEMORY);
    EXPECT_FALSE(IsWindowVisible(Item(IDC_MF_KEY)));
    EXPECT_TRUE(IsWindowVisible(Item(IDC_MF_KEY_CELLS)));
    EXPECT_EQ(App().ReadMf.Flags & 2, 2u);
    Click(IDC_MF_KEY_B);
    page->UpdateData(true);
    EXPECT_EQ(App().ReadMf.Flags & 3, 3u);
    Click(IDC_MF_SOURCE_VALUE);
    EXPECT_TRUE(IsWindowVisible(Item(IDC_MF_KEY)));
    EXPECT_EQ(App().ReadMf.Flags & 2, 0u);
}

TEST_F(ReadKeysPageTest, ListsCheckAndUncheck)
{
    TurnOnMifare();
    SendMessageW(dialog, WM_COMMAND, ID_KEY_TYPES_UNCHECK_ALL, 0);
    EXPECT_EQ(App().KeyTypes, 0u);
    HWND types = Item(IDC_KEY_TYPES_LIST);
    EXPECT_EQ(SendMessageW(types, LVM_GETITEMCOUNT, 0, 0), 19);
    // A click on the "HID" check box checks HID only; a click on its text does nothing.
    App().ModifiedFlags = 0;
    POINT at;
    ASSERT_TRUE(CheckBoxPoint(types, 2, at));
    ClickAt(Input(), types, at);
    EXPECT_EQ(App().KeyTypes, 4u);
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN);
    ClickAt(Input(), types, CellPoint(types, 2, 0));
    EXPECT_EQ(App().KeyTypes, 4u);
    EXPECT_EQ(ItemText(types, 2, 0), L"HID");

    Click(IDC_MF_SOURCE_MEMORY);
    HWND cells = Item(IDC_MF_KEY_CELLS);
    EXPECT_EQ(SendMessageW(cells, LVM_GETITEMCOUNT, 0, 0), 32);
    EXPECT_EQ(ItemText(cells, 7, 0), L"Cell #7");
    SendMessageW(dialog, WM_COMMAND, ID_CELLS_UNCHECK_ALL, 0);
    EXPECT_EQ(App().ReadMf.Mask, 0u);
    ASSERT_TRUE(CheckBoxPoint(cells, 3, at));
    ClickAt(Input(), cells, at);
    EXPECT_EQ(App().ReadMf.Mask, 8u);
    SendMessageW(dialog, WM_COMMAND, ID_CELLS_CHECK_ALL, 0);
    EXPECT_EQ(App().ReadMf.Mask, 0xFFFFFFFFu);
}

TEST_F(ReadKeysPageTest, MifareKeyOfMoreThan48BitsOrNoKeyAtAllIsRefused)
{
    SetDlgItemTextW(dialog, IDC_MF_KEY, L"A1B2C3D4E5F6");
    page->UpdateData(true);
    EXPECT_EQ(App().ReadMf.Passw, 0xA1B2C3D4E5F6ULL);
    for (const wchar_t* bad : {L"1A1B2C3D4E5F6", L"zz", L""}) {
        SetDlgItemTextW(dialog, IDC_MF_KEY, bad);
        try {
            page->UpdateData(true);
            ADD_FAILURE() << testing::PrintToString(std::wstring(bad)) << " was taken";
        } catch (const CPageRefusal& refusal) {
            EXPECT_NE(refusal.Text().find(L"48 bits"), std::wstring::npos);
        }
        EXPECT_EQ(App().ReadMf.Passw, 0xA1B2C3D4E5F6ULL);
    }
    // "0" stores 0.
    SetDlgItemTextW(dialog, IDC_MF_KEY, L"0");
    page->UpdateData(true);
    EXPECT_EQ(App().ReadMf.Passw, 0u);
}

TEST_F(ReadKeysPageTest, ARefusedKeyStopsTheSaveAndClosingAsksOnce)
{
    App().ConfirmFlags = 0;
    App().Portname = L"COM5"; // an edit that a Save would write
    SetDlgItemTextW(dialog, IDC_MF_KEY, L"1A1B2C3D4E5F6");
    Ui().AnswerMessage(IDOK);
    ClickCommand(ID_APP_SAVE);
    auto asked = Ui().Messages();
    ASSERT_EQ(asked.size(), 1u) << "no \"Successfully.\" after the refusal";
    EXPECT_NE(asked[0].text.find(L"48 bits"), std::wstring::npos);
    EXPECT_EQ(asked[0].flags, static_cast<UINT>(MB_ICONERROR));
    EXPECT_TRUE(App().ModifiedFlags & DATA_ADDIN);
    // Nothing was written: the store still holds the port of before.
    App().Load(DATA_ADDIN);
    EXPECT_EQ(App().Portname, L"Auto");

    // Closing asks one question, naming the refusal; Cancel keeps the window.
    SetDlgItemTextW(dialog, IDC_MF_KEY, L"1A1B2C3D4E5F6");
    Ui().Clear();
    Ui().AnswerMessage(IDCANCEL);
    EXPECT_FALSE(ClickClose());
    asked = Ui().Messages();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text.find(LoadAppString(IDS_SAVE_FAILED_QUIT)), 0u);
    EXPECT_NE(asked[0].text.find(L"48 bits"), std::wstring::npos);
    EXPECT_EQ(asked[0].flags, static_cast<UINT>(MB_OKCANCEL | MB_ICONERROR));
}

TEST_F(ReadKeysPageTest, EveryFieldRoundTripsThroughTheSettings)
{
    Click(IDC_MF_ENABLED);
    Choose(IDC_MF_SECTOR, 35);
    Choose(IDC_MF_BLOCK, 15);
    Click(IDC_MF_KEY_B);
    SetDlgItemTextW(dialog, IDC_MF_KEY, L"123456789abc");
    Click(IDC_UL_ENABLED);
    Choose(IDC_UL_PAGE, 15);
    Choose(IDC_UL_COUNT, 3);
    SendMessageW(dialog, WM_COMMAND, ID_KEY_TYPES_UNCHECK_ALL, 0);
    Click(IDC_MF_SOURCE_MEMORY);
    SendMessageW(dialog, WM_COMMAND, ID_CELLS_UNCHECK_ALL, 0);
    page->UpdateData(true);
    EXPECT_EQ(App().ReadUL.Count, 4u);
    EXPECT_EQ(App().ReadUL.Page, 15u);
    App().Save(DATA_ADDIN);

    // Everything back to other values, then loaded from the store and shown.
    App().ReadMf = ReadMfSettings();
    App().ReadUL = ReadULSettings();
    App().KeyTypes = ALL_KEY_TYPES;
    App().Load(DATA_ADDIN);
    page->UpdateData(false);
    EXPECT_TRUE(SendMessageW(Item(IDC_MF_ENABLED), BM_GETCHECK, 0, 0) == BST_CHECKED);
    EXPECT_EQ(Selection(IDC_MF_SECTOR), 35);
    EXPECT_EQ(Count(IDC_MF_BLOCK), 16);
    EXPECT_EQ(Selection(IDC_MF_BLOCK), 15);
    EXPECT_TRUE(SendMessageW(Item(IDC_MF_KEY_B), BM_GETCHECK, 0, 0) == BST_CHECKED);
    EXPECT_TRUE(SendMessageW(Item(IDC_MF_SOURCE_MEMORY), BM_GETCHECK, 0, 0) == BST_CHECKED);
    EXPECT_EQ(ControlText(Item(IDC_MF_KEY)), L"123456789abc");
    EXPECT_TRUE(SendMessageW(Item(IDC_UL_ENABLED), BM_GETCHECK, 0, 0) == BST_CHECKED);
    EXPECT_EQ(Selection(IDC_UL_PAGE), 15);
    EXPECT_EQ(Selection(IDC_UL_COUNT), 3);
    EXPECT_EQ(App().KeyTypes, 0u);
    EXPECT_EQ(App().ReadMf.Mask, 0u);
    EXPECT_EQ(page->KeyTypesView().Mask, 0u);
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_UL_PAGE)));
    Click(IDC_UL_ENABLED);
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_UL_PAGE)));
    EXPECT_FALSE(IsWindowEnabled(GetWindow(Item(IDC_UL_PAGE), GW_HWNDPREV)));
}

namespace {

// The page as a user reaches it: by its tab, and its key edit by a click and the keyboard.
class ReadKeysByHand : public ReadKeysPageTest
{
protected:
    void ClickMainTab(int index)
    {
        HWND tabs = App().GetTabControl();
        Input().Click(tabs, CUserInput::Tab(tabs, index));
        ASSERT_EQ(index, App().GetCurrentPage());
    }
    void TypeKey(const std::wstring& text)
    {
        Input().ReplaceText(Item(IDC_MF_KEY), text);
        ASSERT_EQ(ControlText(Item(IDC_MF_KEY)), text);
    }
    void ClickSave()
    {
        HWND save = App().GetButton(1);
        Input().Click(save, CUserInput::Centre(save));
    }
    // The key the add-in's store holds now.
    uint64_t StoredKey()
    {
        const uint64_t shown = App().ReadMf.Passw;
        App().Load(DATA_ADDIN);
        const uint64_t stored = App().ReadMf.Passw;
        App().ReadMf.Passw = shown;
        return stored;
    }
};

} // namespace

// A key typed with a letter that is no hexadecimal digit, or with no key in front of digits, is
// refused at Save: one box naming the field, the page in front, the user back in the field with
// the text to mend, and the stored key as it was. Mended, it is saved as typed.
TEST_F(ReadKeysByHand, AMistypedKeyIsRefusedAtSaveAndNothingIsWritten)
{
    App().ConfirmFlags = 0; // no "Really?" before the save
    Click(IDC_MF_ENABLED);
    TypeKey(L"3c7a91e5b20d");
    Ui().AnswerMessage(IDOK);
    ClickSave();
    ASSERT_EQ(StoredKey(), 0x3C7A91E5B20DULL);
    // The whole refusal, in the program's language: it names the field by its label without the
    // access key's mark.
    const std::wstring refusal =
        LOWORD(GetSystemDefaultLCID()) == 1049
            ? L"«Пароль»: ключ Mifare записывается 1–12 шестнадцатеричными цифрами (0–9, A–F: 48 бит). "
              L"Сохранённый ключ оставлен прежним."
            : L"\"Password\" must be a Mifare key of 1 to 12 hexadecimal digits (0-9, A-F: 48 bits). The stored "
              L"key is left as it was.";
    for (const wchar_t* typed : {L"3c7a91e5b2OD", L"xyz1234567890abc", L"", L"3c7a91e5b20d0"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(typed)));
        TypeKey(typed);
        ClickMainTab(0); // the user looks at another page meanwhile
        Ui().Clear();
        Ui().AnswerMessage(IDOK);
        ClickSave();
        const auto asked = Ui().Messages();
        ASSERT_EQ(asked.size(), 1u) << "one box, no \"Successfully.\"";
        EXPECT_EQ(asked[0].flags, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(asked[0].text, refusal);
        EXPECT_EQ(App().GetCurrentPage(), 2);
        EXPECT_EQ(GetFocus(), Item(IDC_MF_KEY));
        EXPECT_EQ(ControlText(Item(IDC_MF_KEY)), typed) << "what was typed stays to be mended";
        EXPECT_EQ(StoredKey(), 0x3C7A91E5B20DULL) << "nothing written";
    }
    TypeKey(L"3C7A91E5B2AA");
    Ui().Clear();
    Ui().AnswerMessage(IDOK);
    ClickSave();
    ASSERT_EQ(Ui().Messages().size(), 1u);
    EXPECT_EQ(Ui().Messages()[0].flags, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(StoredKey(), 0x3C7A91E5B2AAULL);
}

// A refused key in an edit the user cannot reach at the moment: the control that brings it back
// takes the focus (the "Enabled" box while Mifare reading is off, "Value" while the key cells show).
TEST_F(ReadKeysByHand, ARefusedKeyOutOfReachFocusesTheControlThatBringsItBack)
{
    App().ConfirmFlags = 0;
    Click(IDC_MF_ENABLED);
    TypeKey(L"12O4");
    Click(IDC_MF_SOURCE_MEMORY);
    Ui().AnswerMessage(IDOK);
    ClickSave();
    ASSERT_EQ(Ui().Messages().size(), 1u);
    EXPECT_EQ(GetFocus(), Item(IDC_MF_SOURCE_VALUE));
    Click(IDC_MF_ENABLED);
    Ui().Clear();
    Ui().AnswerMessage(IDOK);
    ClickSave();
    ASSERT_EQ(Ui().Messages().size(), 1u);
    EXPECT_EQ(GetFocus(), Item(IDC_MF_ENABLED));
}

// Space toggles the focused row's check box in both lists of the page, as a click on the box
// does, and marks the add-in settings; the row's text is left alone.
TEST_F(ReadKeysByHand, SpaceTogglesTheFocusedKeyTypeAndKeyCell)
{
    HWND types = Item(IDC_KEY_TYPES_LIST);
    Input().Click(types, CUserInput::ListCell(types, 0, 0));
    ASSERT_EQ(GetFocus(), types);
    Input().PressKey(VK_DOWN);
    Input().PressKey(VK_DOWN); // HID
    App().ModifiedFlags = 0;
    Input().PressKey(VK_SPACE);
    EXPECT_EQ(App().KeyTypes, ALL_KEY_TYPES & ~4u);
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN);
    EXPECT_EQ(SendMessageW(types, LVM_GETITEMSTATE, 2, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(1));
    Input().PressKey(VK_SPACE);
    EXPECT_EQ(App().KeyTypes, ALL_KEY_TYPES);

    Click(IDC_MF_ENABLED);
    Click(IDC_MF_SOURCE_MEMORY);
    HWND cells = Item(IDC_MF_KEY_CELLS);
    Input().Click(cells, CUserInput::ListCell(cells, 0, 0));
    ASSERT_EQ(GetFocus(), cells);
    Input().PressKey(VK_DOWN); // cell 1
    Input().PressKey(VK_SPACE);
    EXPECT_EQ(App().ReadMf.Mask, 0xFFFFFFFDu);
    EXPECT_EQ(SendMessageW(cells, LVM_GETITEMSTATE, 1, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(1));
}
