// A scratch run of the real program.
#include "ProgramRun.h"
#include <shellapi.h>

CProgramRun::CProgramRun(const std::wstring& exe)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    wchar_t name[64];
    _snwprintf(name, 64, L"configparvel-run-%lu-%lu", GetCurrentProcessId(), GetTickCount());
    m_folder = std::wstring(temp) + name;
    m_exe = m_folder + L"\\ConfigParvel.exe";
    if (!CreateDirectoryW(m_folder.c_str(), nullptr) || !CopyFileW(exe.c_str(), m_exe.c_str(), FALSE))
        return;
    HANDLE marker = CreateFileW((m_folder + L"\\portable_mode_enabled").c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, 0, nullptr);
    if (marker == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(marker);
    m_ready = true;
}

CProgramRun::~CProgramRun()
{
    std::wstring from = m_folder + L'\0';
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

bool CProgramRun::Start(PROCESS_INFORMATION& pi) const
{
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    std::wstring command = L"\"" + m_exe + L"\"";
    return CreateProcessW(m_exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, m_folder.c_str(), &si,
                          &pi) != FALSE;
}

HWND CProgramRun::WaitForMainWindow(DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;)
    {
        HWND hWnd = FindWindowW(L"ConfigParvel", nullptr);
        if (hWnd && IsWindowVisible(hWnd))
            return hWnd;
        if (GetTickCount() - start > timeoutMs)
            return nullptr;
        Sleep(5);
    }
}

bool CProgramRun::Close(HWND hWnd, HANDLE process, DWORD timeoutMs)
{
    PostMessageW(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    return WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
}
