// The test bench end to end, in process: the real add-in, a simulated reader on a pty-mapped COM
// port, and the pages driven by the messages a user's clicks send. COM60-COM62 belong to these
// tests. Run once in English and once under a Russian locale.
#include "BenchGuiFixture.h"
#include "DevOpenDialog.h"
#include "DevOpenRes.h"
#include "Handles.h"
#include "EventsPage.h"
#include "ListViewHelpers.h"
#include "MethodDialog.h"
#include "MethodsPage.h"
#include "MethodsRes.h"
#include "ParamsPage.h"
#include "PropertiesPage.h"
#include "PropertyDialog.h"
#include "RegKey.h"
#include "ScratchRegistry.h"
#include "SearchReadersDialog.h"
#include "TestPageRes.h"
#include "VariantHelpers.h"
#include "XmlParsPage.h"
#include <tlhelp32.h>
#include "BenchStrings.h"
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

using namespace benchgui;

namespace {

const int ComPort = 61;
const wchar_t* const Port = L"COM61";

// One simulated text reader, destroyed at the end of the scope.
class SimReader
{
public:
    SimReader(simctl::CSimControl& sim, int com) : m_sim(sim)
    {
        simctl::SimReaderConfig config;
        config.pace = 0;
        m_info = sim.CreateSerial(com, config);
    }
    ~SimReader()
    {
        try {
            m_sim.Destroy(m_info.id);
        } catch (...) {
        }
    }
    int Id() const { return m_info.id; }
    bool PeerOpen() { return m_sim.Info(m_info.id)["peer_open"].AsBool(); }

private:
    simctl::CSimControl& m_sim;
    simctl::SimReaderInfo m_info;
};

// The kernel's serial-port map in a scratch HKEY_LOCAL_MACHINE, naming the given port.
class SerialCommMap
{
public:
    explicit SerialCommMap(int com)
    {
        RegKeyHolder key;
        m_ok = m_scratch.Ok() && RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr) == ERROR_SUCCESS;
        const std::wstring data = L"COM" + std::to_wstring(com);
        m_ok = m_ok && RegSetValueExW(key.Get(), L"\\Device\\Serial99", 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(data.c_str()),
                                      static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    bool Ok() const { return m_ok; }

private:
    ScratchRegistry m_scratch{HKEY_LOCAL_MACHINE};
    bool m_ok = false;
};

int ThreadCount()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Thread32First(snap, &entry); ok; ok = Thread32Next(snap, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snap);
    return count;
}

std::wstring ReadUtf8File(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::wstring();
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return Utf8ToWide(bytes);
}

// What a window shows while its thread is held in a call: another thread reads its title (without
// a message, which the held thread would never answer) and, sharing the window thread's input
// state, its cursor every millisecond until stopped, and keeps the first title that differed from
// the one it began with and whether the wait cursor showed.
class BusyWatch
{
public:
    explicit BusyWatch(HWND window)
        : m_window(window), m_windowThread(GetCurrentThreadId()), m_before(Title()), m_thread([this] { Watch(); })
    {
        while (!m_started)
            Sleep(1);
    }
    ~BusyWatch() { Stop(); }
    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::wstring before() const { return m_before; }
    std::wstring changed; // empty when the title never changed
    bool waitCursor = false;

private:
    std::wstring Title() const
    {
        wchar_t text[256] = {};
        InternalGetWindowText(m_window, text, 256);
        return text;
    }
    void Watch()
    {
        const HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
        const bool attached = AttachThreadInput(GetCurrentThreadId(), m_windowThread, TRUE) != FALSE;
        m_started = true;
        while (!m_stop) {
            const std::wstring now = Title();
            if (changed.empty() && now != m_before)
                changed = now;
            if (attached && GetCursor() == wait)
                waitCursor = true;
            Sleep(1);
        }
        if (attached)
            AttachThreadInput(GetCurrentThreadId(), m_windowThread, FALSE);
    }

    HWND m_window;
    DWORD m_windowThread;
    std::wstring m_before;
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class BenchEndToEnd : public BenchGuiTest
{
protected:
    // Opens the simulated reader through the device dialog: the form's Port set to the simulated
    // port, "Device Test", then "Save and close". Returns the dialog's result.
    INT_PTR OpenThroughDialog(bool deviceTest)
    {
        bool sawForm = false;
        seam.drivers[IDD_DEV_OPEN] = [&](CWnd& wnd, HWND hWnd) -> INT_PTR {
            CDlgDevOpen& dialog = static_cast<CDlgDevOpen&>(wnd);
            CParamsPage* form = dialog.FormPage();
            if (!form || form->FormCount() < 1)
                return 2;
            sawForm = true;
            HWND port = form->Form(0)->ControlOf(L"Port");
            if (!port)
                return 2;
            SendMessageW(port, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
            SetWindowTextW(port, Port);
            if (HWND timeout = form->Form(0)->ControlOf(L"ConnectTimeout"))
                SetWindowTextW(timeout, L"3000");
            ShowWindow(hWnd, SW_SHOW); // as the modal loop shows it
            if (deviceTest) {
                const size_t before = seam.boxes.size();
                // The call holds the window's thread: before it starts the window says what runs
                // and shows the wait cursor, and takes both back after it.
                BusyWatch watch(hWnd);
                SendMessageW(form->GetHwnd(), WM_COMMAND, ID_DEVICE_TEST, 0);
                watch.Stop();
                EXPECT_EQ(watch.before() + L" - " + LoadAppString(IDS_BENCH_DEVICE_TEST_RUNNING), watch.changed);
                EXPECT_TRUE(watch.waitCursor);
                EXPECT_EQ(watch.before(), WindowText(hWnd));
                EXPECT_EQ(before + 1, seam.boxes.size());
                if (seam.boxes.size() == before + 1) {
                    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), seam.boxes.back().flags) << seam.boxes.back().text;
                    EXPECT_FALSE(seam.boxes.back().text.empty());
                }
            }
            // "Save and close" by Enter on the focused button, through the dialog's dialog manager
            // as in its modal loop: the command reaches the form page inside the dialog.
            SetFocus(GetDlgItem(form->GetHwnd(), IDC_PARAMS_SAVE));
            CUserInput keys([hWnd](MSG* msg) { return IsDialogMessageW(hWnd, msg) != FALSE; });
            keys.PressKey(VK_RETURN);
            return dialog.Device().empty() ? 2 : 1;
        };
        Click(page->GetHwnd(), IDC_TEST_OPEN);
        EXPECT_TRUE(sawForm);
        return 0;
    }

    simctl::CSimControl sim;
};

} // namespace

TEST_F(BenchEndToEnd, ReaderThroughTheWholeBench)
{
    HWND pageWnd = page->GetHwnd();
    // Before Load only Load is enabled.
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(pageWnd, IDC_TEST_LOAD)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(pageWnd, IDC_TEST_DEVICES)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(pageWnd, IDC_TEST_OPEN)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(pageWnd, IDC_TEST_CLOSE)));
    EXPECT_EQ(Russian() ? L"&Загрузить" : L"&Load", WindowText(GetDlgItem(pageWnd, IDC_TEST_LOAD)));

    Click(pageWnd, IDC_TEST_LOAD);
    ASSERT_TRUE(Host().IsLoaded()) << (seam.boxes.empty() ? L"" : seam.boxes.back().text).c_str();
    EXPECT_EQ(Russian() ? L"&Выгрузить" : L"&Unload", WindowText(GetDlgItem(pageWnd, IDC_TEST_LOAD)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(pageWnd, IDC_TEST_DEVICES)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(pageWnd, IDC_TEST_OPEN)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(pageWnd, IDC_TEST_CLOSE)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(pageWnd, IDC_TEST_RECONNECT)));

    // A narrow box, as on a small screen: what it cannot show, its drop-down list must.
    {
        HWND combo = GetDlgItem(pageWnd, IDC_TEST_DEVICES);
        RECT box = {};
        GetWindowRect(combo, &box);
        SetWindowPos(combo, nullptr, 0, 0, 120, box.bottom - box.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SimReader reader(sim, ComPort);
    OpenThroughDialog(true);
    ASSERT_EQ(1u, page->Devices().Rows().size());
    EXPECT_EQ(Port, page->Devices().Rows()[0].device);
    EXPECT_EQ(0, SendDlgItemMessageW(pageWnd, IDC_TEST_DEVICES, CB_GETCURSEL, 0, 0));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(pageWnd, IDC_TEST_CLOSE)));
    EXPECT_TRUE(page->StatusTimerRunning());
    // The status timer shows the reader connected with its model and serial number.
    ASSERT_TRUE(PumpUntil([&] { return !page->Devices().Rows().empty() && page->Devices().Rows()[0].state == 3; }, 10000));
    std::wstring item(256, L'\0');
    item.resize(SendDlgItemMessageW(pageWnd, IDC_TEST_DEVICES, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(&item[0])));
    EXPECT_EQ(0u, item.find(Russian() ? L"COM61 подключен - Kora USB" : L"COM61 connected - Kora USB")) << item;
    // The drop-down list shows the item whole.
    {
        HWND combo = GetDlgItem(pageWnd, IDC_TEST_DEVICES);
        HDC dc = GetDC(combo);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(combo, WM_GETFONT, 0, 0)));
        SIZE size = {};
        GetTextExtentPoint32W(dc, item.c_str(), static_cast<int>(item.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(combo, dc);
        RECT box = {};
        GetWindowRect(combo, &box);
        EXPECT_GE(SendMessageW(combo, CB_GETDROPPEDWIDTH, 0, 0), size.cx + 4 * GetSystemMetrics(SM_CXEDGE))
            << item << " in a box " << (box.right - box.left) << " wide";
    }

    // A presented card reaches the events page, newest first, and the test log.
    sim.PresentKey(reader.Id(), "EM", {0x39, 0x30, 0x7B, 0x00, 0x00});
    const wchar_t* tracks = Russian() ? L"ДанныеКарты" : L"TracksData";
    CEventsPage* events = page->EventsPage();
    ASSERT_NE(nullptr, events);
    // The page shows it at the next tick of its refresh timer.
    ASSERT_TRUE(PumpUntil([&] { return events->View().GetItemCount() > 0 &&
                                       events->View().Cache().Row(0).message == tracks &&
                                       SendMessageW(events->List(), LVM_GETITEMCOUNT, 0, 0) ==
                                           events->View().GetItemCount(); }, 10000));
    const LogRow newest = events->View().Cache().Row(0);
    EXPECT_EQ(Port, newest.source);
    EXPECT_FALSE(newest.data.empty());
    const std::wstring log = ReadUtf8File(folder.Path() + L"\\TestParvel.log");
    EXPECT_NE(std::wstring::npos, log.find(std::wstring(L"[I COM61] ") + tracks + L" | " + newest.data)) << log;

    // Close removes the device and stops the status timer.
    Click(pageWnd, IDC_TEST_CLOSE);
    EXPECT_TRUE(page->Devices().Rows().empty());
    EXPECT_EQ(0, SendDlgItemMessageW(pageWnd, IDC_TEST_DEVICES, CB_GETCOUNT, 0, 0));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(pageWnd, IDC_TEST_CLOSE)));
    EXPECT_FALSE(page->StatusTimerRunning());

    // The search dialog finds the simulated reader.
    SerialCommMap ports(ComPort);
    ASSERT_TRUE(ports.Ok());
    {
        CVariantArray flags(1, Host().MemoryManager());
        flags.SetUI4(0, 1); // serial ports of the registry only
        Host().SetProperty(L"SearchFlags", &flags[0]);
    }
    page->ShowInnerPage(2);
    CMethodsPage* methods = static_cast<CMethodsPage*>(page->InnerPage(2));
    ASSERT_NE(nullptr, methods);
    std::wstring found;
    seam.drivers[IDD_SEARCH_READERS] = [&](CWnd& wnd, HWND hWnd) -> INT_PTR {
        CSearchReaders& search = static_cast<CSearchReaders&>(wnd);
        EXPECT_TRUE(PumpUntil([&] { return !search.Searching(); }, 30000));
        found = WindowText(GetDlgItem(hWnd, IDC_SEARCH_FOUND));
        return IDCANCEL;
    };
    Click(methods->GetHwnd(), IDC_METHS_SEARCH);
    EXPECT_NE(std::wstring::npos, found.find(L"COM61 - Kora USB")) << found;

    // The methods page: 35 methods, ReadMifareC's defaults, and GetVersion run from its dialog.
    ASSERT_EQ(35u, methods->View().Rows().size());
    for (const MethodRow& row : methods->View().Rows())
        if (row.english == L"ReadMifareC") {
            EXPECT_EQ(L"5=0 (0x0)(UI4), 6=0x3C7A91E5B20D(PWSTR), 7=false(BOOL), 8=false(BOOL), 9=-1 (0xFFFFFFFF)(UI4), "
                      L"10=(NULL)",
                      row.defaults);
        }
    int getVersion = -1;
    for (size_t i = 0; i < methods->View().Rows().size(); ++i)
        if (methods->View().Rows()[i].english == L"GetVersion")
            getVersion = static_cast<int>(i);
    ASSERT_GE(getVersion, 0);
    ListView_SelectCentered(methods->List(), getVersion);
    std::wstring output;
    seam.drivers[IDD_METHOD] = [&](CWnd&, HWND hWnd) -> INT_PTR {
        Click(hWnd, IDC_METHOD_EXECUTE);
        output = WindowText(GetDlgItem(hWnd, IDC_METHOD_OUTPUT));
        return IDCANCEL;
    };
    methods->CallMethod();
    EXPECT_NE(std::wstring::npos, output.find(L"\"1.7.2.1\"")) << output;
    EXPECT_NE(std::wstring::npos, output.find(Russian() ? L"Успешно." : L"Successfully.")) << output;

    // The properties page: 27 properties; ReqTries set to 0x5 in its dialog reads back as 5.
    page->ShowInnerPage(1);
    CPropertiesPage* props = static_cast<CPropertiesPage*>(page->InnerPage(1));
    ASSERT_NE(nullptr, props);
    ASSERT_EQ(27u, props->View().Rows().size());
    EXPECT_EQ(27, SendMessageW(props->List(), LVM_GETITEMCOUNT, 0, 0));
    int reqTries = -1;
    for (size_t i = 0; i < props->View().Rows().size(); ++i)
        if (props->View().Rows()[i].english == L"ReqTries")
            reqTries = static_cast<int>(i);
    ASSERT_GE(reqTries, 0);
    ListView_SelectCentered(props->List(), reqTries);
    Pump(100);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(props->GetHwnd(), IDC_PROPS_CHANGE)));
    seam.drivers[IDD_PROPERTY] = [&](CWnd& wnd, HWND hWnd) -> INT_PTR {
        SetDlgItemTextW(hWnd, IDC_VALUE_NUMBER, L"0x5");
        Click(hWnd, IDOK);
        EXPECT_TRUE(static_cast<CDlgProperty&>(wnd).HexMode());
        return IDOK;
    };
    Click(props->GetHwnd(), IDC_PROPS_CHANGE);
    for (const PropertyRow& row : props->View().Rows())
        if (row.english == L"ReqTries") {
            EXPECT_EQ(L"5", row.value);
        }
}

TEST_F(BenchEndToEnd, UnloadingWithDevicesOpenClosesThem)
{
    HWND pageWnd = page->GetHwnd();
    Click(pageWnd, IDC_TEST_LOAD);
    ASSERT_TRUE(Host().IsLoaded());
    const size_t listeners = Host().ListenerCount();
    const int threads = ThreadCount();
    SimReader reader(sim, ComPort);
    OpenThroughDialog(false);
    ASSERT_EQ(1u, page->Devices().Rows().size());
    ASSERT_TRUE(PumpUntil([&] { return reader.PeerOpen(); }, 5000));

    Click(pageWnd, IDC_TEST_LOAD); // Unload
    EXPECT_FALSE(Host().IsLoaded());
    EXPECT_TRUE(Host().Devices().empty());
    EXPECT_TRUE(page->Devices().Rows().empty());
    EXPECT_FALSE(page->StatusTimerRunning());
    EXPECT_EQ(listeners, Host().ListenerCount());
    EXPECT_TRUE(PumpUntil([&] { return !reader.PeerOpen(); }, 5000));
    EXPECT_TRUE(PumpUntil([&] { return ThreadCount() <= threads; }, 5000)) << ThreadCount() << " > " << threads;
    EXPECT_EQ(Russian() ? L"&Загрузить" : L"&Load", WindowText(GetDlgItem(pageWnd, IDC_TEST_LOAD)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(pageWnd, IDC_TEST_OPEN)));
}

// A converter's address whose TCP port is out of range is refused by the driver's form at once:
// "Device Test" and "Save and close" each say why in an error box that names the address, in the
// component's language, and nothing is opened.
TEST_F(BenchEndToEnd, TheFormRefusesAConverterAddressWithAPortOutOfRange)
{
    HWND pageWnd = page->GetHwnd();
    Click(pageWnd, IDC_TEST_LOAD);
    ASSERT_TRUE(Host().IsLoaded());
    const std::wstring address = L"127.0.0.1:529691";
    bool sawForm = false;
    seam.drivers[IDD_DEV_OPEN] = [&](CWnd& wnd, HWND) -> INT_PTR {
        CDlgDevOpen& dialog = static_cast<CDlgDevOpen&>(wnd);
        CParamsPage* form = dialog.FormPage();
        HWND port = form && form->FormCount() > 0 ? form->Form(0)->ControlOf(L"Port") : nullptr;
        if (!port)
            return 2;
        sawForm = true;
        SendMessageW(port, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        SetWindowTextW(port, address.c_str());
        for (const bool deviceTest : {true, false}) {
            SCOPED_TRACE(deviceTest ? "Device Test" : "Save and close");
            const size_t before = seam.boxes.size();
            const DWORD start = GetTickCount();
            if (deviceTest)
                SendMessageW(form->GetHwnd(), WM_COMMAND, ID_DEVICE_TEST, 0);
            else
                Click(form->GetHwnd(), IDC_PARAMS_SAVE);
            EXPECT_LT(GetTickCount() - start, 1000u);
            if (seam.boxes.size() != before + 1) {
                ADD_FAILURE() << seam.boxes.size() - before << " boxes";
                continue;
            }
            const std::wstring& text = seam.boxes.back().text;
            EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), seam.boxes.back().flags & MB_ICONMASK) << text;
            EXPECT_NE(std::wstring::npos, text.find(L"\"" + address + L"\"")) << text;
            EXPECT_EQ(0u, text.find(Russian() ? L"Неверное имя порта" : L"Incorrect port name")) << text;
        }
        EXPECT_TRUE(dialog.Device().empty());
        return 2;
    };
    Click(pageWnd, IDC_TEST_OPEN);
    EXPECT_TRUE(sawForm);
    EXPECT_TRUE(page->Devices().Rows().empty());
    EXPECT_TRUE(Host().Devices().empty());
}

// The events page's language menu gives the component the other language: a card then arrives
// with the other language's message, also after Unload and Load, while the configurator's own
// thread keeps its locale.
TEST_F(BenchEndToEnd, LanguageMenuSwitchesTheComponent)
{
    HWND pageWnd = page->GetHwnd();
    Click(pageWnd, IDC_TEST_LOAD);
    ASSERT_TRUE(Host().IsLoaded());
    CEventsPage* events = page->EventsPage();
    ASSERT_NE(nullptr, events);
    const LCID threadLocale = GetThreadLocale();
    const bool toRussian = !Russian();
    SendMessageW(events->GetHwnd(), WM_COMMAND, toRussian ? ID_EVENTS_RUSSIAN : ID_EVENTS_ENGLISH, 0);
    EXPECT_EQ(toRussian ? LANG_RUSSIAN : LANG_ENGLISH, Host().HostLanguage());
    EXPECT_EQ(threadLocale, GetThreadLocale());
    const wchar_t* tracks = toRussian ? L"ДанныеКарты" : L"TracksData";

    SimReader reader(sim, ComPort);
    for (int round = 1; round <= 2; ++round) {
        OpenThroughDialog(false);
        ASSERT_EQ(1u, page->Devices().Rows().size()) << round;
        ASSERT_TRUE(PumpUntil([&] { return page->Devices().Rows()[0].state == 3; }, 10000)) << round;
        Click(events->GetHwnd(), ID_EVENTS_CLEAR);
        sim.PresentKey(reader.Id(), "EM", {0x39, 0x30, 0x7B, 0x00, 0x00});
        ASSERT_TRUE(PumpUntil([&] { return events->View().GetItemCount() > 0; }, 10000)) << round;
        EXPECT_EQ(tracks, events->View().Cache().Row(0).message) << round;
        // The next component gets the chosen language from Create.
        Click(pageWnd, IDC_TEST_LOAD);
        Click(pageWnd, IDC_TEST_LOAD);
        ASSERT_TRUE(Host().IsLoaded()) << round;
        EXPECT_EQ(threadLocale, GetThreadLocale());
    }
}

// Load, a device opened and closed again, Unload, and Load again in one process, three times. A
// Load that has not returned within its limit fails the program: the watchdog ends the process,
// since a load stuck in the system's loader cannot be interrupted from inside.
TEST_F(BenchEndToEnd, LoadingAgainAfterAReaderWasOpened)
{
    struct Watchdog
    {
        static DWORD WINAPI Run(void* param)
        {
            Watchdog& self = *static_cast<Watchdog*>(param);
            if (WaitForSingleObject(self.done.Get(), 60000) == WAIT_TIMEOUT) {
                fprintf(stderr, "Load did not return within 60 s (round %ld)\n", self.round.load());
                fflush(stderr);
                // Not ExitProcess: it would wait for the loader that the hung Load holds.
                TerminateProcess(GetCurrentProcess(), 3);
            }
            return 0;
        }
        CHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        std::atomic<long> round{0};
    } watchdog;
    CHandle thread(CreateThread(nullptr, 0, &Watchdog::Run, &watchdog, 0, nullptr));
    ASSERT_TRUE(thread.Valid());

    HWND pageWnd = page->GetHwnd();
    SimReader reader(sim, ComPort);
    for (long round = 1; round <= 3; ++round) {
        watchdog.round = round;
        Click(pageWnd, IDC_TEST_LOAD);
        ASSERT_TRUE(Host().IsLoaded()) << round;
        ASSERT_NE(nullptr, Host().Component());
        OpenThroughDialog(false);
        ASSERT_EQ(1u, page->Devices().Rows().size()) << round;
        ASSERT_TRUE(PumpUntil([&] { return reader.PeerOpen(); }, 5000)) << round;
        ASSERT_TRUE(PumpUntil([&] { return page->Devices().Rows()[0].state == 3; }, 10000)) << round;
        Click(pageWnd, IDC_TEST_LOAD); // Unload closes the device
        EXPECT_FALSE(Host().IsLoaded());
        EXPECT_TRUE(PumpUntil([&] { return !reader.PeerOpen(); }, 5000)) << round;
        Pump(200); // the system's serial helper threads end
    }
    SetEvent(watchdog.done.Get());
    WaitForSingleObject(thread.Get(), 5000);
}
