// Start-up time of ConfigParvel (not a test): from the start of the process to its main window
// being shown, over several runs of a copy in a scratch portable folder. The goal is under 1 s
// under Wine on this machine. Run it under a display:
//   tools/gui-run.sh build/wine-run build/tests/window_probe.exe build/tools/bench/configparvel_startup.exe
//       Z:<path of ConfigParvel.exe> [runs]   (all on one line)
// or: ninja -C build configparvel_startup_run
#include "ProgramRun.h"
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: configparvel_startup <ConfigParvel.exe> [runs]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, _wtoi(argv[2])) : 5;
    CProgramRun run(argv[1]);
    if (!run.Ready())
    {
        std::fprintf(stderr, "cannot prepare a scratch folder\n");
        return 1;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
    {
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        PROCESS_INFORMATION pi = {};
        if (!run.Start(pi))
            return 1;
        HWND hWnd = CProgramRun::WaitForMainWindow(30000);
        QueryPerformanceCounter(&t1);
        if (!hWnd)
        {
            TerminateProcess(pi.hProcess, 1);
            std::fprintf(stderr, "no main window\n");
            return 1;
        }
        times.push_back(double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(frequency.QuadPart));
        CProgramRun::Close(hWnd, pi.hProcess, 15000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        std::printf("run %d: %.0f ms to a shown main window%s\n", i + 1, times.back(),
                    i == 0 ? " (first run writes the settings file)" : "");
    }
    std::sort(times.begin(), times.end());
    std::printf("start-up to a shown main window: median %.0f ms, best %.0f ms, worst %.0f ms (goal < 1000 ms)\n",
                times[times.size() / 2], times.front(), times.back());
    return 0;
}
