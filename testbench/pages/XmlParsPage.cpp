// The generated parameter form of one page.
#include "XmlParsPage.h"
#include "GroupCaption.h"
#include "BenchUi.h"
#include "DpiScale.h"
#include "ScrollHelper.h"
#include <algorithm>

namespace {
// The form's figures at 96 DPI; the layout takes each through ScalePixels.
const int Margin = 8;
const int RowHeight = 23;
const int RowStep = 31;
const int FirstRowOffset = 25;
const int GroupFrame = 25;   // a group box's caption band and bottom edge around its rows
const int LabelIndent = 8;   // labels from the group box's left edge
const int ControlGap = 16;   // between a label column and its controls
const int RightRoom = 32;    // beside a control's right edge, the group box's and the scroll bar's
const int ListHeight = 173;  // a control that lists choices
const int MinControlWidth = 20;

// The height of a group box of `rows` rows.
int GroupHeight(int rows)
{
    return ScalePixels(GroupFrame + RowStep * rows);
}
} // namespace

CXmlParsPage::~CXmlParsPage()
{
    DestroyControls();
}

void CXmlParsPage::DestroyControls()
{
    for (FormControl& c : m_controls)
        if (c.hWnd && IsWindow(c.hWnd))
            DestroyWindow(c.hWnd);
    m_controls.clear();
}

HWND CXmlParsPage::MakeControl(int kind, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle,
                               int param, int group)
{
    HWND hWnd = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, m_hWnd,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(m_nextId++)),
                                reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(m_hWnd, GWLP_HINSTANCE)), nullptr);
    if (hWnd)
        SendMessageW(hWnd, WM_SETFONT, SendMessageW(m_hWnd, WM_GETFONT, 0, 0), FALSE);
    m_controls.push_back(FormControl{kind, hWnd, param, group});
    return hWnd;
}

void CXmlParsPage::Build(const CMXNode& page)
{
    DestroyControls();
    m_params.clear();
    m_groupRows.clear();
    int group = 0;
    for (const FormGroup& g : ReadFormGroups(page)) {
        PadGroupCaption(
            MakeControl(1, L"Button", g.caption.c_str(), BS_GROUPBOX, WS_EX_TRANSPARENT | WS_EX_NOPARENTNOTIFY, -1, group));
        int rows = 0;
        for (const ParamInfo& p : g.parameters) {
            const int index = static_cast<int>(m_params.size());
            m_params.push_back(p);
            const std::wstring label = p.caption + L":";
            MakeControl(2, L"Static", label.c_str(), SS_RIGHT | SS_CENTERIMAGE | SS_ENDELLIPSIS, 0, index, group);
            switch (ControlKindFor(p)) {
            case FormControlKind::Edit:
                // Numbers may be negative (RxPeriod -1), which ES_NUMBER would refuse to take: the
                // text is checked before anything is sent instead.
                MakeControl(3, L"Edit", p.defaultValue.c_str(), WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, index,
                            group);
                break;
            case FormControlKind::Combo: {
                HWND combo = MakeControl(4, L"ComboBox", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0,
                                         index, group);
                for (const ParamChoice& c : p.choices)
                    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(c.text.c_str()));
                const int chosen = ChoiceIndexOf(p, p.defaultValue);
                if (chosen >= 0) {
                    const LRESULT at = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                    reinterpret_cast<LPARAM>(p.choices[chosen].text.c_str()));
                    SendMessageW(combo, CB_SETCURSEL, at == CB_ERR ? chosen : at, 0);
                } else {
                    SetWindowTextW(combo, p.defaultValue.c_str());
                }
                break;
            }
            case FormControlKind::Check: {
                HWND check = MakeControl(5, L"Button", L"", WS_TABSTOP | BS_AUTOCHECKBOX, 0, index, group);
                SendMessageW(check, BM_SETCHECK, p.defaultValue == L"true" ? BST_CHECKED : BST_UNCHECKED, 0);
                break;
            }
            case FormControlKind::None:
                break;
            }
            ++rows;
        }
        m_groupRows.push_back(rows);
        ++group;
    }
    Layout();
}

void CXmlParsPage::Layout()
{
    RECT client = {};
    GetClientRect(m_hWnd, &client);
    std::vector<int> labelWidth(m_groupRows.size(), ScalePixels(50));
    {
        CWindowTextDc dc(m_hWnd);
        for (const FormControl& c : m_controls) {
            if (c.kind != 2)
                continue;
            const std::wstring text = m_params[c.param].caption + L":";
            SIZE size = {};
            GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &size);
            labelWidth[c.group] = std::min(ScalePixels(500), std::max(labelWidth[c.group], static_cast<int>(size.cx)));
        }
    }

    const int width = client.right - client.left;
    const int margin = ScalePixels(Margin), rowHeight = ScalePixels(RowHeight), rowStep = ScalePixels(RowStep);
    // Below a group box: its margin, and a second one under a box without rows.
    auto groupEnd = [&](int top, int rows) { return top + GroupHeight(rows) + (rows ? margin : 2 * margin); };
    int y = margin;
    int groupTop = y;
    int row = 0;
    int currentGroup = -1;
    for (FormControl& c : m_controls) {
        if (c.kind == 1) {
            if (currentGroup >= 0)
                y = groupEnd(groupTop, m_groupRows[currentGroup]);
            currentGroup = c.group;
            groupTop = y;
            row = 0;
            SetWindowPos(c.hWnd, nullptr, margin, groupTop - m_scrollPos, width - 2 * margin,
                         GroupHeight(m_groupRows[c.group]), SWP_NOZORDER | SWP_NOACTIVATE);
            continue;
        }
        const int top = groupTop + ScalePixels(FirstRowOffset) + rowStep * row;
        const int labelLeft = margin + ScalePixels(LabelIndent);
        if (c.kind == 2) {
            SetWindowPos(c.hWnd, nullptr, labelLeft, top - m_scrollPos, labelWidth[c.group], rowHeight,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            // A parameter whose type the form does not know has its label only.
            if (ControlKindFor(m_params[c.param]) == FormControlKind::None)
                ++row;
            continue;
        }
        const int left = labelLeft + labelWidth[c.group] + ScalePixels(ControlGap);
        const int controlWidth = std::max(ScalePixels(MinControlWidth), width - ScalePixels(RightRoom) - left);
        SetWindowPos(c.hWnd, nullptr, left, top - m_scrollPos, controlWidth,
                     c.kind == 4 ? ScalePixels(ListHeight) : rowHeight, SWP_NOZORDER | SWP_NOACTIVATE);
        ++row;
    }
    if (currentGroup >= 0)
        y = groupEnd(groupTop, m_groupRows[currentGroup]);
    m_contentHeight = y;
    OnSize(width, client.bottom - client.top);
}

void CXmlParsPage::OnSize(int cx, int cy)
{
    for (FormControl& c : m_controls) {
        RECT r;
        GetWindowRect(c.hWnd, &r);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
        if (c.kind == 1)
            SetWindowPos(c.hWnd, nullptr, 0, 0, std::max(ScalePixels(MinControlWidth), cx - 2 * ScalePixels(Margin)),
                         r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
        else if (c.kind >= 3)
            SetWindowPos(c.hWnd, nullptr, 0, 0,
                         std::max(ScalePixels(MinControlWidth), cx - ScalePixels(RightRoom) - static_cast<int>(r.left)),
                         c.kind == 4 ? ScalePixels(ListHeight) : r.bottom - r.top,
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    }
    if (cy < m_contentHeight) {
        SCROLLINFO si = {sizeof(si), SIF_RANGE | SIF_PAGE | SIF_POS, 0, m_contentHeight, static_cast<UINT>(cy),
                         std::min(m_scrollPos, m_contentHeight - cy), 0};
        ShowScrollBar(m_hWnd, SB_VERT, TRUE);
        SetScrollInfo(m_hWnd, SB_VERT, &si, TRUE);
        ScrollTo(si.nPos);
    } else {
        ScrollTo(0);
        ShowScrollBar(m_hWnd, SB_VERT, FALSE);
    }
}

void CXmlParsPage::ScrollTo(int pos)
{
    if (pos == m_scrollPos)
        return;
    const int delta = m_scrollPos - pos;
    m_scrollPos = pos;
    SetScrollPos(m_hWnd, SB_VERT, pos, TRUE);
    ScrollWindowEx(m_hWnd, 0, delta, nullptr, nullptr, nullptr, nullptr, SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
}

void CXmlParsPage::ScrollIntoView(HWND control)
{
    RECT client, r;
    GetClientRect(m_hWnd, &client);
    if (client.bottom >= m_contentHeight)
        return;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    // Controls sit where they were laid out minus the scroll position.
    ScrollTo(ScrollPosToShow(m_scrollPos, client.bottom, m_contentHeight, r.top + m_scrollPos, r.bottom + m_scrollPos));
}

void CXmlParsPage::OnVScroll(int code)
{
    SCROLLINFO si = {};
    si.cbSize = sizeof(si);
    si.fMask = SIF_ALL;
    GetScrollInfo(m_hWnd, SB_VERT, &si);
    const int range = std::max(0, si.nMax - static_cast<int>(si.nPage));
    const int line = std::max(5, range / 20);
    const int page = std::max(5, range / 10);
    int pos = m_scrollPos;
    switch (code) {
    case SB_LINEUP: pos -= line; break;
    case SB_LINEDOWN: pos += line; break;
    case SB_PAGEUP: pos -= page; break;
    case SB_PAGEDOWN: pos += page; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: pos = si.nTrackPos; break;
    case SB_TOP: pos = 0; break;
    case SB_BOTTOM: pos = range; break;
    default: return;
    }
    ScrollTo(std::max(0, std::min(pos, range)));
}

HWND CXmlParsPage::ControlOf(const std::wstring& name) const
{
    for (const FormControl& c : m_controls)
        if (c.kind >= 3 && m_params[c.param].name == name)
            return c.hWnd;
    return nullptr;
}

std::wstring CXmlParsPage::ValueOf(const FormControl& c) const
{
    const ParamInfo& p = m_params[c.param];
    if (c.kind == 5)
        return SendMessageW(c.hWnd, BM_GETCHECK, 0, 0) == BST_CHECKED ? L"true" : L"false";
    const int length = GetWindowTextLengthW(c.hWnd);
    std::wstring text(length + 1, L'\0');
    text.resize(GetWindowTextW(c.hWnd, &text[0], length + 1));
    if (c.kind == 4)
        return ComboValue(p, static_cast<int>(SendMessageW(c.hWnd, CB_GETCURSEL, 0, 0)), text);
    return text;
}

HWND CXmlParsPage::FirstBadNumber() const
{
    for (const FormControl& c : m_controls)
        if ((c.kind == 3 || c.kind == 4) && m_params[c.param].type == DriverTypeNumber && !IsDriverNumber(ValueOf(c)))
            return c.hWnd;
    return nullptr;
}

std::wstring CXmlParsPage::CaptionOf(HWND control) const
{
    for (const FormControl& c : m_controls)
        if (c.hWnd == control && c.param >= 0)
            return m_params[c.param].caption;
    return std::wstring();
}

void CXmlParsPage::UpdateData(bool save)
{
    if (!save || !m_driverParams)
        return;
    // Group boxes and labels stand for no value (and a page of groups alone has no parameters).
    for (const FormControl& c : m_controls)
        if (c.kind >= 3 && c.kind <= 5)
            StoreParameterValue(*m_driverParams, m_params[c.param].name, ValueOf(c));
}

LRESULT CXmlParsPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        MakeChild();
        ShowScrollBar(m_hWnd, SB_VERT, FALSE);
        m_focus.Start(m_hWnd, [this](HWND control) { ScrollIntoView(control); });
        return TRUE;
    case WM_SIZE:
        OnSize(LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_VSCROLL:
        OnVScroll(LOWORD(wParam));
        return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_DESTROY:
        m_focus.Stop();
        DestroyControls();
        break;
    }
    return FALSE;
}
