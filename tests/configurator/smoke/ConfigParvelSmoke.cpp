// One out-of-process run of the real ConfigParvel.exe (a copy in a scratch portable folder): it
// shows its main window with the program's title, a second start ends at once with -1 and brings
// the first to the front (restored, as it was minimised), the close box ends it with 0, and it
// wrote its settings file beside itself.
//   configparvel_smoke <path of ConfigParvel.exe>
#include "ProgramRun.h"
#include <cstdio>
#include <cwchar>

namespace {

int g_failures = 0;

void Check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok)
        ++g_failures;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: configparvel_smoke <ConfigParvel.exe>\n");
        return 2;
    }
    CProgramRun run(argv[1]);
    Check(run.Ready(), "scratch portable folder with a copy of the program");
    if (!run.Ready())
        return 1;
    PROCESS_INFORMATION first = {};
    Check(run.Start(first), "first start");
    HWND hWnd = CProgramRun::WaitForMainWindow(30000);
    Check(hWnd != nullptr, "main window shown");
    if (!hWnd)
    {
        TerminateProcess(first.hProcess, 1);
        return 1;
    }
    wchar_t title[128] = {};
    GetWindowTextW(hWnd, title, 128);
    const bool russian = LOWORD(GetSystemDefaultLCID()) == 1049;
    Check(wcscmp(title, russian ? L"Конфигуратор Parvel" : L"Parvel Configurator") == 0, "title");
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    Check(pid == first.dwProcessId, "the window belongs to the first process");

    // The first is minimised and another program's window is in front when the second starts.
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    ShowWindow(hWnd, SW_MINIMIZE);
    SetForegroundWindow(other);
    Check(IsIconic(hWnd) && GetForegroundWindow() == other, "first window minimised, another in front");

    PROCESS_INFORMATION second = {};
    Check(run.Start(second), "second start");
    DWORD secondCode = 0;
    Check(WaitForSingleObject(second.hProcess, 15000) == WAIT_OBJECT_0, "second process ends at once");
    GetExitCodeProcess(second.hProcess, &secondCode);
    Check(secondCode == static_cast<DWORD>(-1), "second process ends with -1");
    Check(FindWindowW(L"ConfigParvel", nullptr) == hWnd && IsWindowVisible(hWnd), "first window still there");
    bool inFront = false;
    for (int waited = 0; waited < 5000 && !inFront; waited += 50)
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        inFront = !IsIconic(hWnd) && GetForegroundWindow() == hWnd;
        if (!inFront)
            Sleep(50);
    }
    Check(inFront, "the second start brings the first to the front, restored");
    DestroyWindow(other);

    Check(CProgramRun::Close(hWnd, first.hProcess, 15000), "close box ends the program");
    DWORD firstCode = 1;
    GetExitCodeProcess(first.hProcess, &firstCode);
    Check(firstCode == 0, "exit code 0");
    Check(GetFileAttributesW((run.Folder() + L"\\ConfigParvel.xml").c_str()) != INVALID_FILE_ATTRIBUTES,
          "ConfigParvel.xml written beside the portable program");
    for (PROCESS_INFORMATION* pi : {&first, &second})
    {
        CloseHandle(pi->hProcess);
        CloseHandle(pi->hThread);
    }
    return g_failures ? 1 : 0;
}
