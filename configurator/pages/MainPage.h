// The connection page (tab "Main"): the add-in's connection, log, search and start-up values in
// the application's settings copy. Control notifications count as user edits (ModifiedFlags bit 3)
// only while the page is not loading its controls itself.
#pragma once
#include "MainPageExchange.h"
#include "PageRefusal.h"
#include "Wnd.h"
#include <string>
#include <vector>

class CMainPage : public CAppPage
{
public:
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void UpdateData(bool save) override;

    // Fills the port box from the port list and selects or shows the settings' port, or `name`.
    void FillPorts();
    void FillPorts(const std::wstring& name);
    // Lists the machine's serial ports again (the Refresh button), keeping the port the box shows.
    void RefreshPorts();
    // Writes the log switch to the settings at once and enables the log options with it.
    void EnableLogControls();
    void EnableSearchControls();

    // The controls' state as the data exchange sees it, and back.
    MainPageControls ReadControls() const;
    void WriteControls(const MainPageControls& controls);
    bool IsLoading() const { return m_loading > 0; }

private:
    BOOL OnInitDialog();
    void OnCommand(int id, int code);
    // The refusal of number box `index` (of MAIN_PAGE_NUMBER_FIELDS), naming it by its label.
    CPageRefusal RefuseNumber(int index) const;

    int m_loading = 0;
    std::vector<std::wstring> m_ports;
};
