// Measuring controls against their windows and labels against their controls (see WindowFit.h).
#include "WindowFit.h"
#include <commctrl.h>
#include <vector>

const int kDialogTemplates[kDialogTemplateCount] = {900, 901, 902, 903, 904, 905, 906, 149, 150, 950, 951,
                                                    952, 953, 954, 955, 956, 957, 958, 959, 960, 961};

std::wstring ClassOf(HWND hWnd)
{
    wchar_t name[64] = {};
    GetClassNameW(hWnd, name, 64);
    return name;
}

// The room a control's label has inside it, and how it lays the text out; false for a control
// without a label of its own (edits, lists, icons).
static bool LabelRoom(HWND control, RECT& room, UINT& format)
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

// Group boxes and tab controls are drawn around the controls placed on them.
static bool FramesOthers(HWND control)
{
    const std::wstring cls = ClassOf(control);
    if (_wcsicmp(cls.c_str(), WC_TABCONTROLW) == 0)
        return true;
    return _wcsicmp(cls.c_str(), L"Button") == 0 &&
           (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

// Whether the window has a scroll bar of that direction with something to scroll.
static bool Scrolls(HWND window, int bar)
{
    if (!(GetWindowLongW(window, GWL_STYLE) & (bar == SB_VERT ? WS_VSCROLL : WS_HSCROLL)))
        return false;
    SCROLLINFO si = {};
    si.cbSize = sizeof(si);
    si.fMask = SIF_RANGE | SIF_PAGE;
    return GetScrollInfo(window, bar, &si) && si.nMax >= static_cast<int>(si.nPage);
}

static HWND BuddyOf(HWND control)
{
    if (_wcsicmp(ClassOf(control).c_str(), UPDOWN_CLASSW) != 0)
        return nullptr;
    return reinterpret_cast<HWND>(SendMessageW(control, UDM_GETBUDDY, 0, 0));
}

static std::wstring Describe(HWND control)
{
    wchar_t text[48] = {};
    GetWindowTextW(control, text, 48);
    return ClassOf(control) + L" " + std::to_wstring(GetDlgCtrlID(control)) + L" \"" + text + L"\"";
}

static RECT InClient(HWND window, HWND parent)
{
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void CheckPlacement(HWND root, const std::wstring& where, std::wostringstream& problems)
{
    std::vector<HWND> shown;
    EnumChildWindows(root, [](HWND child, LPARAM param) -> BOOL {
        if (IsWindowVisible(child))
            reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&shown));
    for (size_t i = 0; i < shown.size(); ++i) {
        HWND control = shown[i], parent = GetParent(control);
        RECT client, r = InClient(control, parent);
        GetClientRect(parent, &client);
        const bool across = Scrolls(parent, SB_HORZ), down = Scrolls(parent, SB_VERT);
        if ((!across && (r.left < 0 || r.right > client.right)) || (!down && (r.top < 0 || r.bottom > client.bottom)))
            problems << where << L": " << Describe(control) << L" at (" << r.left << L"," << r.top << L")-("
                     << r.right << L"," << r.bottom << L") is cut by its parent's " << client.right << L"x"
                     << client.bottom << L"\n";
        // A one-line edit shows its text whole: its inside is as tall as a line of its font.
        if (_wcsicmp(ClassOf(control).c_str(), L"Edit") == 0 && !(GetWindowLongW(control, GWL_STYLE) & ES_MULTILINE)) {
            RECT inside;
            GetClientRect(control, &inside);
            HDC dc = GetDC(control);
            HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
            TEXTMETRICW metrics = {};
            GetTextMetricsW(dc, &metrics);
            SelectObject(dc, old);
            ReleaseDC(control, dc);
            if (inside.bottom < metrics.tmHeight)
                problems << where << L": " << Describe(control) << L" is " << inside.bottom << L" high inside, its text "
                         << metrics.tmHeight << L"\n";
        }
        for (size_t j = i + 1; j < shown.size(); ++j) {
            HWND other = shown[j];
            if (GetParent(other) != parent)
                continue;
            RECT o = InClient(other, parent), both;
            if (!IntersectRect(&both, &r, &o))
                continue;
            if ((FramesOthers(control) && EqualRect(&both, &o)) || (FramesOthers(other) && EqualRect(&both, &r)))
                continue;
            // An up-down control sits on its buddy's edge, as the system places it.
            if (BuddyOf(control) == other || BuddyOf(other) == control)
                continue;
            problems << where << L": " << Describe(control) << L" overlaps " << Describe(other) << L" by "
                     << both.right - both.left << L"x" << both.bottom - both.top << L"\n";
        }
    }
}
