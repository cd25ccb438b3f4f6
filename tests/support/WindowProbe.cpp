// Exits with 0 when a process of the Wine session can make a top-level window now, 1 otherwise.
// The session's desktop process belongs to whichever process first needed it and keeps that
// process's display: when that was the display-less start of the session's wineserver, every
// CreateWindowEx of a later process fails with error 1400 until the desktop process has ended,
// a few seconds after its last client. tools/gui-run.sh probes with short processes until then,
// since a process that tried once keeps its display-less state. A desktop process whose X server
// goes away dies with it; the next process to need a desktop makes one with its own display, so
// the probe's answer holds only while no display-less process shares the session.
#include <windows.h>

int main()
{
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (!probe)
        return 1;
    DestroyWindow(probe);
    return 0;
}
