// The key-format dialog against the real Parvel.dll: the add-in's check with the caret on the
// error, OK with the name collapse, and what the library page marks modified afterwards.
#include "FormatDialog.h"
#include "FormatDialogRes.h"
#include "FormatsPage.h"
#include "FormatsPageRes.h"
#include "PageHelpers.h"
#include "TestHost.h"

using namespace formats_test;

namespace {

class FormatDialogTest : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        if (!HaveParvel())
            GTEST_SKIP() << "Parvel.dll is not built";
        StartApp();
        App().GetTestHost()->SetLibraryPath(ParvelPath());
        App().GetTestHost()->SetHostLanguage(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    }

    // Runs the dialog on library entry `index` (-1 new); `driver` acts on it and must end it.
    INT_PTR Run(CDlgZFormat& dialog, int64_t index, std::function<void(HWND)> driver)
    {
        dialog.Library = &App().Formats;
        dialog.EditedIndex = index;
        Ui().DriveModal(std::move(driver));
        return AppDialogBox(dialog, IDD_FORMAT, MainWindow());
    }

    static void Command(HWND dialog, int id, int code = BN_CLICKED)
    {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    }
    static void SetText(HWND dialog, int id, const wchar_t* text) { SetDlgItemTextW(dialog, id, text); }

    // Check with a template and parameters; returns the message shown, the focused control and
    // the caret position in it.
    struct CheckOutcome
    {
        std::wstring message;
        UINT flags = 0;
        int focus = 0;
        DWORD caret = 0;
    };
    CheckOutcome Check(const wchar_t* templ, const wchar_t* params)
    {
        CheckOutcome outcome;
        CDlgZFormat dialog;
        Ui().Clear();
        Ui().AnswerMessage(IDOK);
        Run(dialog, -1, [&](HWND d) {
            SetText(d, IDC_FORMAT_TEMPLATE, templ);
            SetText(d, IDC_FORMAT_PARAMS, params);
            Command(d, IDC_FORMAT_CHECK);
            outcome.focus = GetDlgCtrlID(GetFocus());
            DWORD start = 0;
            SendMessageW(GetFocus(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&outcome.caret));
            Command(d, IDCANCEL);
        });
        const auto asked = Ui().Messages();
        if (!asked.empty()) {
            outcome.message = asked[0].text;
            outcome.flags = asked[0].flags;
        }
        return outcome;
    }
};

} // namespace

TEST_F(FormatDialogTest, CheckOfTheDefaultFormatIsCorrect)
{
    const int64_t helm = FindFormatByName(App().Formats, L"HelmSaaS");
    ASSERT_GE(helm, 0);
    const KeyFormatItem& item = App().Formats[static_cast<size_t>(helm)];
    const CheckOutcome outcome = Check(item.Template.c_str(), item.Params.c_str());
    EXPECT_EQ(outcome.message, L"Format is correct.");
    EXPECT_EQ(outcome.flags, static_cast<UINT>(MB_ICONINFORMATION));
    // The check loaded the add-in, and it stays loaded.
    EXPECT_NE(App().GetTestHost()->Component(), nullptr);
}

TEST_F(FormatDialogTest, ErrorsPutTheCaretInTheirField)
{
    // An unsupported conversion: the template, at its "%".
    CheckOutcome outcome = Check(L"%.3u %Z", L"b2");
    EXPECT_NE(outcome.message.find(L" (position 5)"), std::wstring::npos) << outcome.message;
    EXPECT_EQ(outcome.flags, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(outcome.focus, IDC_FORMAT_TEMPLATE);
    EXPECT_EQ(outcome.caret, 5u);
    // An expression error: the parameters, at the reported position.
    outcome = Check(L"%.3u,%.5u", L"b2 q1");
    EXPECT_NE(outcome.message.find(L" (position 3)"), std::wstring::npos) << outcome.message;
    EXPECT_EQ(outcome.focus, IDC_FORMAT_PARAMS);
    EXPECT_EQ(outcome.caret, 3u);
    // Too few parameters: the parameters, without a position.
    outcome = Check(L"%.3u,%.5u", L"b2");
    EXPECT_EQ(outcome.message.find(L"position"), std::wstring::npos) << outcome.message;
    EXPECT_FALSE(outcome.message.empty());
    EXPECT_EQ(outcome.focus, IDC_FORMAT_PARAMS);
}

TEST_F(FormatDialogTest, EmptyTemplateIsCorrectWithoutTheAddin)
{
    const CheckOutcome outcome = Check(L"", L"");
    EXPECT_EQ(outcome.message, L"Format is correct.");
    EXPECT_EQ(App().GetTestHost()->Component(), nullptr);
}

TEST_F(FormatDialogTest, OkRefusesEmptyFieldsAndABrokenTemplate)
{
    CDlgZFormat dialog;
    Ui().AnswerMessage(IDOK);
    Ui().AnswerMessage(IDOK);
    Ui().AnswerMessage(IDOK);
    INT_PTR result = Run(dialog, -1, [&](HWND d) {
        Command(d, IDOK);
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_FORMAT_NAME);
        SetText(d, IDC_FORMAT_NAME, L"new");
        Command(d, IDOK);
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_FORMAT_TEMPLATE);
        SetText(d, IDC_FORMAT_TEMPLATE, L"%.3u %Z");
        Command(d, IDOK);
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_FORMAT_TEMPLATE);
        EXPECT_TRUE(IsWindow(d));
        Command(d, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    const auto asked = Ui().Messages();
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].text, L"Field must be filled in.");
    EXPECT_EQ(asked[1].text, L"Field must be filled in.");
    EXPECT_EQ(FindFormatByName(App().Formats, L"new"), -1);
    // OK loaded the add-in only for its check and left it as it found it.
    EXPECT_EQ(App().GetTestHost()->Component(), nullptr);
}

TEST_F(FormatDialogTest, OkRefusesAKeySizeOutsideItsRangeAndStaysOpen)
{
    CDlgZFormat dialog;
    Ui().AnswerMessage(IDOK);
    bool open = false, openAfterMending = true;
    HWND focus = nullptr, field = nullptr;
    size_t toldBeforeMending = 0;
    const size_t count = App().Formats.size();
    INT_PTR result = Run(dialog, -1, [&](HWND d) {
        // The refused field is focused only where the user can reach it: the dialog must be shown.
        ShowWindow(d, SW_SHOWNORMAL);
        SetText(d, IDC_FORMAT_NAME, L"sized");
        // A template and parameters the add-in takes: the key size alone is wrong.
        SetText(d, IDC_FORMAT_TEMPLATE, L"%.3u,%.5u");
        SetText(d, IDC_FORMAT_PARAMS, L"b2 w01");
        field = GetDlgItem(d, IDC_FORMAT_KEY_SIZE);
        // Typed past what the up-down control reaches.
        Input().Click(field, CUserInput::Centre(field));
        Input().PressKey(VK_END);
        Input().TypeText(L"70000");
        HWND ok = GetDlgItem(d, IDOK);
        Input().Click(ok, CUserInput::Centre(ok));
        // An ended dialog is hidden at once and destroyed when its loop returns, after this driver.
        open = IsWindowVisible(d) != FALSE;
        focus = GetFocus();
        toldBeforeMending = Ui().Messages().size();
        if (!open)
            return;
        // Mended, the same OK takes the format.
        Input().Click(field, CUserInput::Centre(field));
        Input().PressKey(VK_END);
        for (int n = GetWindowTextLengthW(field); n > 0; --n)
            Input().PressKey(VK_BACK);
        Input().TypeText(L"4");
        Input().Click(ok, CUserInput::Centre(ok));
        openAfterMending = IsWindowVisible(d) != FALSE;
        if (openAfterMending)
            Command(d, IDCANCEL);
    });
    EXPECT_TRUE(open) << "OK closed the dialog on a key size of 70000";
    EXPECT_EQ(focus, field);
    const auto asked = Ui().Messages();
    ASSERT_EQ(toldBeforeMending, 1u);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].flags, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(asked[0].text, LOWORD(GetSystemDefaultLCID()) == 1049
                                 ? L"«Длина номера (байт)»: нужно целое число от 0 до 65535."
                                 : L"\"Key size (in bytes)\" must be a whole number from 0 to 65535.");
    EXPECT_FALSE(openAfterMending);
    EXPECT_EQ(result, IDOK);
    ASSERT_EQ(App().Formats.size(), count + 1);
    const int64_t sized = FindFormatByName(App().Formats, L"sized");
    ASSERT_GE(sized, 0);
    EXPECT_EQ(App().Formats[static_cast<size_t>(sized)].KeySize, 4u);
}

TEST_F(FormatDialogTest, NewFormatWithAnExistingNameReplacesItInPlace)
{
    const size_t count = App().Formats.size();
    const std::wstring name = App().Formats[3].Name;
    CDlgZFormat dialog;
    Ui().AnswerMessage(IDOK); // Replace?
    const INT_PTR result = Run(dialog, -1, [&](HWND d) {
        SetText(d, IDC_FORMAT_NAME, name.c_str());
        SetText(d, IDC_FORMAT_TEMPLATE, L"%.3u,%.5u");
        SetText(d, IDC_FORMAT_PARAMS, L"b2 w01");
        Command(d, IDOK);
    });
    ASSERT_EQ(result, IDOK);
    const auto asked = Ui().Messages();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, L"Format with the name \"" + name + L"\" already exists. Replace?");
    EXPECT_EQ(App().Formats.size(), count);
    EXPECT_EQ(dialog.EditedIndex, 3);
    EXPECT_EQ(App().Formats[3].Template, L"%.3u,%.5u");
    EXPECT_EQ(App().Formats[3].Params, L"b2 w01");
}

TEST_F(FormatDialogTest, RenamingOntoALowerEntryKeepsTheLowerOne)
{
    const size_t count = App().Formats.size();
    const std::wstring lower = App().Formats[1].Name;
    const std::wstring edited = App().Formats[5].Name;
    CDlgZFormat dialog;
    Ui().AnswerMessage(IDOK);
    ASSERT_EQ(Run(dialog, 5, [&](HWND d) {
        SetText(d, IDC_FORMAT_NAME, lower.c_str());
        SetText(d, IDC_FORMAT_COMMENT, L"renamed");
        Command(d, IDOK);
    }), IDOK);
    EXPECT_EQ(App().Formats.size(), count - 1);
    EXPECT_EQ(dialog.EditedIndex, 1);
    EXPECT_EQ(App().Formats[1].Name, lower);
    EXPECT_EQ(App().Formats[1].Comment, L"renamed");
    EXPECT_EQ(FindFormatByName(App().Formats, edited), -1);
}

TEST_F(FormatDialogTest, EnablingThroughTheDialogMarksTheAddinSettings)
{
    ClickTab(1);
    CZFormatsPage* page = dynamic_cast<CZFormatsPage*>(App().GetPage(1));
    ASSERT_NE(page, nullptr);
    int row = 0;
    while (App().Formats[static_cast<size_t>(page->View().LibraryIndex(row))].Enabled)
        ++row;
    const int64_t index = page->View().LibraryIndex(row);
    SelectRows(page->List(), {row});
    App().ModifiedFlags = 0;
    Ui().DriveModal([&](HWND d) {
        SendMessageW(GetDlgItem(d, IDC_FORMAT_ENABLED), BM_SETCHECK, BST_CHECKED, 0);
        Command(d, IDOK);
    });
    SendMessageW(page->GetHwnd(), WM_COMMAND, IDC_FORMAT_CHANGE, 0);
    EXPECT_EQ(App().Formats[static_cast<size_t>(index)].Enabled, 1u);
    EXPECT_EQ(App().ModifiedFlags & (DATA_LIBRARY | DATA_ADDIN), DATA_LIBRARY | DATA_ADDIN);
}

TEST_F(FormatDialogTest, ResizingStretchesTheTextFieldsAndTheKeyTypes)
{
    CDlgZFormat dialog;
    Run(dialog, -1, [&](HWND d) {
        const auto rect = [&](int id) {
            RECT r;
            GetWindowRect(GetDlgItem(d, id), &r);
            MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&r), 2);
            return r;
        };
        const int ids[] = {IDC_FORMAT_COMMENT, IDC_FORMAT_MASK, IDC_FORMAT_KEY_TYPES, IDC_FORMAT_RESULT};
        std::vector<RECT> before;
        for (int id : ids)
            before.push_back(rect(id));
        RECT window;
        GetWindowRect(d, &window);
        SetWindowPos(d, nullptr, 0, 0, window.right - window.left + 100, window.bottom - window.top + 60,
                     SWP_NOMOVE | SWP_NOZORDER);
        for (size_t i = 0; i < before.size(); ++i) {
            const RECT after = rect(ids[i]);
            EXPECT_EQ((after.right - after.left) - (before[i].right - before[i].left), 100) << "control " << ids[i];
            EXPECT_EQ(after.top - before[i].top, 60) << "control " << ids[i];
        }
        SendMessageW(d, WM_COMMAND, IDCANCEL, 0);
    });
}

// Space in the key-type list toggles the focused key type as a click on its box does: the mask
// text follows at once, and OK stores the mask.
TEST_F(FormatDialogTest, SpaceTogglesTheFocusedKeyType)
{
    CDlgZFormat dialog;
    dialog.KeyTypes = 0;
    std::wstring afterOne, afterTwo;
    INT_PTR result = Run(dialog, -1, [&](HWND d) {
        ShowWindow(d, SW_SHOWNORMAL);
        SetText(d, IDC_FORMAT_NAME, L"spaced");
        SetText(d, IDC_FORMAT_TEMPLATE, L"%u");
        SetText(d, IDC_FORMAT_PARAMS, L"b0");
        HWND types = GetDlgItem(d, IDC_FORMAT_KEY_TYPES);
        Input().Click(types, CUserInput::ListCell(types, 1, 0)); // Em-Marine's name: focused, not toggled
        afterOne = ControlText(GetDlgItem(d, IDC_FORMAT_MASK));
        Input().PressKey(VK_SPACE);
        Input().PressKey(VK_DOWN);
        Input().PressKey(VK_SPACE); // HID
        afterTwo = ControlText(GetDlgItem(d, IDC_FORMAT_MASK));
        HWND ok = GetDlgItem(d, IDOK);
        Input().Click(ok, CUserInput::Centre(ok));
        if (IsWindowVisible(d)) // ending it hides it
            Command(d, IDCANCEL);
    });
    EXPECT_EQ(afterOne, L"0000h");
    EXPECT_EQ(afterTwo, L"0006h");
    ASSERT_EQ(result, IDOK);
    const int64_t index = FindFormatByName(App().Formats, L"spaced");
    ASSERT_GE(index, 0);
    EXPECT_EQ(App().Formats[static_cast<size_t>(index)].KeyTypes, 6u);
}
