// Starting a copy of ConfigParvel.exe as its own process in a scratch portable folder, and waiting
// for its main window: shared by the out-of-process smoke test and the start-up benchmark.
#pragma once
#include <windows.h>
#include <string>

class CProgramRun
{
public:
    // Copies `exe` into a new temporary folder beside a portable-mode marker, so that the run
    // touches neither the registry nor the user's data folder.
    explicit CProgramRun(const std::wstring& exe);
    ~CProgramRun();
    CProgramRun(const CProgramRun&) = delete;
    CProgramRun& operator=(const CProgramRun&) = delete;

    bool Ready() const { return m_ready; }
    const std::wstring& Folder() const { return m_folder; }
    // Starts one process of the copy; false when it cannot be started.
    bool Start(PROCESS_INFORMATION& pi) const;
    // The visible main window of the program, waited for up to `timeoutMs`; null when none.
    static HWND WaitForMainWindow(DWORD timeoutMs);
    // Ends the process's main window as the close box does and waits for the process to end.
    static bool Close(HWND hWnd, HANDLE process, DWORD timeoutMs);

private:
    std::wstring m_folder;
    std::wstring m_exe;
    bool m_ready = false;
};
