// The test page.
#include "TestPage.h"
#include "AppMessageBox.h"
#include "DevOpenRes.h"
#include "MethodsRes.h"
#include "BenchStrings.h"
#include "BenchUi.h"
#include "DevOpenDialog.h"
#include "EventsPage.h"
#include "MethodsPage.h"
#include "ModuleState.h"
#include "PropertiesPage.h"
#include "TestHost.h"
#include "TestPageRes.h"
#include "UiSeam.h"
#include "VariantHelpers.h"

CTestPage* CTestPage::s_current = nullptr;

namespace {

// The combo box of the devices as the device list's sink.
class CComboSink : public IDeviceListSink
{
public:
    explicit CComboSink(HWND combo) : m_combo(combo) {}
    void InsertItem(int index, const std::wstring& text) override
    {
        SendMessageW(m_combo, CB_INSERTSTRING, index, reinterpret_cast<LPARAM>(text.c_str()));
        // A converter's item (address, state, model, serial number, version) is longer than the box.
        FitDroppedWidth(m_combo, text);
    }
    void DeleteItem(int index) override { SendMessageW(m_combo, CB_DELETESTRING, index, 0); }
    void SetSelection(int index) override { SendMessageW(m_combo, CB_SETCURSEL, index, 0); }

private:
    HWND m_combo;
};

const UINT InnerTemplates[CTestPage::InnerPageCount] = {IDD_EVENTS_PAGE, IDD_PROPERTIES_PAGE, IDD_METHODS_PAGE};

} // namespace

CTestPage::~CTestPage()
{
    for (CAppPage*& page : m_pages) {
        delete page;
        page = nullptr;
    }
    if (s_current == this)
        s_current = nullptr;
}

CEventsPage* CTestPage::EventsPage() const
{
    return static_cast<CEventsPage*>(m_pages[0]);
}

BOOL CTestPage::OnInitDialog()
{
    MakeChild();
    s_current = this;
    m_tabs = GetItem(IDC_TEST_TABS);
    m_combo = GetItem(IDC_TEST_DEVICES);
    m_anchors.SetOwner(m_hWnd);
    m_anchors.AddControl(IDC_TEST_TABS, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_anchors.AddControl(IDC_TEST_LOAD, ANCHOR_LEFT | ANCHOR_BOTTOM);
    m_anchors.AddControl(IDC_TEST_DEVICES, ANCHOR_LEFT | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_anchors.AddControl(IDC_TEST_OPEN, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_anchors.AddControl(IDC_TEST_CLOSE, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_anchors.AddControl(IDC_TEST_RECONNECT, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_anchors.Capture();

    const UINT captions[InnerPageCount] = {IDS_TAB_EVENTS, IDS_TAB_PROPERTIES, IDS_TAB_METHODS};
    for (int i = 0; i < InnerPageCount; ++i) {
        std::wstring caption = LoadAppString(captions[i]);
        TCITEMW item = {};
        item.mask = TCIF_TEXT | TCIF_PARAM;
        item.pszText = const_cast<wchar_t*>(caption.c_str());
        item.lParam = i;
        SendMessageW(m_tabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    m_bench.host.AddListener(ListenDevices, this, OnDevicesChanged);
    m_listening = true;
    UpdateLoadButton();
    UpdateButtons();
    RefreshDevices();
    ShowInnerPage(0);
    return TRUE;
}

void CTestPage::OnDevicesChanged(void* context, CTestParvel*)
{
    static_cast<CTestPage*>(context)->OnHostChanged();
}

void CTestPage::UpdateLoadButton()
{
    SetDlgItemTextW(m_hWnd, IDC_TEST_LOAD,
                    LoadAppString(m_bench.host.IsLoaded() ? IDS_TEST_UNLOAD : IDS_TEST_LOAD).c_str());
}

void CTestPage::UpdateButtons()
{
    const bool loaded = m_bench.host.IsLoaded();
    const bool selected = SendMessageW(m_combo, CB_GETCURSEL, 0, 0) != CB_ERR;
    EnableItem(IDC_TEST_DEVICES, loaded);
    EnableItem(IDC_TEST_OPEN, loaded);
    EnableItem(IDC_TEST_CLOSE, loaded && selected);
    EnableItem(IDC_TEST_RECONNECT, loaded && selected);
}

void CTestPage::OnLoadUnload()
{
    CTestParvel& host = m_bench.host;
    // Create's failures reach the dialog procedure, which shows them; the buttons follow the host
    // whatever happened.
    struct Update
    {
        CTestPage* page;
        ~Update()
        {
            page->UpdateLoadButton();
            page->UpdateButtons();
        }
    } update{this};
    if (host.IsLoaded())
        host.Unload();
    else
        host.Create();
}

void CTestPage::OnOpen()
{
    CDlgDevOpen dialog(m_bench);
    if (AppDialogBox(dialog, IDD_DEV_OPEN, m_hWnd) != 1)
        return;
    OnHostChanged();
    const int row = m_devices.FindDevice(dialog.Device());
    if (row >= 0) {
        m_devices.Select(row);
        SendMessageW(m_combo, CB_SETCURSEL, row, 0);
        UpdateButtons();
    }
}

void CTestPage::OnClose()
{
    const int row = static_cast<int>(SendMessageW(m_combo, CB_GETCURSEL, 0, 0));
    if (row < 0 || row >= static_cast<int>(m_devices.Rows().size()))
        return;
    m_bench.host.Close(m_devices.Rows()[row].device);
}

void CTestPage::OnReconnect()
{
    const int row = static_cast<int>(SendMessageW(m_combo, CB_GETCURSEL, 0, 0));
    if (row < 0 || row >= static_cast<int>(m_devices.Rows().size()))
        return;
    CTestParvel& host = m_bench.host;
    if (m_settingsChanged)
        host.LoadSettings();
    host.Reconnect(m_devices.Rows()[row].device);
    m_settingsChanged = false;
}

void CTestPage::OnHostChanged()
{
    CTestParvel& host = m_bench.host;
    if (!host.Devices().empty() && !m_timerRunning)
        m_timerRunning = SetTimer(m_hWnd, StatusTimer, 1000, nullptr) != 0;
    else if (host.Devices().empty() && m_timerRunning)
        StopTimer();
    RefreshDevices();
}

void CTestPage::RefreshDevices()
{
    CTestParvel& host = m_bench.host;
    std::vector<DeviceReading> readings;
    if (host.IsLoaded() && host.Component()) {
        for (const std::wstring& device : host.Devices()) {
            // GetReaderInfo (device, out model, out serial, out version, out text) and GetStatus.
            CVariantArray info(6, host.MemoryManager());
            info.SetWStr(1, device.c_str());
            const bool ok = host.CallAsFunc(L"GetReaderInfo", &info[0], &info[1], 5) && info[0].vt == VTYPE_BOOL &&
                            info[0].bVal;
            CVariantArray status(2, host.MemoryManager());
            status.SetWStr(1, device.c_str());
            host.CallAsFunc(L"GetStatus", &status[0], &status[1], 1);
            readings.push_back(ReadingFromVariants(device, ok ? &info[2] : nullptr, status[0]));
        }
    }
    CComboSink sink(m_combo);
    if (m_devices.Refresh(readings, sink))
        UpdateButtons();
}

void CTestPage::ShowInnerPage(int index)
{
    if (index < 0 || index >= InnerPageCount)
        return;
    if (CAppPage* shown = InnerPage(m_shown))
        ShowWindow(shown->GetHwnd(), SW_HIDE);
    m_shown = -1;
    if (!m_pages[index]) {
        CAppPage* page = nullptr;
        switch (index) {
        case 0: page = new CEventsPage(m_bench); break;
        case 1: page = new CPropertiesPage(m_bench); break;
        default: page = new CMethodsPage(m_bench); break;
        }
        HWND hWnd = CreateDialogParamW(ModuleHandle, MAKEINTRESOURCEW(InnerTemplates[index]), m_hWnd,
                                       CWnd::StaticDlgProc, reinterpret_cast<LPARAM>(page));
        if (!hWnd) {
            delete page;
            return;
        }
        m_pages[index] = page;
    }
    m_shown = index;
    PlaceChildPage();
    SendMessageW(m_tabs, TCM_SETCURSEL, index, 0);
}

void CTestPage::PlaceChildPage()
{
    CAppPage* page = InnerPage(m_shown);
    if (!page)
        return;
    RECT r;
    GetWindowRect(m_tabs, &r);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    SendMessageW(m_tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
    SetWindowPos(page->GetHwnd(), HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_SHOWWINDOW);
}

void CTestPage::UpdateData(bool save)
{
    for (CAppPage* page : m_pages)
        if (page)
            page->UpdateData(save);
}

void CTestPage::StopTimer()
{
    if (m_timerRunning)
        KillTimer(m_hWnd, StatusTimer);
    m_timerRunning = false;
}

void CTestPage::OnDestroy()
{
    StopTimer();
    StopListeningToHost(m_bench.host, this, m_listening);
    for (CAppPage* page : m_pages)
        if (page && page->GetHwnd())
            DestroyWindow(page->GetHwnd());
    if (s_current == this)
        s_current = nullptr;
}

LRESULT CTestPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_SIZE:
        m_anchors.Apply(LOWORD(lParam), HIWORD(lParam));
        PlaceChildPage();
        return TRUE;
    case WM_TIMER:
        if (wParam == StatusTimer) {
            // A failing refresh stops the timer quietly; the next change of the device list
            // starts it again.
            try {
                OnHostChanged();
            } catch (...) {
                StopTimer();
            }
        }
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_TEST_LOAD: OnLoadUnload(); return TRUE;
        case IDC_TEST_OPEN: OnOpen(); return TRUE;
        case IDC_TEST_CLOSE: OnClose(); return TRUE;
        case IDC_TEST_RECONNECT: OnReconnect(); return TRUE;
        case IDC_TEST_DEVICES:
            if (HIWORD(wParam) == CBN_SELCHANGE) {
                m_devices.Select(static_cast<int>(SendMessageW(m_combo, CB_GETCURSEL, 0, 0)));
                UpdateButtons();
            }
            return TRUE;
        }
        break;
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (hdr->hwndFrom == m_tabs && hdr->code == TCN_SELCHANGE) {
            ShowInnerPage(static_cast<int>(SendMessageW(m_tabs, TCM_GETCURSEL, 0, 0)));
            return TRUE;
        }
        break;
    }
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_DESTROY:
        OnDestroy();
        break;
    }
    return FALSE;
}
