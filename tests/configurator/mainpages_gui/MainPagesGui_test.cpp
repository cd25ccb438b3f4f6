// The connection page, the advanced page and the About box in the running program: every field
// travels between the controls and the application's data, the enabling rules and "Auto" work,
// user clicks mark the data modified (and loading never does), and the number boxes give back
// every value their up-down controls can reach.
#include "AdvancedPageRes.h"
#include "AppFixture.h"
#include "AppResource.h"
#include "DlgAboutRes.h"
#include "MainPage.h"
#include "MainPageRes.h"
#include "ModuleState.h"
#include "Numbers.h"
#include "PageRefusal.h"
#include "SettingsStore.h"
#include <commctrl.h>
#include <functional>

namespace {

std::wstring ResourceText(UINT id)
{
    const wchar_t* text = nullptr;
    int length = LoadStringW(ModuleHandle, id, reinterpret_cast<LPWSTR>(&text), 0);
    return std::wstring(text ? text : L"", length > 0 ? length : 0);
}

// The "Auto" item in the interface's language.
std::wstring AutoText() { return ResourceText(IDS_AUTO); }

bool RussianSystem() { return LOWORD(GetSystemDefaultLCID()) == 1049; }

// What a refusal of each number box says, written out as the user reads it in either language.
struct BoxRefusal
{
    int id;
    const wchar_t* english;
    const wchar_t* russian;
};
const BoxRefusal kBoxRefusals[] = {
    {IDC_MP_CONNECT_TIMEOUT, L"\"Timeout TCP connections (ms)\" must be a whole number from -1 to 2147483647.",
     L"«Тайм-аут TCP-подключения (мс)»: нужно целое число от -1 до 2147483647."},
    {IDC_MP_REQ_TIMEOUT, L"\"Timeout request (ms)\" must be a whole number from -1 to 2147483647.",
     L"«Тайм-аут запроса (мс)»: нужно целое число от -1 до 2147483647."},
    {IDC_MP_REQ_TRIES, L"\"Attempts request\" must be a whole number from 1 to 2147483647.",
     L"«Попыток запроса»: нужно целое число от 1 до 2147483647."},
    {IDC_MP_RX_PERIOD, L"\"Period check incoming (ms)\" must be a whole number from -1 to 2147483647.",
     L"«Период проверки приёма (мс)»: нужно целое число от -1 до 2147483647."},
    {IDC_MP_CONNECT_PERIOD, L"\"Connection period (ms)\" must be a whole number from -1 to 2147483647.",
     L"«Период подключения (мс)»: нужно целое число от -1 до 2147483647."},
    {IDC_MP_FIND_IP_TRIES,
     L"\"Search IP-converters via UDP: Attempts request\" must be a whole number from 1 to 2147483647.",
     L"«Поиск IP-конвертеров через UDP: Попыток запроса»: нужно целое число от 1 до 2147483647."},
};

std::wstring RefusalOf(int id)
{
    for (const BoxRefusal& refusal : kBoxRefusals)
        if (refusal.id == id)
            return RussianSystem() ? refusal.russian : refusal.english;
    ADD_FAILURE() << "no refusal text for box " << id;
    return L"?";
}

class MainPages : public AppFixture
{
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        StartApp(true);
        ASSERT_EQ(App().GetCurrentPage(), 0);
        App().ModifiedFlags = 0;
    }

    CMainPage& Page() { return *static_cast<CMainPage*>(App().GetPage(0)); }
    HWND Item(int id) { return GetDlgItem(App().GetPage(App().GetCurrentPage())->GetHwnd(), id); }
    void Click(int id)
    {
        SendMessageW(Item(id), BM_CLICK, 0, 0);
        PumpMessages(&App());
    }
    bool Checked(int id) { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool Enabled(int id) { return IsWindowEnabled(Item(id)) != FALSE; }
    int Selection(int id) { return static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0)); }
    std::wstring Text(int id) { return WindowText(Item(id)); }
    void Type(int id, const std::wstring& text)
    {
        SetWindowTextW(Item(id), text.c_str()); // the edit tells its page with EN_CHANGE
        PumpMessages(&App());
    }
    void Reload()
    {
        App().GetPage(App().GetCurrentPage())->UpdateData(false);
        PumpMessages(&App());
    }
};

TEST_F(MainPages, ListsAndDefaultsAsTheUserFirstSeesThem)
{
    EXPECT_EQ(SendMessageW(Item(IDC_MP_MODEL), CB_GETCOUNT, 0, 0), 10);
    EXPECT_EQ(SendMessageW(Item(IDC_MP_SPEED), CB_GETCOUNT, 0, 0), 7);
    EXPECT_EQ(SendMessageW(Item(IDC_MP_STOP_BITS), CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(Text(IDC_MP_MODEL), AutoText());
    EXPECT_EQ(Text(IDC_MP_PORT), AutoText());
    EXPECT_EQ(Selection(IDC_MP_PORT), 0);
    EXPECT_EQ(Text(IDC_MP_SPEED), AutoText());
    EXPECT_EQ(Text(IDC_MP_STOP_BITS), L"1");
    EXPECT_EQ(Text(IDC_MP_CONNECT_TIMEOUT), L"10000");
    EXPECT_EQ(Text(IDC_MP_RX_PERIOD), L"-1");
    EXPECT_TRUE(Checked(IDC_MP_BINARY));
    EXPECT_TRUE(Checked(IDC_MP_CORRECT_VM100));
    EXPECT_FALSE(Checked(IDC_MP_LOG_ENABLED));
    EXPECT_FALSE(Enabled(IDC_MP_LOG_PORT));
    EXPECT_TRUE(Enabled(IDC_MP_SEARCH_VIDPID));
    EXPECT_FALSE(Enabled(IDC_MP_FIND_IP_TIMEOUT));
    EXPECT_FALSE(Enabled(IDC_MP_IP_TRIES_LABEL));
    EXPECT_EQ(App().ModifiedFlags, 0u) << "showing the page is no edit";
}

TEST_F(MainPages, RussianInterfaceStillStoresAuto)
{
    if (!RussianSystem())
        GTEST_SKIP() << "needs a Russian system locale";
    EXPECT_EQ(AutoText(), L"\x0410\x0432\x0442\x043E"); // "Авто"
    // (A group box's caption carries blanks after it for room; the name is what it reads.)
    EXPECT_EQ(FieldName(Text(IDC_MP_LOG_GROUP)), L"\x0416\x0443\x0440\x043D\x0430\x043B"); // "Журнал"
    App().Portname = L"COM3";
    Reload();
    SendMessageW(Item(IDC_MP_PORT), CB_SETCURSEL, 0, 0);
    Page().UpdateData(true);
    EXPECT_EQ(App().Portname, L"Auto") << "the stored name is the add-in's, not the shown one";
}

TEST_F(MainPages, EveryFieldTravelsBothWays)
{
    CConfigParvelApp& app = App();
    app.Model = 9;
    app.Portname = L"COM17"; // not on this machine: stands as the box's text
    app.Speed = 57600;
    app.StopBits = 2;
    app.Flags = 0x10 | 1 | 4;
    app.Log = 1;
    app.LogFlags = 5;
    app.ConnectTimeout = 2147483647;
    app.ReqTimeout = -1;
    app.ReqTries = 7;
    app.RxPeriod = 250;
    app.ConnectPeriod = 65536;
    app.SearchFlags = 16 | 1;
    app.FindIpTimeout = 12345;
    app.FindIpTries = 3;
    app.LoadAtStartup = 1;
    Reload();
    EXPECT_EQ(app.ModifiedFlags, 0u);
    EXPECT_EQ(Text(IDC_MP_MODEL), L"Pelto");
    EXPECT_EQ(Selection(IDC_MP_PORT), -1);
    EXPECT_EQ(Text(IDC_MP_PORT), L"COM17");
    EXPECT_EQ(Text(IDC_MP_SPEED), L"57600");
    EXPECT_EQ(Text(IDC_MP_STOP_BITS), L"2");
    EXPECT_TRUE(Checked(IDC_MP_WIEGAND));
    EXPECT_FALSE(Checked(IDC_MP_BINARY));
    EXPECT_FALSE(Checked(IDC_MP_CORRECT_VM100));
    EXPECT_TRUE(Checked(IDC_MP_LOG_PORT) && !Checked(IDC_MP_LOG_READER) && Checked(IDC_MP_LOG_KEYS));
    EXPECT_TRUE(Enabled(IDC_MP_LOG_READER));
    EXPECT_TRUE(Checked(IDC_MP_SEARCH_IP) && Checked(IDC_MP_SEARCH_RS232) && !Checked(IDC_MP_SEARCH_USB));
    EXPECT_FALSE(Enabled(IDC_MP_SEARCH_VIDPID));
    EXPECT_TRUE(Enabled(IDC_MP_FIND_IP_TRIES));
    EXPECT_EQ(Text(IDC_MP_CONNECT_TIMEOUT), L"2147483647");
    EXPECT_EQ(Text(IDC_MP_FIND_IP_TIMEOUT), L"12345");

    // Back from the controls into fresh values: nothing may be lost on the way.
    app.Model = 0, app.Portname.clear(), app.Speed = 0, app.StopBits = 0, app.Flags = 0x10, app.Log = 0;
    app.LogFlags = 0, app.ConnectTimeout = 0, app.ReqTimeout = 0, app.ReqTries = 0, app.RxPeriod = 0;
    app.ConnectPeriod = 0, app.SearchFlags = 0, app.FindIpTimeout = 0, app.FindIpTries = 0, app.LoadAtStartup = 0;
    Page().UpdateData(true);
    EXPECT_EQ(app.Model, 9u);
    EXPECT_EQ(app.Portname, L"COM17");
    EXPECT_EQ(app.Speed, 57600u);
    EXPECT_EQ(app.StopBits, 2u);
    EXPECT_EQ(app.Flags, 0x10u | 1u | 4u);
    EXPECT_EQ(app.Log, 1u);
    EXPECT_EQ(app.LogFlags, 5u);
    EXPECT_EQ(app.ConnectTimeout, 2147483647);
    EXPECT_EQ(app.ReqTimeout, -1);
    EXPECT_EQ(app.ReqTries, 7);
    EXPECT_EQ(app.RxPeriod, 250);
    EXPECT_EQ(app.ConnectPeriod, 65536);
    EXPECT_EQ(app.SearchFlags, 17u);
    EXPECT_EQ(app.FindIpTimeout, 12345u);
    EXPECT_EQ(app.FindIpTries, 3u);
    EXPECT_EQ(app.LoadAtStartup, 1u);
}

TEST_F(MainPages, AutoInRussianShowsTheAutoItemAndSpeedsOffTheListStay)
{
    App().Portname = L"\x0430\x0432\x0442\x043E"; // "авто"
    App().Speed = 4800;
    Reload();
    EXPECT_EQ(Selection(IDC_MP_PORT), 0);
    EXPECT_EQ(Selection(IDC_MP_SPEED), -1);
    Page().UpdateData(true);
    EXPECT_EQ(App().Portname, L"Auto");
    EXPECT_EQ(App().Speed, 4800u);

    // A port typed over the picked "Auto" item is the port the user means.
    SetWindowTextW(Item(IDC_MP_PORT), L"COM5");
    Page().UpdateData(true);
    EXPECT_EQ(App().Portname, L"COM5");
}

TEST_F(MainPages, SpinningAcrossTenThousandReadsBackEveryValue)
{
    // An up-down control that groups thousands shows "10,000", which a plain integer read takes
    // for no number at all.
    App().ConnectTimeout = 9999;
    App().ReqTries = 99999;
    Reload();
    SendMessageW(Item(IDC_MP_CONNECT_TIMEOUT_SPIN), UDM_SETPOS32, 0, 10000);
    SendMessageW(Item(IDC_MP_REQ_TRIES_SPIN), UDM_SETPOS32, 0, 2147483647);
    PumpMessages(&App());
    EXPECT_EQ(Text(IDC_MP_CONNECT_TIMEOUT), L"10000");
    Page().UpdateData(true);
    EXPECT_EQ(App().ConnectTimeout, 10000);
    EXPECT_EQ(App().ReqTries, 2147483647);

    // Texts with separators typed or pasted by the user read as the number they show.
    Type(IDC_MP_RX_PERIOD, L"1,500");
    Type(IDC_MP_CONNECT_PERIOD, L"12 000");
    Page().UpdateData(true);
    EXPECT_EQ(App().RxPeriod, 1500);
    EXPECT_EQ(App().ConnectPeriod, 12000);
    // A text that is no number is refused, not stored as 0.
    const uint32_t tries = App().FindIpTries;
    Type(IDC_MP_FIND_IP_TRIES, L"x");
    EXPECT_THROW(Page().UpdateData(true), CPageRefusal);
    EXPECT_EQ(App().FindIpTries, tries);
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN);
}

TEST_F(MainPages, LogSwitchDisablesItsOptionsAtOnceAndMarksTheSettings)
{
    App().Log = 1;
    Reload();
    ASSERT_TRUE(Enabled(IDC_MP_LOG_KEYS));
    EXPECT_EQ(App().ModifiedFlags, 0u);
    Click(IDC_MP_LOG_ENABLED);
    EXPECT_EQ(App().Log, 0u) << "written to the settings at once";
    for (int id : {IDC_MP_LOG_PORT, IDC_MP_LOG_READER, IDC_MP_LOG_KEYS})
        EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN);
}

TEST_F(MainPages, SearchSwitchesEnableTheirGroupsAndEveryEditMarks)
{
    Click(IDC_MP_SEARCH_USB);
    EXPECT_FALSE(Enabled(IDC_MP_SEARCH_VIDPID));
    EXPECT_FALSE(Enabled(IDC_MP_SEARCH_DESCRIPTION));
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN);
    Click(IDC_MP_SEARCH_IP);
    for (int id : {IDC_MP_IP_GROUP, IDC_MP_IP_TIMEOUT_LABEL, IDC_MP_FIND_IP_TIMEOUT, IDC_MP_FIND_IP_TIMEOUT_SPIN,
                   IDC_MP_IP_TRIES_LABEL, IDC_MP_FIND_IP_TRIES, IDC_MP_FIND_IP_TRIES_SPIN})
        EXPECT_TRUE(Enabled(id)) << id;

    // Each other kind of control marks the add-in settings modified; Refresh does not.
    struct Edit
    {
        int id;
        std::function<void()> act;
    };
    auto pick = [this](int id, int item) {
        return [this, id, item] {
            SendMessageW(Item(id), CB_SETCURSEL, item, 0);
            SendMessageW(Page().GetHwnd(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(Item(id)));
        };
    };
    const Edit edits[] = {
        {IDC_MP_MODEL, pick(IDC_MP_MODEL, 3)},
        {IDC_MP_SPEED, pick(IDC_MP_SPEED, 2)},
        {IDC_MP_STOP_BITS, pick(IDC_MP_STOP_BITS, 1)},
        {IDC_MP_REQ_TIMEOUT, [this] { Type(IDC_MP_REQ_TIMEOUT, L"500"); }},
        {IDC_MP_WIEGAND, [this] { Click(IDC_MP_WIEGAND); }},
        {IDC_MP_LOAD_AT_STARTUP, [this] { Click(IDC_MP_LOAD_AT_STARTUP); }},
    };
    for (const Edit& edit : edits)
    {
        App().ModifiedFlags = 0;
        edit.act();
        PumpMessages(&App());
        EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN) << edit.id;
    }
    App().ModifiedFlags = 0;
    Click(IDC_MP_REFRESH);
    EXPECT_EQ(App().ModifiedFlags, 0u);
    EXPECT_EQ(Selection(IDC_MP_PORT), 0) << "the refreshed list keeps the port shown";
}

TEST_F(MainPages, DefaultCommandResetsThePageAndMarksIt)
{
    App().Speed = 9600;
    App().Log = 1;
    Reload();
    Ui().AnswerMessage(IDOK);
    ClickCommand(ID_APP_DEFAULT);
    EXPECT_EQ(Text(IDC_MP_SPEED), AutoText());
    EXPECT_FALSE(Checked(IDC_MP_LOG_ENABLED));
    EXPECT_EQ(App().ModifiedFlags, DATA_ADDIN) << "so that closing asks about the reset";
}

TEST_F(MainPages, ConfirmationBoxesChangeTheFlagsAtOnce)
{
    ClickTab(4);
    ASSERT_EQ(App().GetCurrentPage(), 4);
    EXPECT_TRUE(Checked(IDC_AP_CONFIRM_DELETE) && Checked(IDC_AP_CONFIRM_LOAD) && Checked(IDC_AP_CONFIRM_SAVE));
    EXPECT_EQ(App().ModifiedFlags, 0u);
    Click(IDC_AP_CONFIRM_LOAD);
    EXPECT_EQ(App().ConfirmFlags, 5u);
    EXPECT_EQ(App().ModifiedFlags, DATA_UI);

    // So the very next Load asks nothing before it loads.
    Ui().AnswerMessage(IDOK);
    ClickCommand(ID_APP_LOAD);
    ASSERT_EQ(Ui().Messages().size(), 1u);
    EXPECT_EQ(Ui().Messages()[0].flags, static_cast<UINT>(MB_ICONINFORMATION)) << "only \"Successfully.\"";

    Click(IDC_AP_CONFIRM_LOAD);
    Click(IDC_AP_CONFIRM_DELETE);
    EXPECT_EQ(App().ConfirmFlags, 6u);
    App().ConfirmFlags = 0xF1;
    App().GetPage(4)->UpdateData(true);
    EXPECT_EQ(App().ConfirmFlags, 6u) << "bits without a box are not the page's";
}

TEST_F(MainPages, AboutBoxShowsTitleVersionAndLinks)
{
    std::wstring title, version, mail;
    LONG weight = 0;
    Ui().DriveModal([&](HWND about) {
        HWND titleItem = GetDlgItem(about, IDC_AB_TITLE);
        title = WindowText(titleItem);
        LOGFONTW font = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(titleItem, WM_GETFONT, 0, 0)), sizeof(font), &font);
        weight = font.lfWeight;
        version = WindowText(GetDlgItem(about, IDC_AB_VERSION));
        mail = WindowText(GetDlgItem(about, IDC_AB_MAIL));
        SendMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    });
    SendMessageW(MainWindow(), WM_SYSCOMMAND, ID_APP_ABOUT, 0);
    PumpMessages(&App());
    EXPECT_EQ(title, ResourceText(IDS_APP_TITLE));
    EXPECT_EQ(weight, FW_BOLD);
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring fileVersion;
    VersionToText(fileVersion, GetFileVersion(path));
    const std::wstring start = L"v" + fileVersion + L" (";
    EXPECT_EQ(version.substr(0, start.size()), start);
    EXPECT_GT(version.size(), start.size() + 1) << "a build date";
    EXPECT_EQ(version.back(), L')');
    EXPECT_NE(mail.find(L"@"), std::wstring::npos);
}

} // namespace

// The five texts a user left in the boxes: Save refuses each with one box naming the field, puts
// the user back into it (from another page too) and writes nothing.
TEST_F(MainPages, SaveRefusesANumberOutsideItsRangeNamingTheFieldAndWritesNothing)
{
    App().ConfirmFlags = 0; // no "Really?" before the save
    const std::wstring addinFile = Folder().File(L"Parvel.xml");
    HWND save = App().GetButton(1);
    auto typeInto = [this](int id, const std::wstring& text) { Input().ReplaceText(Item(id), text); };
    struct Case
    {
        int id;
        const wchar_t* text;
    };
    const Case cases[] = {{IDC_MP_CONNECT_TIMEOUT, L"abc"}, {IDC_MP_REQ_TIMEOUT, L"99999999999"},
                          {IDC_MP_REQ_TRIES, L"-5"},        {IDC_MP_RX_PERIOD, L""},
                          {IDC_MP_CONNECT_PERIOD, L"12a"}};
    const CParvelSettings defaults;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.id);
        HWND edit = Item(k.id);
        const std::wstring was = WindowText(edit);
        typeInto(k.id, k.text);
        ASSERT_EQ(WindowText(edit), k.text);
        ClickTab(1); // the user looks at another page meanwhile
        Ui().Clear();
        Ui().AnswerMessage(IDOK);
        Input().Click(save, CUserInput::Centre(save));
        const auto asked = Ui().Messages();
        ASSERT_EQ(asked.size(), 1u) << "one box, no \"Successfully.\"";
        EXPECT_EQ(asked[0].flags, static_cast<UINT>(MB_ICONERROR));
        EXPECT_NE(asked[0].text.find(RefusalOf(k.id)), std::wstring::npos) << asked[0].text;
        EXPECT_EQ(App().GetCurrentPage(), 0);
        EXPECT_EQ(GetFocus(), edit);
        EXPECT_EQ(WindowText(edit), k.text) << "what was typed stays to be mended";
        EXPECT_EQ(GetFileAttributesW(addinFile.c_str()), INVALID_FILE_ATTRIBUTES) << "nothing written";
        EXPECT_EQ(App().ConnectTimeout, defaults.ConnectTimeout);
        EXPECT_EQ(App().ReqTries, defaults.ReqTries);
        typeInto(k.id, was);
    }
    // Mended, the save goes through.
    typeInto(IDC_MP_REQ_TRIES, L"5");
    Ui().Clear();
    Ui().AnswerMessage(IDOK);
    Input().Click(save, CUserInput::Centre(save));
    ASSERT_EQ(Ui().Messages().size(), 1u);
    EXPECT_EQ(Ui().Messages()[0].flags, static_cast<UINT>(MB_ICONINFORMATION));
    CParvelSettings saved;
    LoadSettingsFromXml(addinFile, saved);
    EXPECT_EQ(saved.ReqTries, 5u);
}

// A box of the IP-converter search is named with its group, whose labels repeat the reader's.
TEST_F(MainPages, RefusedSearchBoxIsNamedWithItsGroup)
{
    App().ConfirmFlags = 0;
    Type(IDC_MP_FIND_IP_TRIES, L"0");
    Ui().AnswerMessage(IDOK);
    ClickCommand(ID_APP_SAVE);
    ASSERT_EQ(Ui().Messages().size(), 1u);
    const std::wstring text = Ui().Messages()[0].text;
    EXPECT_EQ(text, RefusalOf(IDC_MP_FIND_IP_TRIES));
}

// Closing with a refused box asks its one question with the reason; staying puts the user back
// into the box.
TEST_F(MainPages, ClosingWithARefusedNumberAsksOnceAndStayingReturnsToTheBox)
{
    Type(IDC_MP_REQ_TRIES, L"-5");
    ClickTab(2);
    Ui().AnswerMessage(IDCANCEL);
    EXPECT_FALSE(ClickClose());
    ASSERT_EQ(Ui().Messages().size(), 1u);
    EXPECT_EQ(Ui().Messages()[0].flags, static_cast<UINT>(MB_OKCANCEL | MB_ICONERROR));
    EXPECT_NE(Ui().Messages()[0].text.find(RefusalOf(IDC_MP_REQ_TRIES)), std::wstring::npos)
        << Ui().Messages()[0].text;
    EXPECT_EQ(App().GetCurrentPage(), 0);
    EXPECT_EQ(GetFocus(), Item(IDC_MP_REQ_TRIES));
    Type(IDC_MP_REQ_TRIES, L"2");
}

// Refresh lists the ports again and keeps the port the user chose in the box, picked from the list
// or typed (one the machine lacks too); a Save then stores that port.
TEST_F(MainPages, RefreshKeepsThePortTheUserChose)
{
    App().ConfirmFlags = 0;
    HWND box = Item(IDC_MP_PORT);
    HWND refresh = Item(IDC_MP_REFRESH);
    COMBOBOXINFO parts = {};
    parts.cbSize = sizeof(parts);
    ASSERT_TRUE(GetComboBoxInfo(box, &parts));
    HWND edit = parts.hwndItem;
    ASSERT_TRUE(edit != nullptr);
    ASSERT_EQ(Selection(IDC_MP_PORT), 0);

    if (SendMessageW(box, CB_GETCOUNT, 0, 0) > 1) {
        // The arrow key in the box picks the port after "Auto".
        Input().Click(edit, CUserInput::Centre(edit));
        Input().PressKey(VK_DOWN);
        ASSERT_EQ(Selection(IDC_MP_PORT), 1);
        const std::wstring picked = Text(IDC_MP_PORT);
        Input().Click(refresh, CUserInput::Centre(refresh));
        EXPECT_EQ(Text(IDC_MP_PORT), picked);
        EXPECT_EQ(Selection(IDC_MP_PORT), 1);
    }
    Input().ReplaceText(edit, L"COM77");
    ASSERT_EQ(Text(IDC_MP_PORT), L"COM77");
    Input().Click(refresh, CUserInput::Centre(refresh));
    EXPECT_EQ(Text(IDC_MP_PORT), L"COM77");
    EXPECT_GE(SendMessageW(box, CB_GETCOUNT, 0, 0), 1) << "the list is there again";

    Ui().AnswerMessage(IDOK);
    HWND save = App().GetButton(1);
    Input().Click(save, CUserInput::Centre(save));
    CParvelSettings saved;
    LoadSettingsFromXml(Folder().File(L"Parvel.xml"), saved);
    EXPECT_EQ(saved.Portname, L"COM77");
}
