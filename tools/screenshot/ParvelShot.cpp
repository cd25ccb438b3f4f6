// parvelshot: starts ConfigParvel in the desktop this program runs in (a Wine virtual desktop),
// shows the requested pages of its main window and its About box, and writes each as a BMP.
//
//   parvelshot.exe PROGRAM OUTDIR PREFIX [INDEX:NAME | INDEX.INNER:NAME | load | devopen | cards |
//                                         size:WIDTHxHEIGHT | format | about ...]
//
// INDEX.INNER selects an inner tab of the test page; "load" clicks the test page's Load button
// (the add-in must lie beside the program) and "devopen" captures the device dialog that its
// "Open..." button opens. "cards" opens a simulated reader on COM3 through that dialog and presents
// two cards, so that the events list shows the device's events (a reader-simulator hub must run,
// its control port in READERSIM_CONTROL_PORT). "size:WIDTHxHEIGHT" resizes the main window, as a
// drag of its corner does, for the pictures after it. "format" captures the key-format dialog of
// the Formats page's first format (its Change... button). Writes OUTDIR\PREFIX-NAME.bmp per page
// (PREFIX-devopen.bmp, PREFIX-about.bmp), and a report
// OUTDIR\PREFIX-shots.txt with one line "NAME WIDTH HEIGHT" per picture and a last line
// "done CODE" (0 = every picture taken). The report is a file because a program that the desktop
// starts has no terminal to print to. The program is closed (and ended, if it does not close)
// before this one exits.
#include "Handles.h"
#include "SimReaderScope.h"
#include "WindowCapture.h"
#include <commctrl.h>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

const UINT ABOUT_COMMAND = 32777; // the system-menu command that opens the About box
const int TEST_PAGE = 5;          // the test page's tab and its controls
const int TEST_LOAD = 1041;
const int TEST_OPEN = 1102;
const int TEST_TABS = 1084;
const int TEST_EVENTS = 1040;  // the events list, on the test page's first inner tab
const int PARAMS_SAVE = 1095;  // the device dialog's "Save and close"
const int SIM_COM = 3;         // the simulated reader's port
const int FORMATS_PAGE = 1;    // the Formats page's tab, its list and its Add... and Change... buttons
const int FORMATS_LIST = 1002;
const int FORMAT_ADD = 1036;
const int FORMAT_CHANGE = 1037;

class CReport
{
public:
    explicit CReport(const std::wstring& path) : m_file(_wfopen(path.c_str(), L"w")) {}
    ~CReport() { if (m_file) std::fclose(m_file); }
    CReport(const CReport&) = delete;
    CReport& operator=(const CReport&) = delete;
    void Line(const wchar_t* format, ...)
    {
        if (!m_file)
            return;
        va_list args;
        va_start(args, format);
        std::vfwprintf(m_file, format, args);
        va_end(args);
        std::fputwc(L'\n', m_file);
        std::fflush(m_file);
    }

private:
    FILE* m_file;
};

// Polls `find` every 100 ms until it gives a window or the time is up.
template <typename Find>
HWND WaitForWindow(Find find, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 100)
    {
        if (HWND found = find())
            return found;
        if (waited >= timeoutMs)
            return nullptr;
        Sleep(100);
    }
}

// The first window that `match` accepts: a top-level window when `parent` is null, else one of
// `parent`'s descendants (depth first, each level in z-order).
template <typename Match>
HWND FindWindowWhere(HWND parent, Match match)
{
    struct Search
    {
        Match* Accepts;
        HWND Found;
    } search{&match, nullptr};
    WNDENUMPROC visit = [](HWND window, LPARAM param) -> BOOL {
        auto* search = reinterpret_cast<Search*>(param);
        if (!(*search->Accepts)(window))
            return TRUE;
        search->Found = window;
        return FALSE;
    };
    if (parent)
        EnumChildWindows(parent, visit, reinterpret_cast<LPARAM>(&search));
    else
        EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

bool IsVisibleOfClass(HWND window, const wchar_t* className)
{
    wchar_t name[32];
    return IsWindowVisible(window) && GetClassNameW(window, name, 32) && _wcsicmp(name, className) == 0;
}

// A dialog box that the main window owns (the About box, the device dialog).
HWND FindOwnedDialog(HWND mainWindow)
{
    return FindWindowWhere(nullptr, [&](HWND window) {
        return GetWindow(window, GW_OWNER) == mainWindow && IsVisibleOfClass(window, L"#32770");
    });
}

// A tab's focus change selects it and notifies the main window like a click does; the
// notification stays inside ConfigParvel's process, where it can be delivered. Arrow keys are the
// second way, for a tab control that had no focus item yet.
bool SelectTab(HWND tabs, int index)
{
    for (int attempt = 0; attempt < 3 && SendMessageW(tabs, TCM_GETCURSEL, 0, 0) != index; ++attempt)
        SendMessageW(tabs, TCM_SETCURFOCUS, index, 0);
    for (int step = 0; step < 12; ++step)
    {
        LRESULT current = SendMessageW(tabs, TCM_GETCURSEL, 0, 0);
        if (current == index)
            return true;
        SendMessageW(tabs, WM_KEYDOWN, current < index ? VK_RIGHT : VK_LEFT, 0);
        Sleep(50);
    }
    return SendMessageW(tabs, TCM_GETCURSEL, 0, 0) == index;
}

// A visible control of the main window's pages by its id (the pages are child dialogs).
HWND FindPageControl(HWND mainWindow, int id)
{
    return FindWindowWhere(mainWindow, [&](HWND window) { return GetDlgCtrlID(window) == id && IsWindowVisible(window); });
}

// The driver's form lists the model first and the port second, both as combo boxes.
HWND FindPortField(HWND dialog)
{
    int skip = 1;
    return FindWindowWhere(dialog, [&](HWND window) { return IsVisibleOfClass(window, L"ComboBox") && skip-- == 0; });
}

// Waits until the events list holds at least `rows` rows (the count crosses the process boundary;
// the list refreshes once a second).
bool WaitForEventRows(HWND list, int rows, DWORD timeoutMs)
{
    return WaitForWindow([&] { return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) >= rows ? list : nullptr; },
                         timeoutMs)
           != nullptr;
}

// Opens the simulated reader through the device dialog as a user would (the port typed into the
// driver's form, then "Save and close"), then presents a card, takes it away and presents another;
// each step waits for its event in the list. The reader stays open with its card in the field.
bool ShowCards(CReport& report, simctl::CSimControl& sim, const simctl::CSimReaderScope& reader, HWND mainWindow,
               HWND tabs)
{
    HWND innerTabs = tabs && SelectTab(tabs, TEST_PAGE)
                         ? WaitForWindow([&] { return FindPageControl(mainWindow, TEST_TABS); }, 5000)
                         : nullptr;
    HWND list = innerTabs && SelectTab(innerTabs, 0)
                    ? WaitForWindow([&] { return FindPageControl(mainWindow, TEST_EVENTS); }, 5000)
                    : nullptr;
    HWND open = FindPageControl(mainWindow, TEST_OPEN);
    if (!list || !open)
    {
        report.Line(L"failed cards: no events list or Open button");
        return false;
    }
    const int before = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    PostMessageW(open, BM_CLICK, 0, 0);
    HWND dialog = WaitForWindow([&] { return FindOwnedDialog(mainWindow); }, 15000);
    HWND port = dialog ? WaitForWindow([&] { return FindPortField(dialog); }, 5000) : nullptr;
    HWND save = dialog ? FindPageControl(dialog, PARAMS_SAVE) : nullptr;
    if (!port || !save)
    {
        report.Line(L"failed cards: no device dialog with a port field");
        return false;
    }
    SendMessageW(port, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SetWindowTextW(port, reader.Port().c_str());
    PostMessageW(save, BM_CLICK, 0, 0);
    if (!WaitForWindow([&] { return IsWindow(dialog) ? nullptr : mainWindow; }, 30000))
    {
        report.Line(L"failed cards: the device dialog stays open");
        return false;
    }
    // DeviceConnect, then TracksData, NoCard and TracksData of two Em-Marine keys.
    const simctl::Bytes keys[] = {{0x39, 0x30, 0x7B, 0x00, 0x00}, {0x2A, 0x00, 0x2D, 0x1A, 0x00}};
    int rows = before + 1;
    bool ok = WaitForEventRows(list, rows, 30000);
    for (const simctl::Bytes& key : keys)
    {
        if (ok && rows > before + 1)
        {
            sim.Remove(reader.Id());
            ok = WaitForEventRows(list, ++rows, 10000);
        }
        if (ok)
        {
            sim.PresentKey(reader.Id(), "EM", key);
            ok = WaitForEventRows(list, ++rows, 10000);
        }
    }
    if (!ok)
        report.Line(L"failed cards: %d of %d events shown",
                    static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) - before, rows - before);
    return ok;
}

std::wstring TextOf(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

// Brings the window onto the desktop when part of it lies outside.
void KeepOnDesktop(HWND window)
{
    RECT rect, desktop;
    GetWindowRect(window, &rect);
    GetWindowRect(GetDesktopWindow(), &desktop);
    if (rect.left < desktop.left || rect.top < desktop.top || rect.right > desktop.right || rect.bottom > desktop.bottom)
        SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

bool Capture(CReport& report, HWND window, const std::wstring& outDir, const std::wstring& prefix,
             const std::wstring& name)
{
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(800); // the other process paints in its own time
    int width = 0, height = 0;
    if (!CaptureWindowToBmp(window, outDir + L"\\" + prefix + L"-" + name + L".bmp", width, height))
    {
        report.Line(L"failed %ls", name.c_str());
        return false;
    }
    report.Line(L"%ls %d %d", name.c_str(), width, height);
    return true;
}

int Run(CReport& report, const std::wstring& program, const std::wstring& outDir, const std::wstring& prefix,
        const std::vector<std::wstring>& shots)
{
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started))
    {
        report.Line(L"failed to start %ls (error %lu)", program.c_str(), GetLastError());
        return 2;
    }
    CHandle process(started.hProcess);
    CHandle thread(started.hThread);
    // The simulated reader outlives the program, so the add-in closes it, not the hub.
    std::unique_ptr<simctl::CSimControl> sim;
    std::unique_ptr<simctl::CSimReaderScope> reader;

    HWND mainWindow = WaitForWindow(
        [&] {
            HWND w = FindWindowW(L"ConfigParvel", nullptr);
            return w && IsWindowVisible(w) ? w : nullptr;
        },
        60000);
    int failures = 0;
    if (!mainWindow)
    {
        report.Line(L"failed: no main window");
        failures = 1;
    }
    else
    {
        Sleep(1500);
        KeepOnDesktop(mainWindow);
        HWND tabs = FindWindowExW(mainWindow, nullptr, WC_TABCONTROLW, nullptr);
        // Captures a dialog the main window owns as NAME, then ends it with `command` and waits
        // until it is gone.
        auto captureDialog = [&](HWND dialog, const wchar_t* name, int command) {
            if (!dialog || !Capture(report, dialog, outDir, prefix, name))
            {
                report.Line(L"failed %ls", name);
                ++failures;
                return;
            }
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
            WaitForWindow([&] { return IsWindow(dialog) ? nullptr : mainWindow; }, 5000);
        };
        for (const std::wstring& shot : shots)
        {
            if (shot == L"about")
            {
                PostMessageW(mainWindow, WM_SYSCOMMAND, ABOUT_COMMAND, 0);
                captureDialog(WaitForWindow([&] { return FindOwnedDialog(mainWindow); }, 10000), L"about", IDOK);
                continue;
            }
            if (shot == L"load")
            {
                // The button's text turns from "Load" to "Unload" once the add-in is loaded.
                HWND load = tabs && SelectTab(tabs, TEST_PAGE)
                                ? WaitForWindow([&] { return FindPageControl(mainWindow, TEST_LOAD); }, 5000)
                                : nullptr;
                const std::wstring before = load ? TextOf(load) : std::wstring();
                if (load)
                    PostMessageW(load, BM_CLICK, 0, 0);
                if (!load || !WaitForWindow([&] { return TextOf(load) != before ? load : nullptr; }, 15000))
                {
                    report.Line(L"failed to load the add-in");
                    ++failures;
                }
                Sleep(500);
                continue;
            }
            if (shot == L"cards")
            {
                bool ok = false;
                try
                {
                    simctl::SimReaderConfig config;
                    config.pace = 0;
                    sim = std::make_unique<simctl::CSimControl>();
                    reader = std::make_unique<simctl::CSimReaderScope>(*sim, SIM_COM, config);
                    ok = ShowCards(report, *sim, *reader, mainWindow, tabs);
                }
                catch (const simctl::CSimControlError& error)
                {
                    report.Line(L"failed cards: the reader simulator: %hs", error.what());
                }
                failures += ok ? 0 : 1;
                continue;
            }
            if (shot.compare(0, 5, L"size:") == 0)
            {
                int width = 0, height = 0;
                if (swscanf(shot.c_str() + 5, L"%dx%d", &width, &height) != 2 || width <= 0 || height <= 0 ||
                    !SetWindowPos(mainWindow, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER))
                {
                    report.Line(L"failed %ls", shot.c_str());
                    ++failures;
                }
                KeepOnDesktop(mainWindow);
                Sleep(500);
                continue;
            }
            if (shot == L"format")
            {
                // The first row selected from the keyboard, then Change... (Add... when no row is).
                HWND list = tabs && SelectTab(tabs, FORMATS_PAGE)
                                ? WaitForWindow([&] { return FindPageControl(mainWindow, FORMATS_LIST); }, 5000)
                                : nullptr;
                HWND dialog = nullptr;
                if (list)
                {
                    PostMessageW(list, WM_KEYDOWN, VK_HOME, 0);
                    Sleep(500);
                    for (int button : {FORMAT_CHANGE, FORMAT_ADD})
                    {
                        HWND click = FindPageControl(mainWindow, button);
                        if (!click || !IsWindowEnabled(click))
                            continue;
                        PostMessageW(click, BM_CLICK, 0, 0);
                        dialog = WaitForWindow([&] { return FindOwnedDialog(mainWindow); }, 5000);
                        if (dialog)
                            break;
                    }
                }
                captureDialog(dialog, L"format", IDCANCEL);
                continue;
            }
            if (shot == L"devopen")
            {
                HWND open = FindPageControl(mainWindow, TEST_OPEN);
                if (open)
                    PostMessageW(open, BM_CLICK, 0, 0);
                captureDialog(open ? WaitForWindow([&] { return FindOwnedDialog(mainWindow); }, 15000) : nullptr,
                              L"devopen", IDCANCEL);
                continue;
            }
            size_t colon = shot.find(L':');
            int index = _wtoi(shot.substr(0, colon).c_str());
            std::wstring name = colon == std::wstring::npos ? shot : shot.substr(colon + 1);
            if (!tabs || !SelectTab(tabs, index))
            {
                report.Line(L"failed to select page %d", index);
                ++failures;
                continue;
            }
            const size_t dot = shot.find(L'.');
            if (dot != std::wstring::npos && dot < colon)
            {
                const int inner = _wtoi(shot.substr(dot + 1, colon - dot - 1).c_str());
                HWND innerTabs = WaitForWindow([&] { return FindPageControl(mainWindow, TEST_TABS); }, 5000);
                if (!innerTabs || !SelectTab(innerTabs, inner))
                {
                    report.Line(L"failed to select inner page %d", inner);
                    ++failures;
                    continue;
                }
            }
            if (!Capture(report, mainWindow, outDir, prefix, name))
                ++failures;
        }
        PostMessageW(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    if (WaitForSingleObject(process.Get(), 15000) != WAIT_OBJECT_0)
    {
        report.Line(L"ConfigParvel did not close; ended");
        TerminateProcess(process.Get(), 1);
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4)
    {
        std::fwprintf(stderr, L"usage: parvelshot PROGRAM OUTDIR PREFIX [INDEX:NAME ...] [about]\n");
        return 2;
    }
    std::wstring outDir = argv[2], prefix = argv[3];
    CReport report(outDir + L"\\" + prefix + L"-shots.txt");
    std::vector<std::wstring> shots(argv + 4, argv + argc);
    int code = Run(report, argv[1], outDir, prefix, shots);
    report.Line(L"done %d", code);
    return code;
}
