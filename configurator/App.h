// The application object of ConfigParvel: the main window with its tabs and buttons, start-up and
// closing, and (through CAppData) all the data the pages edit. There is one per process, reachable
// through GetApp(); pages use it to reach the data.
//
// The rule a reader must not break: pages live from their first selection until WM_DESTROY of the
// main window and are deleted there, before the test host and the test log.
#pragma once
#include "AppData.h"
#include "GdiHandles.h"
#include "Handles.h"
#include "Wnd.h"
#include <array>
#include <exception>
#include <string>

class CConfigParvelApp : public CWnd, public CAppData
{
public:
    static constexpr int PageCount = 6;
    // The main window's smallest tracking size at 96 DPI (it grows with the screen's DPI).
    static constexpr int MinWidth = 725;
    static constexpr int MinHeight = 600;

    CConfigParvelApp();
    ~CConfigParvelApp() override;

    // Start-up decisions (language, program folder, portable mode, data folder), then
    // StartInstance. 0 = running, -1 = the program ends at once.
    int InitInstance(int showCommand);
    // Start-up once the data location is set (SetLocation): one instance, window class, main
    // window, show. Tests call it with a scratch location.
    int StartInstance(int showCommand);
    // The message loop until WM_QUIT, then Shutdown; returns the WM_QUIT code.
    int Run();
    // After the loop: destroys a main window that still exists, unregisters the class, frees the
    // icons. Safe to call again.
    void Shutdown();

    bool PreTranslateMessage(MSG* msg) override;
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    LRESULT OnCreate();
    void OnCommand(int id);
    bool OnLoad(bool confirm);
    bool OnSave(bool confirm);
    void OnDefault();
    void ShowAbout();
    bool SelectPage(int index);
    // The next (step 1) or previous (-1) tab, round the end; the focus follows into the page
    // unless it is on the tab control.
    void StepPage(int step);
    void LayoutPage(int cx, int cy, HDWP hdwp);
    // The help file for the system's language, else the Russian one; true when it is a file (a
    // folder of that name is none), the one test behind both the Help button and ShowHelp.
    bool GetHelpFile(std::wstring& out) const;
    bool ShowHelp(int helpId);
    // The current page's help id (the help-id table's), 0 without a page.
    int CurrentHelpId() const;
    bool CanClose();

    CAppPage* GetPage(int index) const { return index >= 0 && index < PageCount ? m_pages[index] : nullptr; }
    int GetCurrentPage() const { return m_currentPage; }
    HWND GetTabControl() const { return m_tab; }
    // 0 Load, 1 Save, 2 Help, 3 Default.
    HWND GetButton(int i) const { return m_buttons[i]; }
    HFONT GetMainFont() const { return m_font.Get(); }
    HACCEL GetAccelerators() const { return m_accelerators; }
    // The program's folder with its trailing backslash.
    const std::wstring& GetProgramFolder() const { return m_programFolder; }
    void SetProgramFolder(const std::wstring& folder) { m_programFolder = folder; }

private:
    void CreateButtons(const RECT& client);
    void CreateTabs(const RECT& client);
    void DestroyPages();
    void OnDestroy();
    void OnActivate(WPARAM wParam);
    // WM_NEXTDLGCTL as a dialog takes it: lParam's low word set, wParam is the control to focus;
    // else the next (wParam 0) or previous control in the tab order after the focus.
    void OnNextControl(WPARAM wParam, LPARAM lParam);
    void OnSize(UINT type, int cx, int cy);
    void StoreAllPages();
    // The field a page refused (the exception a CPageRefusal with a control), else null.
    static HWND RefusedField(const std::exception& e);
    // Selects the page that holds the control (nothing for null or a control of no page).
    void ShowPageOf(HWND control);
    // Tells the user once about every settings file found damaged since the last call.
    void ShowDamageNotices();

    std::wstring m_programFolder;
    HACCEL m_accelerators = nullptr;
    HWND m_savedFocus = nullptr;
    ATOM m_classAtom = 0;
    CIconHandle m_smallIcon;
    CIconHandle m_largeIcon;
    CFontHandle m_font;
    HWND m_tab = nullptr;
    int m_currentPage = -1;
    std::array<CAppPage*, PageCount> m_pages = {};
    std::array<HWND, 4> m_buttons = {};
    std::wstring m_openHelpFile;
};

// The process-wide application object.
CConfigParvelApp& GetApp();
// Whether an application object exists (tests make and drop their own).
bool HasApp();
