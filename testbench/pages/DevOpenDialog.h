// The device dialog ("Connection"): plays the platform's connection dialog for the add-in's
// equipment-driver methods. It reads the driver's version, parameters document and actions, shows
// the generated form and the two XML documents, and on "Save and close" sends every parameter with
// SetParameter and opens the device; "Device Test" and the actions run from the form's menu.
#pragma once
#include "BenchContext.h"
#include "DriverParams.h"
#include "Wnd.h"
#include <memory>
#include <string>
#include <vector>

class CParamsPage;
class CXmlPage;

class CDlgDevOpen : public CWnd
{
public:
    explicit CDlgDevOpen(const BenchContext& bench);
    ~CDlgDevOpen() override;

    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    bool LoadDriverInfo();
    bool ApplyParameters();
    // "Save and close": store the form, apply, Open; ends the dialog with 1 on success.
    bool SaveAndOpen();
    bool DeviceTest();
    bool DoAdditionalAction(int index);
    void SelectTab(int index);

    // The identifier Open returned.
    const std::wstring& Device() const { return m_device; }
    std::vector<DriverParameter>& Parameters() { return m_params; }
    const std::vector<DriverAction>& Actions() const { return m_actions; }
    CParamsPage* FormPage() const { return m_form.get(); }
    CXmlPage* XmlPage(int index) const { return index == 1 ? m_paramsXml.get() : m_actionsXml.get(); }

private:
    BOOL OnInitDialog();
    void LayoutPages();
    void ShowLastError(UINT flags);
    // A driver function that gives one text (GetParameters, GetAdditionalActions); false, after
    // the add-in's error is shown, when it fails.
    bool CallForText(const wchar_t* method, std::wstring& text);
    // The form's values checked, stored and sent to the driver; false when any of it is refused.
    bool TakeParameters();
    void OnDestroy();

    BenchContext m_bench;
    std::wstring m_device;
    std::unique_ptr<CParamsPage> m_form;
    std::unique_ptr<CXmlPage> m_paramsXml;
    std::unique_ptr<CXmlPage> m_actionsXml;
    int m_shown = -1;
    HWND m_tabs = nullptr;
    std::vector<DriverParameter> m_params;
    std::vector<DriverAction> m_actions;
    RECT m_initialRect = {};
};
