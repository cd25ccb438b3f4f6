// The About box.
#include "DlgAbout.h"
#include "AboutText.h"
#include "AppResource.h"
#include "DlgAboutRes.h"
#include "ModuleState.h"
#include "Numbers.h"
#include <commctrl.h>
#include <shellapi.h>

const wchar_t* const CDlgAbout::WebAddress = L"https://corvane.example/parvel";
const wchar_t* const CDlgAbout::MailAddress = L"parvel@corvane.example";

namespace {

std::wstring ProgramVersionText()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(ModuleHandle, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    uint32_t version = GetFileVersion(path);
    std::wstring text;
    if (version != 0)
        VersionToText(text, version);
    return text;
}

} // namespace

BOOL CDlgAbout::OnInitDialog()
{
    HWND title = GetItem(IDC_AB_TITLE);
    const wchar_t* titleText = nullptr;
    int titleLength = LoadStringW(ModuleHandle, IDS_APP_TITLE, reinterpret_cast<LPWSTR>(&titleText), 0);
    if (titleLength > 0)
        SetWindowTextW(title, std::wstring(titleText, titleLength).c_str());
    LOGFONTW font = {};
    HFONT own = reinterpret_cast<HFONT>(SendMessageW(title, WM_GETFONT, 0, 0));
    if (!own || !GetObjectW(own, sizeof(font), &font))
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
    HDC dc = GetDC(m_hWnd);
    font.lfHeight = -MulDiv(18, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(m_hWnd, dc);
    font.lfWidth = 0;
    font.lfWeight = FW_BOLD;
    wcscpy_s(font.lfFaceName, L"Arial");
    m_titleFont.Reset(CreateFontIndirectW(&font));
    if (m_titleFont)
        SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(m_titleFont.Get()), TRUE);

    SYSTEMTIME built;
    std::wstring date = ParseBuildDate(__DATE__, built) ? FormatBuildDate(built) : std::wstring();
    SetDlgItemTextW(m_hWnd, IDC_AB_VERSION, AboutVersionText(ProgramVersionText(), date).c_str());
    CenterWindow();
    return TRUE;
}

void CDlgAbout::OnMailLink()
{
    std::wstring link = AboutMailLink(MailAddress, ProgramVersionText());
    ShellExecuteW(m_hWnd, L"open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

LRESULT CDlgAbout::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_NOTIFY:
    {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code != NM_CLICK)
            break;
        if (header->idFrom == IDC_AB_WEB)
            ShellExecuteW(m_hWnd, L"open", WebAddress, nullptr, nullptr, SW_SHOWNORMAL);
        else if (header->idFrom == IDC_AB_MAIL)
            OnMailLink();
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
        {
            EndDialog(hWnd, LOWORD(wParam));
            return TRUE;
        }
        break;
    case WM_DESTROY:
        m_titleFont.Reset();
        break;
    }
    return FALSE;
}
