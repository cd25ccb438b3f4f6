// The key-format dialog: edits one entry of the format library. It leaves the judgement of a
// template to the add-in itself (its CheckFormat, loaded through the test host), and its live test
// puts the edited format into the running add-in as "FormatTemp", first in the add-in's list, and
// shows what a presented card gives.
//
// The rule a reader must not break: whatever the test changed in the host is undone when the test
// ends (StopTest): an add-in the dialog loaded is unloaded, devices it opened are closed, devices
// that were open before stay open, the `Port` property it set is put back, and its temporary format
// is removed. That format takes a name no format of the add-in carries ("FormatTemp", else
// "FormatTemp1" ...), so that no format of the user's is ever run or deleted in its place.
#pragma once
#include "AnchorLayout.h"
#include "KeyFormatItem.h"
#include "KeyTypesView.h"
#include "Wnd.h"
#include <cstdint>
#include <string>

class CTestParvel;

// The largest key size in bytes the dialog takes (its up-down control's range starts at 0).
const int64_t FORMAT_KEY_SIZE_MAX = 65535;

class CDlgZFormat : public CWnd
{
public:
    // What the host held when the dialog opened, which decides what StopTest undoes.
    enum HostState : uint32_t
    {
        NoHost = 0,
        NotLoaded = 1,
        LoadedNoDevice = 2,
        LoadedWithDevice = 4,
    };
    enum TestStatus : uint32_t
    {
        StatusWaiting = 1, // waiting for a key, or a key shown
        StatusError = 2,   // a driver error shown
        StatusNoConnection = 3,
        StatusTemplateError = 4, // the add-in cannot read the template: its error shown
    };

    ~CDlgZFormat() override;
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    void OnInitDialog();
    void UpdateData(bool save);
    void SetMask(uint32_t mask);
    void ShowMask();
    bool OnListNotify(NMHDR* hdr, LRESULT& result);
    void OnCheck();
    bool OnOK();
    void SetTestMode(bool on);
    void PushTestFormat();
    void OnHostEvent(CTestParvel* host);
    void ShowStatus();
    void StopTest();

    bool TestOn() const { return m_testOn != 0; }
    uint32_t Status() const { return m_testStatus; }
    uint32_t OpeningHostState() const { return m_hostState; }
    // The name of the temporary format while a test runs.
    const std::wstring& TestFormat() const { return m_testFormat; }

    // Set by the caller before the dialog runs; EditedIndex is the stored index after IDOK.
    KeyFormatLibrary* Library = nullptr;
    int64_t EditedIndex = -1;
    uint32_t Enabled = 0;
    std::wstring Name;
    std::wstring Template;
    std::wstring Params;
    std::wstring Comment;
    uint32_t KeyTypes = 0;
    uint32_t KeySize = 0;
    // After IDOK: the edit replaced another format (same name) that was enabled.
    bool ReplacedEnabled = false;

private:
    static void OnHostEventThunk(void* context, CTestParvel* host);
    // The add-in's check of the template and parameters; false (after showing the error and
    // putting the caret on it) when the add-in refuses them.
    bool CheckWithAddin();
    // The add-in's judgement of the template and parameters: true with its error text (and the
    // position when it names one) and its code when it refuses them.
    bool TemplateError(CTestParvel* host, std::wstring& text, int32_t& code, int32_t& position);
    // While testing: the template's error in the result field in place of what it showed, for the
    // add-in formats no card with a template it cannot read; once it reads it again, the status.
    void ShowTemplateCheck();
    void ShowResult(UINT textId);
    void FocusField(int id, int position);

    CAnchorLayout m_anchors;
    CKeyTypesView m_types;
    uint32_t m_testOn = 0;
    CTestParvel* m_host = nullptr;
    uint32_t m_hostState = NoHost;
    uint32_t m_testStatus = StatusWaiting;
    uint32_t m_timer = 0;
    std::wstring m_testFormat;
    // The add-in's `Port` before the test set it, while it is to be put back.
    bool m_portSet = false;
    std::wstring m_previousPort;
};
