// The sound page in process through a recording player: which player a file goes to, the play
// and stop images, the in-place editor and its list of media files, browse and delete.
#include "MediaFileList.h"
#include "PageHelpers.h"
#include "RecordingSoundBackend.h"
#include "SoundPage.h"
#include "SoundPageRes.h"
#include "SoundPlayer.h"
#include "SoundsView.h"
#include <mmsystem.h>

using namespace formats_test;

namespace {

class SoundPageTest : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        AppSoundPlayer().SetBackend(&backend);
        StartApp();
        App().SoundEnabled = 1;
        App().SoundFiles = {L"C:\\sounds\\key.wav", L"C:\\sounds\\error.mp3", L"", L""};
        ClickTab(3);
        page = dynamic_cast<CSoundPage*>(App().GetPage(3));
        ASSERT_NE(page, nullptr);
        list = page->List();
    }
    void TearDown() override
    {
        AppFixture::TearDown();
        AppSoundPlayer().Stop();
        AppSoundPlayer().SetBackend(nullptr);
    }
    int Image(int row, int column) const
    {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        item.iSubItem = column;
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return item.iImage;
    }

    CRecordingBackend backend;
    CSoundPage* page = nullptr;
    HWND list = nullptr;
};

using V = std::vector<std::wstring>;

} // namespace

TEST_F(SoundPageTest, WavAndMp3GoToTheirPlayersAndPlayStops)
{
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 4);
    EXPECT_EQ(ItemText(list, 0, 0), L"Key number is transmitted");
    EXPECT_EQ(ItemText(list, 1, 1), L"C:\\sounds\\error.mp3");
    EXPECT_EQ(Image(0, 2), SoundImagePlay);
    EXPECT_EQ(Image(2, 2), I_IMAGENONE);
    EXPECT_EQ(Image(2, 3), I_IMAGENONE);
    EXPECT_EQ(Image(0, 3), SoundImageGo);
    EXPECT_EQ(Image(2, 4), SoundImageBrowse);

    ClickAt(Input(), list, CellPoint(list, 0, 2));
    ClickAt(Input(), list, CellPoint(list, 1, 2));
    EXPECT_EQ(backend.calls, (V{L"wav C:\\sounds\\key.wav", L"wav stop",
                                L"mci open \"C:\\sounds\\error.mp3\" type mpegvideo alias media",
                                L"mci play media from 0 notify"}));
    EXPECT_EQ(Image(1, 2), SoundImageStop);
    EXPECT_EQ(Image(0, 2), SoundImagePlay);
    // Play on the playing row stops it.
    backend.calls.clear();
    ClickAt(Input(), list, CellPoint(list, 1, 2));
    EXPECT_EQ(backend.calls, (V{L"mci stop media"}));
    EXPECT_EQ(Image(1, 2), SoundImagePlay);
    // The end of a media sound returns the play image by itself.
    ClickAt(Input(), list, CellPoint(list, 1, 2));
    EXPECT_EQ(Image(1, 2), SoundImageStop);
    SendMessageW(MainWindow(), MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, 0);
    EXPECT_EQ(Image(1, 2), SoundImagePlay);
    // A row without a file ignores Play.
    backend.calls.clear();
    ClickAt(Input(), list, CellPoint(list, 2, 2));
    EXPECT_EQ(backend.calls, (V{L"mci close media"}));
    EXPECT_EQ(AppSoundPlayer().OpenEvent(), -1);
}

TEST_F(SoundPageTest, EditorStoresOnlyThePath)
{
    SelectRows(list, {2});
    App().ModifiedFlags = 0;
    // A click on the file cell of the current row, later than the double-click time, arms the editor.
    Sleep(600);
    ClickAt(Input(), list, CellPoint(list, 2, 1));
    EXPECT_EQ(page->CurrentRow(), 2);
    ASSERT_TRUE(Input().PumpUntil([&] { return page->Editing(); }, 3000));
    EXPECT_TRUE(IsWindowVisible(page->Editor()));
    SetWindowTextW(page->Editor(), L"C:\\Media\\ding.wav \t// ding");
    page->EndEdit(true);
    EXPECT_FALSE(page->Editing());
    EXPECT_EQ(App().SoundFiles[2], L"C:\\Media\\ding.wav");
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN);
    // Escape drops the edit.
    Input().PumpFor(600);
    ClickAt(Input(), list, CellPoint(list, 2, 1));
    ASSERT_TRUE(Input().PumpUntil([&] { return page->Editing(); }, 3000));
    SetWindowTextW(page->Editor(), L"C:\\other.wav");
    HWND edit = GetWindow(page->Editor(), GW_CHILD);
    SendMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(page->Editing());
    EXPECT_EQ(App().SoundFiles[2], L"C:\\Media\\ding.wav");
}

// As a user does it: a click selects a row; a single click on its file, a double-click time later,
// opens the editor when the page's timer fires in the message loop; Enter in the editor stores
// the typed path. A double click on the file browses instead and opens no editor.
TEST_F(SoundPageTest, ASingleClickOnTheSelectedFileEditsIt)
{
    App().ModifiedFlags = 0;
    Input().Click(list, CUserInput::ListCell(list, 2, 0));
    ASSERT_EQ(2, SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    Input().PumpFor(GetDoubleClickTime() + 100);
    EXPECT_FALSE(page->Editing());
    Input().Click(list, CUserInput::ListCell(list, 2, 1));
    ASSERT_TRUE(Input().PumpUntil([&] { return page->Editing(); }, 3000)) << "the click opened no editor";
    EXPECT_TRUE(IsWindowVisible(page->Editor()));
    HWND edit = GetWindow(page->Editor(), GW_CHILD);
    EXPECT_EQ(edit, GetFocus());
    SetWindowTextW(page->Editor(), L"");
    Input().TypeText(L"C:\\typed.wav");
    Input().PressKey(VK_RETURN);
    EXPECT_FALSE(page->Editing());
    EXPECT_EQ(App().SoundFiles[2], L"C:\\typed.wav");
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN);

    Input().PumpFor(GetDoubleClickTime() + 100);
    Ui().AnswerBrowse(L"");
    Input().DoubleClick(list, CUserInput::ListCell(list, 2, 1));
    Input().PumpFor(800);
    EXPECT_FALSE(page->Editing());
    ASSERT_EQ(1u, Ui().Asked().size());
    EXPECT_EQ(UiAsk::Browse, Ui().Asked()[0].kind);
    // Enter on the selected row browses too.
    SetFocus(list);
    Ui().AnswerBrowse(L"C:\\entered.wav");
    Input().PressKey(VK_RETURN);
    EXPECT_EQ(App().SoundFiles[2], L"C:\\entered.wav");
}

TEST_F(SoundPageTest, BrowseAndDelete)
{
    App().ModifiedFlags = 0;
    Ui().AnswerBrowse(L"C:\\chosen.mid");
    ClickAt(Input(), list, CellPoint(list, 3, 4));
    EXPECT_EQ(App().SoundFiles[3], L"C:\\chosen.mid");
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN);
    SelectRows(list, {0, 1});
    Ui().AnswerMessage(IDOK);
    PressKey(Input(), list, VK_DELETE);
    const auto asked = Ui().Messages();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, L"Remove 2 items?");
    EXPECT_TRUE(App().SoundFiles[0].empty());
    EXPECT_TRUE(App().SoundFiles[1].empty());
    EXPECT_EQ(App().SoundFiles[3], L"C:\\chosen.mid");
}

TEST_F(SoundPageTest, EnabledSwitchesTheListAndMarksTheAddinSettings)
{
    HWND box = GetDlgItem(page->GetHwnd(), IDC_SOUND_ENABLED);
    EXPECT_TRUE(IsWindowEnabled(list));
    App().ModifiedFlags = 0;
    SendMessageW(box, BM_CLICK, 0, 0);
    EXPECT_EQ(App().SoundEnabled, 0u);
    EXPECT_FALSE(IsWindowEnabled(list));
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN);
    // Closing asks instead of dropping the switch.
    Ui().AnswerMessage(IDCANCEL);
    EXPECT_FALSE(ClickClose());
    EXPECT_EQ(Ui().Messages().size(), 1u);
}

TEST(MediaFileList, FoldersFirstMediaOnly)
{
    TestFolder folder;
    const std::wstring root = folder.Path();
    CreateDirectoryW((root + L"\\Sub").c_str(), nullptr);
    for (const wchar_t* name : {L"\\b.WAV", L"\\Sub\\c.mp3", L"\\a.mid", L"\\readme.txt", L"\\wav", L"\\Sub\\d.wav.bak"}) {
        HANDLE file = CreateFileW((root + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    std::vector<std::wstring> paths;
    for (const std::wstring& entry : MediaFileEntries(root)) {
        EXPECT_NE(entry.find(L" \t// "), std::wstring::npos) << "display name expected: " << testing::PrintToString(entry);
        paths.push_back(EditorTextToPath(entry));
    }
    EXPECT_EQ(paths, (V{root + L"\\Sub\\c.mp3", root + L"\\a.mid", root + L"\\b.WAV"}));
    EXPECT_EQ(EditorTextToPath(L"C:\\x.wav"), L"C:\\x.wav");
    EXPECT_EQ(MediaEntryText(L"C:\\x.wav", L""), L"C:\\x.wav");
}
