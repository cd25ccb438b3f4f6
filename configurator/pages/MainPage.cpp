// The connection page: its lists, its enabling rules and its data exchange with the settings copy.
#include "MainPage.h"
#include "App.h"
#include "LoadingScope.h"
#include "MainPageRes.h"
#include "PageRefusal.h"
#include "ModuleState.h"
#include "Models.h"
#include "SerialPorts.h"
#include <commctrl.h>

namespace {

// The number boxes and their up-down controls, in the order of MAIN_PAGE_NUMBER_FIELDS (which
// holds the controls-record field and the range of each).
struct NumberBox
{
    int Edit;
    int Spin;
};

const NumberBox g_numberBoxes[MAIN_PAGE_NUMBER_COUNT] = {
    {IDC_MP_CONNECT_TIMEOUT, IDC_MP_CONNECT_TIMEOUT_SPIN},
    {IDC_MP_REQ_TIMEOUT, IDC_MP_REQ_TIMEOUT_SPIN},
    {IDC_MP_REQ_TRIES, IDC_MP_REQ_TRIES_SPIN},
    {IDC_MP_RX_PERIOD, IDC_MP_RX_PERIOD_SPIN},
    {IDC_MP_CONNECT_PERIOD, IDC_MP_CONNECT_PERIOD_SPIN},
    {IDC_MP_FIND_IP_TIMEOUT, IDC_MP_FIND_IP_TIMEOUT_SPIN},
    {IDC_MP_FIND_IP_TRIES, IDC_MP_FIND_IP_TRIES_SPIN},
};

// Every check box and the controls-record field it shows.
struct CheckBox
{
    int Id;
    bool MainPageControls::*State;
};

const CheckBox g_checkBoxes[] = {
    {IDC_MP_WIEGAND, &MainPageControls::Wiegand},
    {IDC_MP_BINARY, &MainPageControls::Binary},
    {IDC_MP_CORRECT_VM100, &MainPageControls::CorrectVm100},
    {IDC_MP_LOG_ENABLED, &MainPageControls::LogEnabled},
    {IDC_MP_LOG_PORT, &MainPageControls::LogPort},
    {IDC_MP_LOG_READER, &MainPageControls::LogReader},
    {IDC_MP_LOG_KEYS, &MainPageControls::LogKeys},
    {IDC_MP_SEARCH_RS232, &MainPageControls::SearchRs232},
    {IDC_MP_SEARCH_USB, &MainPageControls::SearchUsb},
    {IDC_MP_SEARCH_VIDPID, &MainPageControls::SearchVidPid},
    {IDC_MP_SEARCH_DESCRIPTION, &MainPageControls::SearchDescription},
    {IDC_MP_SEARCH_IP, &MainPageControls::SearchIp},
    {IDC_MP_LOAD_AT_STARTUP, &MainPageControls::LoadAtStartup},
};

// Check boxes whose click is an edit and nothing more.
const int g_plainChecks[] = {IDC_MP_WIEGAND, IDC_MP_BINARY, IDC_MP_CORRECT_VM100, IDC_MP_LOG_PORT,
                             IDC_MP_LOG_READER, IDC_MP_LOG_KEYS, IDC_MP_SEARCH_RS232, IDC_MP_SEARCH_VIDPID,
                             IDC_MP_SEARCH_DESCRIPTION, IDC_MP_LOAD_AT_STARTUP};

std::wstring LoadText(UINT id)
{
    const wchar_t* text = nullptr;
    int length = LoadStringW(ModuleHandle, id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, length) : std::wstring();
}

void AddItem(HWND combo, const std::wstring& text)
{
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring ItemText(HWND combo, LRESULT index)
{
    LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR)
        return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
    text.resize(wcslen(text.c_str()));
    return text;
}

std::wstring WindowTextOf(HWND hWnd)
{
    wchar_t text[256] = {};
    GetWindowTextW(hWnd, text, 256);
    return text;
}

template <size_t N>
bool Contains(const int (&ids)[N], int id)
{
    for (int candidate : ids)
        if (candidate == id)
            return true;
    return false;
}

} // namespace

BOOL CMainPage::OnInitDialog()
{
    MakeChild();
    for (int i = 0; i < MAIN_PAGE_NUMBER_COUNT; ++i)
        SendItemMessage(g_numberBoxes[i].Spin, UDM_SETRANGE32, static_cast<WPARAM>(MAIN_PAGE_NUMBER_FIELDS[i].Min),
                        MAIN_PAGE_NUMBER_FIELDS[i].Max);
    for (int id : {IDC_MP_READER_GROUP, IDC_MP_LOG_GROUP, IDC_MP_SEARCH_GROUP, IDC_MP_IP_GROUP})
    {
        HWND group = GetItem(id);
        SetWindowLongPtrW(group, GWL_STYLE, GetWindowLongPtrW(group, GWL_STYLE) | WS_CLIPSIBLINGS);
    }
    for (const wchar_t* stopBits : {L"1", L"1.5", L"2"})
        AddItem(GetItem(IDC_MP_STOP_BITS), stopBits);
    const std::wstring autoText = LoadText(IDS_AUTO);
    AddItem(GetItem(IDC_MP_MODEL), autoText);
    for (uint32_t model = 1; model < MODEL_COUNT; ++model)
        AddItem(GetItem(IDC_MP_MODEL), ReaderModels[model]);
    AddItem(GetItem(IDC_MP_SPEED), autoText);
    for (uint32_t speed : MAIN_PAGE_SPEEDS)
        AddItem(GetItem(IDC_MP_SPEED), std::to_wstring(speed));
    EnumSerialPorts(m_ports);
    FillPorts();
    UpdateData(false);
    return TRUE;
}

void CMainPage::FillPorts()
{
    FillPorts(GetApp().Portname);
}

void CMainPage::FillPorts(const std::wstring& name)
{
    CLoadingScope loading(m_loading);
    HWND box = GetItem(IDC_MP_PORT);
    SendMessageW(box, CB_RESETCONTENT, 0, 0);
    AddItem(box, LoadText(IDS_AUTO));
    for (const std::wstring& port : m_ports)
        AddItem(box, port);
    if (name.empty())
        return;
    if (IsAutoPortName(name))
    {
        SendMessageW(box, CB_SETCURSEL, 0, 0);
        return;
    }
    LRESULT found = SendMessageW(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name.c_str()));
    // The exact search ignores letter case; a port that differs in case stands as typed text, so
    // that it is saved as it was.
    if (found != CB_ERR && ItemText(box, found) == name)
        SendMessageW(box, CB_SETCURSEL, found, 0);
    else
        SetWindowTextW(box, name.c_str());
}

void CMainPage::RefreshPorts()
{
    // The port the box shows, picked or typed, is the user's choice even before the page is stored:
    // listing the ports again must not put the stored one back in its place.
    const MainPageControls shown = ReadControls();
    const std::wstring port = shown.PortSel == 0 ? std::wstring(L"Auto") : shown.PortText;
    m_ports.clear();
    EnumSerialPorts(m_ports);
    FillPorts(port);
}

void CMainPage::EnableLogControls()
{
    GetApp().Log = IsChecked(IDC_MP_LOG_ENABLED) ? 1 : 0;
    const bool enable = GetApp().Log == 1;
    for (int id : {IDC_MP_LOG_PORT, IDC_MP_LOG_READER, IDC_MP_LOG_KEYS})
        EnableItem(id, enable);
}

void CMainPage::EnableSearchControls()
{
    const MainPageEnables enables = MainPageEnablesFor(ReadControls());
    for (int id : {IDC_MP_SEARCH_VIDPID, IDC_MP_SEARCH_DESCRIPTION})
        EnableItem(id, enables.UsbFilters);
    for (int id : {IDC_MP_IP_GROUP, IDC_MP_IP_TIMEOUT_LABEL, IDC_MP_FIND_IP_TIMEOUT, IDC_MP_FIND_IP_TIMEOUT_SPIN,
                   IDC_MP_IP_TRIES_LABEL, IDC_MP_FIND_IP_TRIES, IDC_MP_FIND_IP_TRIES_SPIN})
        EnableItem(id, enables.IpSearch);
}

MainPageControls CMainPage::ReadControls() const
{
    auto selection = [this](int id) { return static_cast<int>(SendItemMessage(id, CB_GETCURSEL)); };
    auto text = [this](int id) {
        std::wstring value;
        GetDlgItemText(id, value);
        return value;
    };
    MainPageControls c;
    c.Model = selection(IDC_MP_MODEL);
    c.PortSel = selection(IDC_MP_PORT);
    c.PortText = text(IDC_MP_PORT);
    // A text typed over a picked item is what the user means, whatever the list still marks.
    if (c.PortSel >= 0 && c.PortText != ItemText(GetItem(IDC_MP_PORT), c.PortSel))
        c.PortSel = -1;
    c.SpeedSel = selection(IDC_MP_SPEED);
    c.StopBitsSel = selection(IDC_MP_STOP_BITS);
    for (int i = 0; i < MAIN_PAGE_NUMBER_COUNT; ++i)
        c.*MAIN_PAGE_NUMBER_FIELDS[i].Text = text(g_numberBoxes[i].Edit);
    for (const CheckBox& box : g_checkBoxes)
        c.*box.State = IsChecked(box.Id);
    return c;
}

void CMainPage::WriteControls(const MainPageControls& c)
{
    CLoadingScope loading(m_loading);
    SendItemMessage(IDC_MP_MODEL, CB_SETCURSEL, static_cast<WPARAM>(c.Model));
    if (c.PortSel >= 0)
        SendItemMessage(IDC_MP_PORT, CB_SETCURSEL, static_cast<WPARAM>(c.PortSel));
    else
    {
        SendItemMessage(IDC_MP_PORT, CB_SETCURSEL, static_cast<WPARAM>(-1));
        SetDlgItemTextW(m_hWnd, IDC_MP_PORT, c.PortText.c_str());
    }
    SendItemMessage(IDC_MP_SPEED, CB_SETCURSEL, static_cast<WPARAM>(c.SpeedSel));
    SendItemMessage(IDC_MP_STOP_BITS, CB_SETCURSEL, static_cast<WPARAM>(c.StopBitsSel));
    for (int i = 0; i < MAIN_PAGE_NUMBER_COUNT; ++i)
        SetDlgItemTextW(m_hWnd, g_numberBoxes[i].Edit, (c.*MAIN_PAGE_NUMBER_FIELDS[i].Text).c_str());
    for (const CheckBox& box : g_checkBoxes)
        SetCheck(box.Id, c.*box.State);
}

void CMainPage::UpdateData(bool save)
{
    if (save)
    {
        const MainPageControls controls = ReadControls();
        const int refused = FirstRefusedMainPageNumber(controls);
        if (refused >= 0)
            throw RefuseNumber(refused);
        StoreMainPage(controls, GetApp());
        return;
    }
    CLoadingScope loading(m_loading);
    MainPageControls controls;
    LoadMainPage(GetApp(), controls);
    WriteControls(controls);
    EnableLogControls();
    EnableSearchControls();
}

CPageRefusal CMainPage::RefuseNumber(int index) const
{
    const MainPageNumberField& field = MAIN_PAGE_NUMBER_FIELDS[index];
    HWND edit = GetItem(g_numberBoxes[index].Edit);
    // The label stands just before its box; the two boxes of the IP-converter search share their
    // labels with the reader's own, so the group's caption tells them apart.
    std::wstring label = LabelBefore(edit);
    const bool ipSearch = g_numberBoxes[index].Edit == IDC_MP_FIND_IP_TIMEOUT || g_numberBoxes[index].Edit == IDC_MP_FIND_IP_TRIES;
    if (ipSearch)
    {
        label = FieldName(WindowTextOf(GetItem(IDC_MP_IP_GROUP))) + L": " + label;
    }
    // A box that its check box disabled takes no focus: the check box that enables it does.
    HWND focus = IsWindowEnabled(edit) ? edit : GetItem(IDC_MP_SEARCH_IP);
    return NumberRefusal(focus, label, field.Min, field.Max);
}

void CMainPage::OnCommand(int id, int code)
{
    if (m_loading > 0)
        return;
    bool edited = false;
    switch (id)
    {
    case IDC_MP_MODEL:
    case IDC_MP_PORT:
    case IDC_MP_STOP_BITS:
        edited = code == CBN_SELCHANGE || code == CBN_EDITCHANGE;
        break;
    case IDC_MP_SPEED:
        edited = code == CBN_SELCHANGE;
        break;
    case IDC_MP_LOG_ENABLED:
        if (code == BN_CLICKED)
        {
            EnableLogControls();
            edited = true;
        }
        break;
    case IDC_MP_SEARCH_USB:
    case IDC_MP_SEARCH_IP:
        if (code == BN_CLICKED)
        {
            EnableSearchControls();
            edited = true;
        }
        break;
    case IDC_MP_REFRESH:
        RefreshPorts();
        break;
    default:
        for (const NumberBox& box : g_numberBoxes)
            if (id == box.Edit)
                edited = code == EN_CHANGE;
        if (Contains(g_plainChecks, id))
            edited = code == BN_CLICKED;
        break;
    }
    if (edited)
        GetApp().ModifiedFlags |= DATA_ADDIN;
}

LRESULT CMainPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_COMMAND:
        if (LOWORD(wParam) >= IDC_MP_PORT && LOWORD(wParam) <= IDC_MP_CORRECT_VM100)
        {
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}
