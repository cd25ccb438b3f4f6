// The reader-search dialog.
#include "SearchReadersDialog.h"
#include "AppMessageBox.h"
#include "BenchStrings.h"
#include "BenchUi.h"
#include "SearchOutput.h"
#include "TestHost.h"
#include "TestPageRes.h"
#include "VariantHelpers.h"
#include "WFormat.h"

void CSearchReaders::SetStatus(const std::wstring& text)
{
    SetDlgItemTextW(m_hWnd, IDC_SEARCH_STATUS, text.c_str());
}

void CSearchReaders::UpdateButtons()
{
    EnableItem(IDC_SEARCH_ABORT, m_searching);
    EnableItem(IDC_SEARCH_AGAIN, !m_searching);
}

void CSearchReaders::Start()
{
    if (m_searching)
        return;
    SetDlgItemTextW(m_hWnd, IDC_SEARCH_FOUND, L"");
    SetStatus(LoadAppString(IDS_SEARCH_RUNNING));
    m_found = 0;
    m_searching = SetTimer(m_hWnd, StepTimer, 1000, nullptr) != 0;
    try {
        Step();
    } catch (...) {
        Stop();
        throw;
    }
    if (m_searching) {
        HWND progress = GetItem(IDC_SEARCH_PROGRESS);
        ShowWindow(progress, SW_SHOW);
        SendMessageW(progress, PBM_SETMARQUEE, TRUE, 0);
    }
    UpdateButtons();
}

void CSearchReaders::Step()
{
    CTestParvel& host = m_host;
    std::wstring collected;
    bool stop = false;
    for (;;) {
        // FindNext (out port, out model, out serial, out version, out text, UI4 wait 0).
        CVariantArray args(7, host.MemoryManager());
        args.SetUI4(6, 0);
        host.CallAsFunc(L"FindNext", &args[0], &args[1], 6);
        if (args[0].vt == VTYPE_BOOL && args[0].bVal) {
            const std::wstring port =
                args[1].vt == VTYPE_PWSTR && args[1].wstr.ptr ? std::wstring(args[1].wstr.ptr, args[1].wstr.len) : L"";
            const uint32_t model = args[2].vt == VTYPE_I4 && args[2].i32Val >= 1 && args[2].i32Val <= 9
                                       ? static_cast<uint32_t>(args[2].i32Val)
                                       : 0;
            const int32_t serial = args[3].vt == VTYPE_I4 ? args[3].i32Val : 0;
            const uint32_t version = args[4].vt == VTYPE_UI4 ? args[4].ui32Val : 0;
            collected += FoundReaderLine(port, model, serial, version);
            ++m_found;
            continue;
        }
        std::wstring error;
        const SearchStepEnd end = SearchStepEndFor(host.GetLastError(error));
        if (end == SearchStepEnd::FailedAndStop)
            collected += TrimLineBreaks(error) + L"\r\n";
        stop = end != SearchStepEnd::Wait;
        break;
    }
    if (!collected.empty()) {
        HWND edit = GetItem(IDC_SEARCH_FOUND);
        SetFocus(edit);
        const int length = GetWindowTextLengthW(edit);
        SendMessageW(edit, EM_SETSEL, length, length);
        SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(collected.c_str()));
    }
    if (stop)
        Stop();
}

void CSearchReaders::Stop()
{
    if (!m_searching)
        return;
    KillTimer(m_hWnd, StepTimer);
    m_searching = false;
    ShowWindow(GetItem(IDC_SEARCH_PROGRESS), SW_HIDE);
    std::wstring status;
    if (m_found < 1)
        status = LoadAppString(IDS_SEARCH_NOTHING);
    else
        FormatString(status, LoadAppString(IDS_SEARCH_FOUND).c_str(), m_found);
    SetStatus(status);
    UpdateButtons();
    CTestParvel& host = m_host;
    CVariantArray result(1, host.MemoryManager());
    host.CallAsFunc(L"FindClose", &result[0], nullptr, 0);
}

LRESULT CSearchReaders::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        CenterWindow();
        ShowWindow(GetItem(IDC_SEARCH_PROGRESS), SW_HIDE);
        Start();
        return TRUE;
    case WM_TIMER:
        if (wParam == StepTimer) {
            try {
                Step();
            } catch (...) {
                Stop();
                throw;
            }
        }
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL: EndDialog(hWnd, IDCANCEL); return TRUE;
        case IDC_SEARCH_ABORT: Stop(); return TRUE;
        case IDC_SEARCH_AGAIN:
            Stop();
            Start();
            return TRUE;
        }
        break;
    case WM_DESTROY:
        try {
            Stop();
        } catch (...) {
        }
        break;
    }
    return FALSE;
}
