// The application commands of the main window: Load, Save, Default, Help, About, and the question
// asked before the window closes.
#include "App.h"
#include "AppMessageBox.h"
#include "AppResource.h"
#include "HelpIds.h"
#include "DlgAbout.h"
#include "PageRefusal.h"
#include "Paths.h"
#include "UiSeam.h"
#include "TestPage.h"
#include <htmlhelp.h>

namespace {

bool Really()
{
    return AppMessageBox(IDS_REALLY, MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

} // namespace

void CConfigParvelApp::OnCommand(int id)
{
    switch (id)
    {
    case ID_APP_LOAD:
        OnLoad((ConfirmFlags & CONFIRM_LOAD) != 0);
        break;
    case ID_APP_SAVE:
        OnSave((ConfirmFlags & CONFIRM_SAVE) != 0);
        break;
    case ID_APP_ABOUT:
        ShowAbout();
        break;
    case ID_APP_HELP:
        ShowHelp(CurrentHelpId());
        break;
    case ID_APP_DEFAULT:
        OnDefault();
        break;
    case ID_APP_NEXT_PAGE:
        StepPage(1);
        break;
    case ID_APP_PREV_PAGE:
        StepPage(-1);
        break;
    }
}

void CConfigParvelApp::ShowAbout()
{
    CDlgAbout about;
    AppDialogBox(about, IDD_ABOUT, m_hWnd);
}

void CConfigParvelApp::OnDefault()
{
    if (m_currentPage < 0 || m_currentPage > DefaultsOptions || !Really())
        return;
    SetPageDefaults(m_currentPage);
    if (CAppPage* page = GetPage(m_currentPage))
        page->UpdateData(false);
}

void CConfigParvelApp::ShowDamageNotices()
{
    std::vector<DamagedFileCopy> notices;
    notices.swap(DamageNotices);
    for (const DamagedFileCopy& notice : notices)
        AppMessageBox(DamagedFileMessage(notice), MB_ICONWARNING);
}

void CConfigParvelApp::StoreAllPages()
{
    for (CAppPage* page : m_pages)
        if (page)
            page->UpdateData(true);
}

bool CConfigParvelApp::OnLoad(bool confirm)
{
    if (confirm && !Really())
        return false;
    bool ok = true;
    try
    {
        Load(DATA_LIBRARY | DATA_ADDIN);
        if (CTestPage* test = CTestPage::Current())
            test->SetSettingsChanged(false);
    }
    catch (const std::exception& e)
    {
        AppMessageBox(ExceptionText(e), MB_ICONERROR);
        ok = false;
    }
    ShowDamageNotices();
    for (CAppPage* page : m_pages)
        if (page)
            page->UpdateData(false);
    if (ok)
        AppMessageBox(IDS_SUCCESSFULLY, MB_ICONINFORMATION);
    return ok;
}

bool CConfigParvelApp::OnSave(bool confirm)
{
    if (confirm && !Really())
        return false;
    try
    {
        StoreAllPages();
        Save(ModifiedFlags | DATA_LIBRARY | DATA_ADDIN);
        // The add-in reads the saved settings at the test page's next Reconnect.
        if (CTestPage* test = CTestPage::Current())
            test->SetSettingsChanged(true);
    }
    catch (const std::exception& e)
    {
        ShowDamageNotices();
        // A refused field: its page comes to the front under the box, and the user is put back
        // into the field once the box is gone.
        const HWND field = RefusedField(e);
        ShowPageOf(field);
        AppMessageBox(ExceptionText(e), MB_ICONERROR);
        FocusRefusedField(field);
        return false;
    }
    ShowDamageNotices();
    AppMessageBox(IDS_SUCCESSFULLY, MB_ICONINFORMATION);
    return true;
}

HWND CConfigParvelApp::RefusedField(const std::exception& e)
{
    const CPageRefusal* refusal = dynamic_cast<const CPageRefusal*>(&e);
    return refusal ? refusal->Control() : nullptr;
}

void CConfigParvelApp::ShowPageOf(HWND control)
{
    if (!control)
        return;
    for (int i = 0; i < PageCount; ++i)
        if (m_pages[i] && IsChild(m_pages[i]->GetHwnd(), control))
            SelectPage(i);
}

bool CConfigParvelApp::CanClose()
{
    try
    {
        WINDOWPLACEMENT wp = {};
        wp.length = sizeof(wp);
        if (GetWindowPlacement(m_hWnd, &wp) && !EqualRect(&wp.rcNormalPosition, &AppWinRect))
        {
            AppWinRect = wp.rcNormalPosition;
            ModifiedFlags |= DATA_UI;
        }
        // One document for all the saves of the close.
        CAppConfigRef held;
        if (ModifiedFlags & DATA_UI)
            held = CAppConfig::GetInstance();
        StoreAllPages();
        if (ModifiedFlags & (DATA_LIBRARY | DATA_ADDIN))
        {
            int answer = AppMessageBox(IDS_SAVE_CHANGES, MB_YESNOCANCEL | MB_ICONQUESTION);
            if (answer == IDCANCEL)
                return false;
            if (answer == IDYES)
                Save(ModifiedFlags);
        }
        if (ModifiedFlags & DATA_UI)
            Save(DATA_UI);
        ShowDamageNotices();
        return true;
    }
    catch (const std::exception& e)
    {
        ShowDamageNotices();
        std::wstring text = LoadAppString(IDS_SAVE_FAILED_QUIT) + L"\r\n\r\n" + ExceptionText(e);
        const HWND field = RefusedField(e);
        ShowPageOf(field);
        if (AppMessageBox(text, MB_OKCANCEL | MB_ICONERROR) == IDOK)
            return true;
        FocusRefusedField(field);
        return false;
    }
}

bool CConfigParvelApp::GetHelpFile(std::wstring& out) const
{
    wchar_t language[16] = {};
    GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_SABBREVLANGNAME, language, 16);
    const std::wstring folder = m_programFolder + L"Languages\\";
    out = folder + L"Parvel_" + language + L".chm";
    if (FileExists(out))
        return true;
    out = folder + L"Parvel_RUS.chm";
    return FileExists(out);
}

int CConfigParvelApp::CurrentHelpId() const
{
    static_assert(sizeof(kPageHelpIds) / sizeof(kPageHelpIds[0]) == PageCount, "a help id for every page");
    return m_currentPage >= 0 && m_currentPage < PageCount ? kPageHelpIds[m_currentPage] : 0;
}

bool CConfigParvelApp::ShowHelp(int helpId)
{
    std::wstring file;
    if (!GetHelpFile(file))
        return false;
    if (!m_openHelpFile.empty() && m_openHelpFile != file)
    {
        HtmlHelpW(nullptr, m_openHelpFile.c_str(), HH_CLOSE_ALL, 0);
        m_openHelpFile.clear();
    }
    m_openHelpFile = file;
    if (helpId)
        HtmlHelpW(m_hWnd, file.c_str(), HH_HELP_CONTEXT, HELP_CONTEXT_BASE + helpId);
    else
        HtmlHelpW(m_hWnd, file.c_str(), HH_DISPLAY_TOPIC, 0);
    return true;
}
