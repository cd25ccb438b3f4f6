// The "Form" tab of the device dialog: the driver's state and version, one tab per page of the
// parameters document with its generated form, "Save and close" and the "Functions" menu (the
// device test and the driver's additional actions). Commands go to the dialog as WM_NOTIFY from
// control IDD_PARAMS_PAGE with a PageCommand code.
#pragma once
#include "AnchorLayout.h"
#include "DriverParams.h"
#include "GdiHandles.h"
#include "Wnd.h"
#include <memory>
#include <vector>

class CXmlParsPage;

enum PageCommand : UINT
{
    PageCommandSave = 1,
    PageCommandDeviceTest = 2,
    PageCommandAction = 3,
};

struct NMPAGECOMMAND
{
    NMHDR hdr;
    int item; // the action's index for PageCommandAction
};

class CParamsPage : public CAppPage
{
public:
    CParamsPage(std::vector<DriverParameter>* params, std::vector<DriverAction>* actions);
    ~CParamsPage() override;

    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void UpdateData(bool save) override;
    // Before the form's values are stored: a "Number" field that holds no whole number is shown,
    // named in an error box and focused; false then, and nothing may be sent.
    bool CheckNumbers();

    void SetDriverInfo(const std::wstring& state, const std::wstring& version);
    void BuildPages(const CMemXML& doc);
    void ShowActionsMenu();

    int FormCount() const { return static_cast<int>(m_forms.size()); }
    CXmlParsPage* Form(int index) const { return m_forms[index].get(); }
    // What the Functions menu offers: "Device Test" and one item per action.
    std::vector<std::wstring> MenuItems() const;

private:
    BOOL OnInitDialog();
    void ShowForm(int index);
    void PlaceForm();
    LRESULT Notify(UINT code, int item = 0);

    std::vector<DriverParameter>* m_params; // the dialog's
    std::vector<DriverAction>* m_actions;   // the dialog's
    CFontHandle m_captionFont;
    CIconHandle m_functionsIcon;
    CAnchorLayout m_anchors;
    HWND m_tabs = nullptr;
    std::vector<std::unique_ptr<CXmlParsPage>> m_forms;
    int m_shown = -1;
};
