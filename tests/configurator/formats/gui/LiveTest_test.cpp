// The key-format dialog's live test end to end: the real Parvel.dll in the test host, a simulated
// text reader on a pty mapped as a COM port, a presented card shown with the edited format, and
// the host left as the dialog found it (a format of the user's named like the test's untouched, the
// `Port` property put back). Runs beside the reader simulator's hub (the ctest entries
// cfgformats_live_*, one test each); skipped without it. COM60 and COM61 belong to these tests.
// One test per process: the add-in crashes in its third load into one process after readers were
// opened and closed in the two before.
#include "FormatDialog.h"
#include "AppMessageBox.h"
#include "FormatDialogRes.h"
#include "PageHelpers.h"
#include "SimControl.h"
#include "TestHost.h"
#include "VariantHelpers.h"
#include <memory>

using namespace formats_test;

namespace {

const wchar_t* const Template = L"T%.3u-%.5u";
const wchar_t* const Params = L"b2 w01";
const wchar_t* const Expected = L"T123-12345"; // what the template makes of the key 39 30 7B

// Processes the thread's messages (the host's deliveries among them) until `done` or a time-out.
template <class F>
bool PumpUntil(F done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
}

class LiveTest : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        if (!HaveParvel())
            GTEST_SKIP() << "Parvel.dll is not built";
        if (!GetEnvironmentVariableW(L"READERSIM_CONTROL_PORT", nullptr, 0))
            GTEST_SKIP() << "no reader simulator (run through the ctest entry cfgformats_live)";
        sim = std::make_unique<simctl::CSimControl>();
        StartApp();
        host = App().GetTestHost();
        host->SetLibraryPath(ParvelPath());
    }
    void TearDown() override
    {
        if (sim && readerId) {
            try {
                sim->Destroy(readerId);
            } catch (...) {
            }
        }
        AppFixture::TearDown();
    }
    void CreateReader(int com)
    {
        simctl::SimReaderConfig config;
        config.pace = 0;
        readerId = sim->CreateSerial(com, config).id;
        // As a user would choose it on the connection page: the test stores every page first.
        App().Portname = L"COM" + std::to_wstring(com);
        for (int i = 0; i < CConfigParvelApp::PageCount; ++i) {
            if (CAppPage* page = App().GetPage(i))
                page->UpdateData(false);
        }
    }
    bool PeerOpen(bool expected)
    {
        return PumpUntil([&] { return sim->Info(readerId)["peer_open"].AsBool() == expected; }, 5000);
    }

    // Opens the dialog, starts its test, presents a card and returns what the result field shows.
    std::wstring TestWithCard()
    {
        std::wstring shown;
        CDlgZFormat dialog;
        dialog.Library = &App().Formats;
        Ui().DriveModal([&](HWND d) {
            SetDlgItemTextW(d, IDC_FORMAT_NAME, L"live");
            SetDlgItemTextW(d, IDC_FORMAT_TEMPLATE, Template);
            SetDlgItemTextW(d, IDC_FORMAT_PARAMS, Params);
            SendMessageW(GetDlgItem(d, IDC_FORMAT_TEST), BM_SETCHECK, BST_CHECKED, 0);
            SendMessageW(d, WM_COMMAND, MAKEWPARAM(IDC_FORMAT_TEST, BN_CLICKED), 0);
            EXPECT_TRUE(dialog.TestOn());
            EXPECT_EQ(host->FindFormat(dialog.TestFormat().c_str()), 0) << "the test's format stands first";
            EXPECT_TRUE(PumpUntil([&] { return host->IsConnected(); }, 10000)) << "the reader did not connect";
            sim->PresentKey(readerId, "EM", {0x39, 0x30, 0x7B, 0x00, 0x00});
            PumpUntil([&] { return ControlText(GetDlgItem(d, IDC_FORMAT_RESULT)) == Expected; }, 10000);
            shown = ControlText(GetDlgItem(d, IDC_FORMAT_RESULT));
            EXPECT_EQ(dialog.Status(), CDlgZFormat::StatusWaiting);
            SendMessageW(d, WM_COMMAND, IDCANCEL, 0);
        });
        AppDialogBox(dialog, IDD_FORMAT, MainWindow());
        return shown;
    }

    std::unique_ptr<simctl::CSimControl> sim;
    int readerId = 0;
    CTestParvel* host = nullptr;
};

} // namespace

TEST_F(LiveTest, ACardShowsWhatTheFormatMakesAndTheAddinIsUnloadedAfter)
{
    CreateReader(60);
    ASSERT_EQ(host->Component(), nullptr);
    EXPECT_EQ(TestWithCard(), Expected);
    // The dialog loaded the add-in and opened the port itself: both are gone again.
    EXPECT_EQ(host->Component(), nullptr);
    EXPECT_TRUE(host->Devices().empty());
    EXPECT_TRUE(PeerOpen(false));
}

TEST_F(LiveTest, RussianEventNamesAreShownToo)
{
    CreateReader(61);
    host->SetHostLanguage(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));
    EXPECT_EQ(TestWithCard(), Expected);
}

TEST_F(LiveTest, ADeviceOpenBeforeStaysOpenAndFormatTempIsRemoved)
{
    CreateReader(60);
    host->Create();
    {
        CVariantArray port(1, host->MemoryManager());
        port.SetWStr(0, App().Portname.c_str());
        host->SetPort(&port[0]);
    }
    std::wstring device;
    ASSERT_TRUE(host->Open(device));
    ASSERT_TRUE(PumpUntil([&] { return host->IsConnected(); }, 10000));
    EXPECT_EQ(TestWithCard(), Expected);
    ASSERT_NE(host->Component(), nullptr);
    EXPECT_EQ(host->Devices(), std::vector<std::wstring>{device});
    EXPECT_EQ(host->FindFormat(), -1);
    EXPECT_TRUE(host->IsConnected());
    EXPECT_TRUE(PeerOpen(true));
    host->CloseAll();
}

TEST_F(LiveTest, AUsersFormatTempIsNeitherRunNorDeletedAndThePortIsPutBack)
{
    CreateReader(60);
    host->Create();
    {
        CVariantArray port(1, host->MemoryManager());
        port.SetWStr(0, L"COM99");
        host->SetPort(&port[0]);
    }
    // The user's own "FormatTemp", at the end of the list, would make "U123-12345" of the card.
    int32_t end = 1000;
    ASSERT_TRUE(host->InsertFormat(end, L"U%.3u-%.5u", Params, 0x7FFFF, 0));
    EXPECT_EQ(TestWithCard(), Expected);
    EXPECT_EQ(host->FindFormat(), end) << "the user's FormatTemp is still there";
    EXPECT_EQ(host->FindFormat(L"FormatTemp1"), -1) << "the test's own format is gone";
    EXPECT_EQ(host->GetPort(), L"COM99");
    // The add-in had no device open: the test closed the one it opened.
    EXPECT_TRUE(host->Devices().empty());
    EXPECT_TRUE(PeerOpen(false));
}

// While the test runs, a template the add-in cannot read shows the add-in's error in the result
// field in place of the last card's text, also after another card: the add-in makes nothing of a
// card with it. Mended, the field says it waits, and the next card shows its text again.
TEST_F(LiveTest, AnUnreadableTemplateShowsItsErrorInPlaceOfTheLastResult)
{
    CreateReader(60);
    std::wstring afterBreak, afterCard, addinSays, afterMend, afterSecondCard;
    uint32_t statusBroken = 0;
    CDlgZFormat dialog;
    dialog.Library = &App().Formats;
    Ui().DriveModal([&](HWND d) {
        ShowWindow(d, SW_SHOWNORMAL);
        HWND result = GetDlgItem(d, IDC_FORMAT_RESULT);
        HWND templ = GetDlgItem(d, IDC_FORMAT_TEMPLATE);
        SetDlgItemTextW(d, IDC_FORMAT_NAME, L"live");
        SetDlgItemTextW(d, IDC_FORMAT_TEMPLATE, Template);
        SetDlgItemTextW(d, IDC_FORMAT_PARAMS, Params);
        HWND test = GetDlgItem(d, IDC_FORMAT_TEST);
        Input().Click(test, CUserInput::Centre(test));
        ASSERT_TRUE(dialog.TestOn());
        ASSERT_TRUE(PumpUntil([&] { return host->IsConnected(); }, 10000)) << "the reader did not connect";
        sim->PresentKey(readerId, "EM", {0x39, 0x30, 0x7B, 0x00, 0x00});
        ASSERT_TRUE(PumpUntil([&] { return ControlText(result) == Expected; }, 10000));
        sim->Remove(readerId);

        // The user types a conversion the add-in does not know.
        Input().ReplaceText(templ, L"%Q");
        afterBreak = ControlText(result);
        statusBroken = dialog.Status();
        int32_t position = -1;
        EXPECT_FALSE(host->CheckFormat(L"%Q", Params, position));
        host->GetLastError(addinSays);
        sim->PresentKey(readerId, "EM", {0x39, 0x30, 0x7B, 0x00, 0x00});
        Input().PumpFor(1500);
        afterCard = ControlText(result);
        sim->Remove(readerId);

        Input().PressKey(VK_BACK);
        Input().PressKey(VK_BACK);
        Input().TypeText(Template);
        afterMend = ControlText(result);
        sim->PresentKey(readerId, "EM", {0x39, 0x30, 0x7B, 0x00, 0x00});
        PumpUntil([&] { return ControlText(result) == Expected; }, 10000);
        afterSecondCard = ControlText(result);
        SendMessageW(d, WM_COMMAND, IDCANCEL, 0);
    });
    AppDialogBox(dialog, IDD_FORMAT, MainWindow());
    while (!addinSays.empty() && (addinSays.back() == L'\n' || addinSays.back() == L'\r'))
        addinSays.pop_back();
    ASSERT_FALSE(addinSays.empty());
    EXPECT_EQ(afterBreak.find(addinSays), 0u) << testing::PrintToString(afterBreak);
    // Read whole, in the language the program runs in (the add-in's text and the dialog's own
    // position after it): the Russian run takes this test again under a Russian locale.
    const bool russian = LOWORD(GetSystemDefaultLCID()) == 1049;
    EXPECT_EQ(afterBreak, russian ? L"Спецификатор шаблона не поддерживается. (позиция 0)"
                                  : L"Template specifier is not supported. (position 0)");
    EXPECT_EQ(statusBroken, static_cast<uint32_t>(CDlgZFormat::StatusTemplateError));
    EXPECT_EQ(afterCard, afterBreak) << "no card's text stands for the template";
    EXPECT_EQ(afterMend, russian ? L"Ожидание ключа." : L"Waiting key.");
    EXPECT_EQ(afterSecondCard, Expected);
}
