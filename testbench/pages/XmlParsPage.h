// One tab of the driver's parameter form: the groups and parameters of one page of the add-in's
// parameters document as generated controls (edits, combo boxes, check boxes with their labels),
// laid out in group boxes and scrolled vertically when taller than the page.
#pragma once
#include "DriverParams.h"
#include "FocusFollower.h"
#include "Wnd.h"
#include <vector>

class CXmlParsPage : public CAppPage
{
public:
    struct FormControl
    {
        int kind = 0; // 1 group box, 2 label, 3 edit, 4 combo box, 5 check box
        HWND hWnd = nullptr;
        int param = -1; // index into Params(); -1 for group boxes and labels
        int group = -1;
    };

    explicit CXmlParsPage(std::vector<DriverParameter>* driverParams) : m_driverParams(driverParams) {}
    ~CXmlParsPage() override;

    // Creates the form of one page element, then lays it out.
    void Build(const CMXNode& page);
    // save: every edit, combo box and check box into the first driver parameter of its name.
    void UpdateData(bool save) override;
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    const std::vector<ParamInfo>& Params() const { return m_params; }
    const std::vector<FormControl>& Controls() const { return m_controls; }
    int ContentHeight() const { return m_contentHeight; }
    // The control of a parameter by its name; null when it has none.
    HWND ControlOf(const std::wstring& name) const;
    // The first edit or combo box of a "Number" parameter whose text is not a whole number, or
    // null when every one holds a number.
    HWND FirstBadNumber() const;
    // The caption of the parameter a control stands for; empty for group boxes.
    std::wstring CaptionOf(HWND control) const;

private:
    void DestroyControls();
    void Layout();
    void OnSize(int cx, int cy);
    void OnVScroll(int code);
    void ScrollTo(int pos);
    // Scrolls until `control`, which is getting the focus, is in view.
    void ScrollIntoView(HWND control);
    HWND MakeControl(int kind, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, int param,
                     int group);
    // The value an edit, combo box or check box stands for.
    std::wstring ValueOf(const FormControl& control) const;

    std::vector<DriverParameter>* m_driverParams; // the dialog's, not owned
    std::vector<ParamInfo> m_params;
    std::vector<FormControl> m_controls;
    std::vector<int> m_groupRows; // parameter rows per group
    int m_nextId = 3000;
    int m_contentHeight = 0;
    int m_scrollPos = 0;
    CFocusFollower m_focus;
};
