// Every label of every dialog and page fits its control in the language the program runs in: the
// text's extent in the control's own font, and a character more, against the room the control
// gives it. Run once in English and once under a Russian locale, where the texts are longest.
#include "AppFixture.h"
#include "GdiHandles.h"
#include "FormatsPageRes.h"
#include "ReadKeysPageRes.h"
#include <commctrl.h>
#include <algorithm>
#include <sstream>

namespace {

// The dialog templates of ConfigParvel and its test bench.
const int kDialogs[] = {900, 901, 902, 903, 904, 905, 906, 149, 150, 950, 951, 952, 953, 954, 955, 956, 957, 958,
                        959, 960, 961};

std::wstring ClassOf(HWND hWnd)
{
    wchar_t name[64] = {};
    GetClassNameW(hWnd, name, 64);
    return name;
}

// The room a control's label has inside it, and how it lays the text out; false for a control
// without a label of its own (edits, lists, icons).
bool LabelRoom(HWND control, RECT& room, UINT& format)
{
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const std::wstring cls = ClassOf(control);
    GetClientRect(control, &room);
    format = DT_CALCRECT | DT_EXPANDTABS;
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
        const LONG type = style & SS_TYPEMASK;
        if (type == SS_LEFTNOWORDWRAP || type == SS_SIMPLE)
            format |= DT_SINGLELINE;
        else if (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT)
            format |= DT_WORDBREAK;
        else
            return false;
        if (style & SS_NOPREFIX)
            format |= DT_NOPREFIX;
        return true;
    }
    if (_wcsicmp(cls.c_str(), L"Button") != 0)
        return false;
    format |= (style & BS_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE;
    switch (style & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON:
        InflateRect(&room, -3, -3); // the button's edge
        return true;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        room.left += 17; // the box or circle and the gap before the text
        return true;
    case BS_GROUPBOX:
        room.left += 8; // the text sits on the frame, inset on both sides
        room.right -= 8;
        format = (format & ~DT_WORDBREAK) | DT_SINGLELINE;
        room.bottom = room.top + 100; // only the width counts
        return true;
    }
    return false;
}

// One line per label that does not fit: the dialog, the control's id, its text, needed and given.
void CheckLabels(HWND root, int dialogId, std::wostringstream& problems)
{
    struct Walk
    {
        int dialog;
        std::wostringstream* out;
    } walk{dialogId, &problems};
    EnumChildWindows(root, [](HWND control, LPARAM param) -> BOOL {
        Walk& w = *reinterpret_cast<Walk*>(param);
        const int length = GetWindowTextLengthW(control);
        RECT room;
        UINT format;
        if (length == 0 || !LabelRoom(control, room, format))
            return TRUE;
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(control, &text[0], length + 1)));
        HDC dc = GetDC(control);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
        // The fonts this machine has stand in for the ones a Windows user's machine draws with,
        // which may set the same text up to about a character wider: a label must leave the room
        // of one average character of its font beside its text.
        TEXTMETRICW metrics = {};
        GetTextMetricsW(dc, &metrics);
        const int margin = metrics.tmAveCharWidth;
        const int width = room.right - room.left - margin, height = room.bottom - room.top;
        RECT need = {0, 0, width, 0};
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need, format);
        if (need.right > width || need.bottom > height) {
            // What the text needs on one line, for the report.
            RECT line = {0, 0, 0, 0};
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &line,
                      (format & ~static_cast<UINT>(DT_WORDBREAK)) | DT_SINGLELINE);
            *w.out << L"dialog " << w.dialog << L", control " << GetDlgCtrlID(control) << L" \"" << text << L"\": needs "
                   << line.right << L" + " << margin << L" (one character) x " << need.bottom << L", has "
                   << width + margin << L"x" << height << L"\n";
        }
        SelectObject(dc, old);
        ReleaseDC(control, dc);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&walk));
}

INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// How far the frame line of a group box keeps from its caption, as the group box draws itself:
// the columns of page background between the caption's last drawn pixel and the line resuming
// after it, in the caption's band. -1 when the picture cannot be read.
int CaptionGap(HWND group)
{
    RECT r;
    GetClientRect(group, &r);
    const int width = r.right, height = r.bottom;
    if (width < 20 || height < 20)
        return -1;
    CDibCanvas canvas(width, height);
    if (!canvas.Dc())
        return -1;
    HDC dc = canvas.Dc();
    // The page paints its background first, then the group box paints itself over it.
    RECT all = {0, 0, width, height};
    FillRect(dc, &all, reinterpret_cast<HBRUSH>(SendMessageW(GetParent(group), WM_CTLCOLORSTATIC,
                                                             reinterpret_cast<WPARAM>(dc),
                                                             reinterpret_cast<LPARAM>(group))));
    SendMessageW(group, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
    auto at = [&](int x, int y) { return canvas.At(x, y); };
    const DWORD background = at(width / 2, height - 6);
    // The caption's band: the rows above the middle of the caption's height, where the line runs.
    TEXTMETRICW tm = {};
    GetTextMetricsW(CWindowTextDc(group).Get(), &tm);
    const int band = std::min<int>(tm.tmHeight, height);
    // The line's row: the first row of the band that is no background near the right end.
    int lineRow = -1;
    for (int y = 0; y < band && lineRow < 0; ++y)
        if (at(width - 10, y) != background)
            lineRow = y;
    int gap = -1;
    if (lineRow >= 0) {
        int x = width - 10;
        while (x > 0 && at(x, lineRow) != background)
            --x;
        int clear = 0;
        for (; x > 0; --x, ++clear) {
            bool empty = true;
            for (int y = 0; y < band && empty; ++y)
                empty = at(x, y) == background;
            if (!empty)
                break;
        }
        gap = x > 0 ? clear : -1;
    }
    return gap;
}

} // namespace

using Labels = AppFixture;

// Each template's labels, as the dialog is made from it.
TEST_F(Labels, EveryTemplateLabelFitsItsControl)
{
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1200, 900, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(parent != nullptr);
    // The device dialog's XML pages hold rich-edit controls, whose class this library registers.
    ASSERT_TRUE(LoadLibraryW(L"Msftedit.dll") != nullptr);
    std::wostringstream problems;
    int made = 0;
    for (int id : kDialogs) {
        HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), parent, QuietDialog, 0);
        if (!dialog) {
            ADD_FAILURE() << "dialog " << id << " could not be made";
            continue;
        }
        ++made;
        CheckLabels(dialog, id, problems);
        DestroyWindow(dialog);
    }
    DestroyWindow(parent);
    EXPECT_EQ(static_cast<int>(sizeof(kDialogs) / sizeof(kDialogs[0])), made);
    EXPECT_TRUE(problems.str().empty()) << Narrow(problems.str());
}

// The running program's own texts too (the main window's buttons, the test page's Load/Unload),
// on every page once each has been opened by its tab.
TEST_F(Labels, EveryLabelOfTheRunningProgramFits)
{
    StartApp();
    HWND tabs = App().GetTabControl();
    for (int i = 0; i < CConfigParvelApp::PageCount; ++i) {
        Input().Click(tabs, CUserInput::Tab(tabs, i));
        ASSERT_EQ(i, App().GetCurrentPage());
    }
    std::wostringstream problems;
    CheckLabels(MainWindow(), 0, problems);
    EXPECT_TRUE(problems.str().empty()) << Narrow(problems.str());
}

// Key types are named in the program's language in every list that shows them: the key types of
// the Reading keys page and the key-types column of the Formats page ("Unknown" has a Russian name
// of its own; the others are the products' names in both languages).
TEST_F(Labels, KeyTypesAreNamedInTheProgramsLanguage)
{
    const bool russian = LOWORD(GetSystemDefaultLCID()) == 1049;
    const std::wstring unknown = russian ? L"\x041D\x0435\x0438\x0437\x0432\x0435\x0441\x0442\x043D\x044B\x0439" // Неизвестный
                                         : L"Unknown";
    StartApp();
    KeyFormatItem only;
    only.Name = L"unknown keys";
    only.Template = L"%u";
    only.Params = L"b0";
    only.KeyTypes = 1;
    App().Formats = {only};
    HWND tabs = App().GetTabControl();
    auto text = [](HWND list, int row, int column) {
        wchar_t buffer[128] = {};
        ListView_GetItemText(list, row, column, buffer, 128);
        return std::wstring(buffer);
    };
    Input().Click(tabs, CUserInput::Tab(tabs, 2));
    ASSERT_EQ(2, App().GetCurrentPage());
    EXPECT_EQ(unknown, text(GetDlgItem(App().GetPage(2)->GetHwnd(), IDC_KEY_TYPES_LIST), 0, 0));
    EXPECT_EQ(L"HID", text(GetDlgItem(App().GetPage(2)->GetHwnd(), IDC_KEY_TYPES_LIST), 2, 0));
    Input().Click(tabs, CUserInput::Tab(tabs, 1));
    ASSERT_EQ(1, App().GetCurrentPage());
    App().GetPage(1)->UpdateData(false);
    EXPECT_EQ(unknown, text(GetDlgItem(App().GetPage(1)->GetHwnd(), IDC_FORMATS_LIST), 0, 4));
}

// The frame line of every group box keeps clear of the caption's last letter, on every page that
// has group boxes, however the font's letters reach past their measured width.
TEST_F(Labels, GroupBoxLinesKeepClearOfTheirCaptions)
{
    StartApp();
    HWND tabs = App().GetTabControl();
    int groups = 0;
    for (int page : {0, 2, 4}) {
        Input().Click(tabs, CUserInput::Tab(tabs, page));
        ASSERT_EQ(page, App().GetCurrentPage());
        struct Walk
        {
            int* groups;
        } walk{&groups};
        EnumChildWindows(App().GetPage(page)->GetHwnd(), [](HWND child, LPARAM param) -> BOOL {
            wchar_t name[32] = {};
            GetClassNameW(child, name, 32);
            if (_wcsicmp(name, L"Button") != 0 || (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) != BS_GROUPBOX ||
                GetWindowTextLengthW(child) == 0)
                return TRUE;
            ++*reinterpret_cast<Walk*>(param)->groups;
            wchar_t text[256] = {};
            GetWindowTextW(child, text, 256);
            const int gap = CaptionGap(child);
            EXPECT_GE(gap, 2) << "the line meets the caption " << Narrow(text) << " (" << gap << " clear)";
            return TRUE;
        }, reinterpret_cast<LPARAM>(&walk));
    }
    EXPECT_GE(groups, 8);
}
