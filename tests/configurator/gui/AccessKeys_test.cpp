// Reaching everything by the keyboard: every labelled field and every button of every page and
// dialog has an access key, none twice in what is on the screen at once (the main window's buttons
// and the current page; one dialog), in the language the program runs in (the Russian run takes
// this program again under a Russian locale); and the keys that press them, switch the tabs and
// place the focus at start, sent through the program's own message loop.
#include "AppFixture.h"
#include "AppMessageBox.h"
#include "AppResource.h"
#include "BenchStrings.h"
#include "FormatsPageRes.h"
#include "MainPageRes.h"
#include "ReadKeysPageRes.h"
#include "TestPageRes.h"
#include <commctrl.h>
#include <map>
#include <set>
#include <sstream>
#include <vector>

namespace {

bool RussianSystem()
{
    return LOWORD(GetSystemDefaultLCID()) == 1049;
}

std::wstring ClassOf(HWND hWnd)
{
    wchar_t name[64] = {};
    GetClassNameW(hWnd, name, 64);
    return name;
}

std::wstring TextOf(HWND hWnd)
{
    wchar_t text[512] = {};
    GetWindowTextW(hWnd, text, 512);
    return text;
}

// The access key a text marks (the character after a single &), upper-cased as Windows compares
// them; 0 for none ("&&" is an ampersand shown).
wchar_t AccessKeyOf(const std::wstring& text)
{
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != L'&')
            continue;
        if (text[i + 1] == L'&') {
            ++i;
            continue;
        }
        wchar_t key = text[i + 1];
        CharUpperBuffW(&key, 1);
        return key;
    }
    return 0;
}

bool IsStatic(HWND control)
{
    return _wcsicmp(ClassOf(control).c_str(), L"Static") == 0;
}

bool Shows(HWND control)
{
    return (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

// A control the user types into or picks from, which a label before it names.
bool IsField(HWND control)
{
    if (!control || !Shows(control))
        return false;
    const std::wstring cls = ClassOf(control);
    for (const wchar_t* field : {L"Edit", L"ComboBox", L"SysListView32", L"RICHEDIT50W", L"msctls_trackbar32"})
        if (_wcsicmp(cls.c_str(), field) == 0)
            return true;
    return false;
}

// Whether a control must carry an access key: a push button, check box or radio button with a
// text (OK and Cancel answer Enter and Esc), or a label that stands just before its field.
bool NeedsKey(HWND control)
{
    const std::wstring text = TextOf(control);
    if (text.empty() || !Shows(control))
        return false;
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    if (_wcsicmp(ClassOf(control).c_str(), L"Button") == 0) {
        const int id = GetDlgCtrlID(control);
        return (style & BS_TYPEMASK) != BS_GROUPBOX && id != IDOK && id != IDCANCEL;
    }
    if (IsStatic(control) && !(style & SS_NOPREFIX))
        return IsField(GetWindow(control, GW_HWNDNEXT));
    return false;
}

// One screen's worth of controls: what each is called in the report and its text.
struct Shown
{
    std::wstring where;
    int id;
    std::wstring text;
    bool needsKey;
};

void CollectControls(HWND root, const std::wstring& where, std::vector<Shown>& out, bool onlyVisible)
{
    struct Walk
    {
        const std::wstring* where;
        std::vector<Shown>* out;
        bool onlyVisible;
    } walk{&where, &out, onlyVisible};
    EnumChildWindows(root, [](HWND control, LPARAM param) -> BOOL {
        Walk& w = *reinterpret_cast<Walk*>(param);
        if (w.onlyVisible && !IsWindowVisible(control))
            return TRUE;
        if (IsStatic(control) && (GetWindowLongW(control, GWL_STYLE) & SS_NOPREFIX))
            return TRUE;
        w.out->push_back(Shown{*w.where, GetDlgCtrlID(control), TextOf(control), NeedsKey(control)});
        return TRUE;
    }, reinterpret_cast<LPARAM>(&walk));
}

// The English Main page has 29 controls to name (its own and the window's four buttons), but its
// texts hold only 25 letters and digits that could tell them apart: 23 letters (no J, X or Z among
// them), and "VM-100" and "RS-232" give one digit each, a control having one key. The Log's last
// two events and the IP search's two fields, reached by Tab from the check box above them, go
// without.
bool Exempt(const Shown& control)
{
    if (RussianSystem() || control.where.rfind(L"page 0", 0) != 0)
        return false;
    for (int id : {IDC_MP_LOG_READER, IDC_MP_LOG_KEYS, IDC_MP_IP_TIMEOUT_LABEL, IDC_MP_IP_TRIES_LABEL})
        if (control.id == id)
            return true;
    return false;
}

// One line per control without the key it needs, and per key that two controls share.
void CheckScreen(const std::vector<Shown>& controls, std::wostringstream& problems)
{
    std::map<wchar_t, const Shown*> owners;
    for (const Shown& c : controls) {
        const wchar_t key = AccessKeyOf(c.text);
        if (!key) {
            if (c.needsKey && !Exempt(c))
                problems << c.where << L", control " << c.id << L" \"" << c.text << L"\": no access key\n";
            continue;
        }
        auto [at, fresh] = owners.emplace(key, &c);
        if (!fresh)
            problems << c.where << L", control " << c.id << L" \"" << c.text << L"\": key " << key << L" as on "
                     << at->second->where << L", control " << at->second->id << L" \"" << at->second->text << L"\"\n";
    }
}

INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}


} // namespace

using AccessKeys = AppFixture;

// The running program, page by page (the Test page with each of its own pages), with the window's
// buttons; then every dialog alone, with the texts its value controls take at run time.
TEST_F(AccessKeys, EveryLabelledFieldAndButtonHasAKeyOfItsOwnOnItsScreen)
{
    StartApp();
    std::wostringstream problems;
    auto mainButtons = [&](std::vector<Shown>& out) {
        for (int i = 0; i < 4; ++i) {
            HWND button = App().GetButton(i);
            out.push_back(Shown{L"main window", GetDlgCtrlID(button), TextOf(button), true});
        }
    };
    for (int page = 0; page < CConfigParvelApp::PageCount; ++page) {
        ClickTab(page);
        HWND hPage = App().GetPage(page)->GetHwnd();
        const std::wstring where = L"page " + std::to_wstring(page);
        if (page != 5) {
            std::vector<Shown> screen;
            mainButtons(screen);
            CollectControls(hPage, where, screen, true);
            CheckScreen(screen, problems);
            continue;
        }
        HWND inner = GetDlgItem(hPage, IDC_TEST_TABS);
        ASSERT_TRUE(inner != nullptr);
        for (int k = 0; k < TabCtrl_GetItemCount(inner); ++k) {
            Input().Click(inner, CUserInput::Tab(inner, k));
            ASSERT_EQ(k, TabCtrl_GetCurSel(inner));
            std::vector<Shown> screen;
            mainButtons(screen);
            // The Load button reads Unload while the add-in is loaded.
            screen.push_back(Shown{where, IDC_TEST_LOAD, LoadAppString(IDS_TEST_UNLOAD), true});
            CollectControls(hPage, where + L", its page " + std::to_wstring(k), screen, true);
            CheckScreen(screen, problems);
        }
    }

    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1200, 900, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(parent != nullptr);
    ASSERT_TRUE(LoadLibraryW(L"Msftedit.dll") != nullptr);
    // The method, method-argument, About, format, groups, group, property and search dialogs, and
    // the device dialog's pages.
    for (int id : {149, 150, 900, 901, 902, 903, 905, 906, 957, 960}) {
        HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), parent, QuietDialog, 0);
        if (!dialog) {
            ADD_FAILURE() << "dialog " << id << " could not be made";
            continue;
        }
        std::vector<Shown> screen;
        const std::wstring where = L"dialog " + std::to_wstring(id);
        CollectControls(dialog, where, screen, false);
        if (id == 150 || id == 905)
            for (UINT text : {IDS_YES, IDS_NO, IDS_DECIMAL, IDS_HEXADECIMAL})
                screen.push_back(Shown{where + L" (value)", static_cast<int>(text), LoadAppString(text), true});
        CheckScreen(screen, problems);
        DestroyWindow(dialog);
    }
    DestroyWindow(parent);
    EXPECT_TRUE(problems.str().empty()) << Narrow(problems.str());
}

// Alt and a label's key put the user into its field; Alt and a check box's key ticks it; Alt and a
// main button's key presses it. The keys are read from the labels, as the user reads them.
TEST_F(AccessKeys, AltAndALettersKeyReachesItsFieldOrPressesItsButton)
{
    StartApp();
    ClickTab(0);
    HWND page = App().GetPage(0)->GetHwnd();
    HWND model = GetDlgItem(page, IDC_MP_MODEL);
    HWND speed = GetDlgItem(page, IDC_MP_SPEED);
    auto keyOfLabelBefore = [](HWND field) { return AccessKeyOf(TextOf(GetWindow(field, GW_HWNDPREV))); };
    auto keyAsWritten = [](HWND control) {
        const std::wstring text = TextOf(control);
        const size_t at = text.find(L'&');
        return at == std::wstring::npos || at + 1 >= text.size() ? L'\0' : text[at + 1];
    };
    // A label's key as the label writes it (its AccessKeyOf is upper-case).
    auto labelKey = [&](HWND field) { return keyAsWritten(GetWindow(field, GW_HWNDPREV)); };
    ASSERT_NE(keyOfLabelBefore(speed), 0);
    SetFocus(model);
    Input().PressAccessKey(labelKey(speed));
    EXPECT_EQ(GetFocus(), speed) << "the label's key moves the focus to its field";
    Input().PressAccessKey(labelKey(model));
    EXPECT_EQ(GetFocus(), model);

    HWND binary = GetDlgItem(page, IDC_MP_BINARY);
    const LRESULT before = SendMessageW(binary, BM_GETCHECK, 0, 0);
    Input().PressAccessKey(keyAsWritten(binary));
    EXPECT_NE(before, SendMessageW(binary, BM_GETCHECK, 0, 0)) << "the check box's key ticks it";
    EXPECT_EQ(GetFocus(), binary);

    // The Reading keys page: the Mifare block's check box turns its fields on, then a field in the
    // middle of the page.
    ClickTab(2);
    HWND readKeys = App().GetPage(2)->GetHwnd();
    HWND block = GetDlgItem(readKeys, IDC_MF_BLOCK);
    if (!IsWindowEnabled(block))
        Input().PressAccessKey(keyAsWritten(GetDlgItem(readKeys, IDC_MF_ENABLED)));
    ASSERT_TRUE(IsWindowEnabled(block));
    Input().PressAccessKey(labelKey(block));
    EXPECT_EQ(GetFocus(), block);

    // The window's Default button, on the Sound page: asked "Really?" and answered Cancel.
    ClickTab(3);
    Ui().AnswerMessage(IDCANCEL);
    Input().PressAccessKey(keyAsWritten(App().GetButton(3)));
    ASSERT_EQ(Ui().Messages().size(), 1u) << "Default was pressed";
    EXPECT_EQ(Ui().Messages()[0].text, RussianSystem() ? L"Вы уверены?" : L"Really?");
}

// At start the focus is in the first field of the first page; Ctrl+Tab and Ctrl+PgDn go to the next
// tab, Ctrl+Shift+Tab and Ctrl+PgUp to the one before, round the ends, and the focus follows into
// the page it opened; with the focus on the tabs it stays there.
TEST_F(AccessKeys, TheFocusStartsInTheFirstFieldAndCtrlKeysSwitchTheTabs)
{
    StartApp();
    Input().PumpFor(50);
    HWND first = GetDlgItem(App().GetPage(0)->GetHwnd(), IDC_MP_MODEL);
    EXPECT_EQ(GetFocus(), first);
    SetFocus(first);

    Input().PressKey(VK_TAB, MOD_CONTROL);
    ASSERT_EQ(1, App().GetCurrentPage());
    HWND formats = App().GetPage(1)->GetHwnd();
    // The Formats page's list lies over its tabs and comes first.
    HWND firstOfFormats = GetDlgItem(formats, IDC_FORMATS_LIST);
    EXPECT_EQ(GetFocus(), firstOfFormats) << "the focus went with the page";
    Input().PressKey(VK_NEXT, MOD_CONTROL);
    EXPECT_EQ(2, App().GetCurrentPage());
    Input().PressKey(VK_TAB, MOD_CONTROL | MOD_SHIFT);
    EXPECT_EQ(1, App().GetCurrentPage());
    Input().PressKey(VK_PRIOR, MOD_CONTROL);
    EXPECT_EQ(0, App().GetCurrentPage());
    Input().PressKey(VK_PRIOR, MOD_CONTROL);
    EXPECT_EQ(CConfigParvelApp::PageCount - 1, App().GetCurrentPage()) << "round the first tab to the last";
    Input().PressKey(VK_NEXT, MOD_CONTROL);
    EXPECT_EQ(0, App().GetCurrentPage()) << "round the last tab to the first";
    EXPECT_EQ(GetFocus(), first);

    HWND tabs = App().GetTabControl();
    SetFocus(tabs);
    Input().PressKey(VK_TAB, MOD_CONTROL);
    EXPECT_EQ(1, App().GetCurrentPage());
    EXPECT_EQ(GetFocus(), tabs);
}
