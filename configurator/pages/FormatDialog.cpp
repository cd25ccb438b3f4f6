// The key-format dialog (see FormatDialog.h).
#include "FormatDialog.h"
#include "App.h"
#include "ControlNumbers.h"
#include "AppMessageBox.h"
#include "AppResource.h"
#include "EntryCollapse.h"
#include "FormatDialogRes.h"
#include "FormatDialogRules.h"
#include "FormatsPageRes.h"
#include "KeyTypeTexts.h"
#include "KeyTypesRes.h"
#include "ListViewHelpers.h"
#include "ModuleState.h"
#include "DpiScale.h"
#include "PageRefusal.h"
#include "TestException.h"
#include "TestHost.h"
#include "VariantHelpers.h"
#include "WFormat.h"

namespace {

const UINT_PTR StatusTimer = 1;
const int MinTrackWidth = 490;
const int MinTrackHeight = 515;

// The add-in's `Port` property as a text variant in the host's memory.
void SetPort(CTestParvel* host, const std::wstring& port)
{
    CVariantArray value(1, host->MemoryManager());
    value.SetWStr(0, port.c_str());
    host->SetPort(&value[0]);
}

} // namespace

CDlgZFormat::~CDlgZFormat()
{
    // A dialog that ends without WM_DESTROY (it never got a window) must still leave no listener.
    if (m_host)
        m_host->RemoveListeners(this);
}

void CDlgZFormat::OnHostEventThunk(void* context, CTestParvel* host)
{
    static_cast<CDlgZFormat*>(context)->OnHostEvent(host);
}

void CDlgZFormat::OnInitDialog()
{
    CConfigParvelApp& app = GetApp();
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadIconW(ModuleHandle, MAKEINTRESOURCEW(IDI_APP))));
    HWND list = GetItem(IDC_FORMAT_KEY_TYPES);
    ListView_InitCheckList(list);
    m_types.SetOwner(list, &CVirtualListViewData::ShowCountIn);
    SendItemMessage(IDC_FORMAT_KEY_SIZE_SPIN, UDM_SETRANGE32, 0, FORMAT_KEY_SIZE_MAX);

    m_anchors.SetOwner(m_hWnd);
    m_anchors.AddControl(IDC_FORMAT_NAME, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_anchors.AddControl(IDC_FORMAT_TEMPLATE, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_anchors.AddControl(IDC_FORMAT_PARAMS, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    // Check stays beside the top of the parameters, which grow downwards: anchored to the bottom
    // it would slide over the template's field when the dialog is made smaller than it opened.
    m_anchors.AddControl(IDC_FORMAT_CHECK, ANCHOR_RIGHT | ANCHOR_TOP);
    for (int id : {IDOK, IDCANCEL})
        m_anchors.AddControl(id, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    for (int id : {IDC_FORMAT_COMMENT, IDC_FORMAT_MASK, IDC_FORMAT_KEY_TYPES, IDC_FORMAT_RESULT})
        m_anchors.AddControl(id, ANCHOR_LEFT | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    // Only these two have a label before them: the window before the key-type list is the mask
    // edit and the one before the result field is "Test", whose own entries a label's entry
    // (applied later) would override.
    for (int id : {IDC_FORMAT_COMMENT, IDC_FORMAT_MASK})
        m_anchors.AddWindow(GetWindow(GetItem(id), GW_HWNDPREV));
    m_anchors.AddWindow(GetWindow(GetItem(IDC_FORMAT_KEY_SIZE), GW_HWNDPREV));
    for (int id : {IDC_FORMAT_KEY_SIZE, IDC_FORMAT_KEY_SIZE_SPIN, IDC_FORMAT_ENABLED, IDC_FORMAT_TEST})
        m_anchors.AddControl(id, ANCHOR_LEFT | ANCHOR_BOTTOM);
    m_anchors.Capture();

    if (!app.HasTestHost())
        m_hostState = NoHost;
    else if (!app.GetTestHost()->Component())
        m_hostState = NotLoaded;
    else
        m_hostState = app.GetTestHost()->Devices().empty() ? LoadedNoDevice : LoadedWithDevice;

    if (Library && EditedIndex >= 0 && EditedIndex < static_cast<int64_t>(Library->size())) {
        const KeyFormatItem& item = (*Library)[static_cast<size_t>(EditedIndex)];
        Enabled = item.Enabled;
        Name = item.Name;
        Template = item.Template;
        Params = item.Params;
        Comment = item.Comment;
        KeyTypes = item.KeyTypes;
        KeySize = item.KeySize;
    } else {
        EditedIndex = -1;
    }
    m_types.Mask = KeyTypes;
    UpdateData(false);
    ShowMask();
    EnableItem(IDC_FORMAT_RESULT, false);
    m_types.FillCache();
    m_types.FireEvent();

    RestorePlacement(app.FormatRect);
}

void CDlgZFormat::UpdateData(bool save)
{
    if (save) {
        Enabled = IsChecked(IDC_FORMAT_ENABLED) ? 1 : 0;
        GetDlgItemText(IDC_FORMAT_NAME, Name);
        GetDlgItemText(IDC_FORMAT_TEMPLATE, Template);
        GetDlgItemText(IDC_FORMAT_PARAMS, Params);
        GetDlgItemText(IDC_FORMAT_COMMENT, Comment);
        // A key size the up-down control cannot reach (pasted, or typed past 65535) is refused
        // rather than stored as a size no key has.
        std::wstring size;
        GetDlgItemText(IDC_FORMAT_KEY_SIZE, size);
        int64_t value = 0;
        if (!ReadControlNumber(size, 0, FORMAT_KEY_SIZE_MAX, value)) {
            HWND field = GetItem(IDC_FORMAT_KEY_SIZE);
            throw NumberRefusal(field, LabelBefore(field), 0, FORMAT_KEY_SIZE_MAX);
        }
        KeySize = static_cast<uint32_t>(value);
        return;
    }
    SetCheck(IDC_FORMAT_ENABLED, Enabled != 0);
    SetDlgItemTextW(m_hWnd, IDC_FORMAT_NAME, Name.c_str());
    SetDlgItemTextW(m_hWnd, IDC_FORMAT_TEMPLATE, Template.c_str());
    SetDlgItemTextW(m_hWnd, IDC_FORMAT_PARAMS, Params.c_str());
    SetDlgItemTextW(m_hWnd, IDC_FORMAT_COMMENT, Comment.c_str());
    SetDlgItemInt(m_hWnd, IDC_FORMAT_KEY_SIZE, KeySize, FALSE);
}

void CDlgZFormat::ShowMask()
{
    SetDlgItemTextW(m_hWnd, IDC_FORMAT_MASK, MaskHexText(KeyTypes).c_str());
}

void CDlgZFormat::SetMask(uint32_t mask)
{
    if (mask == KeyTypes)
        return;
    KeyTypes = mask;
    m_types.Mask = mask;
    ShowMask();
    InvalidateRect(GetItem(IDC_FORMAT_KEY_TYPES), nullptr, TRUE);
    if (m_testOn)
        PushTestFormat();
}

bool CDlgZFormat::OnListNotify(NMHDR* hdr, LRESULT& result)
{
    result = 0;
    uint32_t mask = KeyTypes;
    if (!m_types.HandleEditNotify(hdr, m_hWnd, mask))
        return false;
    SetMask(mask);
    return true;
}

void CDlgZFormat::FocusField(int id, int position)
{
    SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetItem(id)), TRUE);
    if (position >= 0)
        SendItemMessage(id, EM_SETSEL, position, position);
}

bool CDlgZFormat::TemplateError(CTestParvel* host, std::wstring& text, int32_t& code, int32_t& position)
{
    position = -1;
    if (host->CheckFormat(Template.c_str(), Params.c_str(), position))
        return false;
    code = host->GetLastError(text);
    if (code >= 0)
        return false;
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    if (position != -1)
        AppendResFormat(text, IDS_ERROR_POSITION, position);
    return true;
}

bool CDlgZFormat::CheckWithAddin()
{
    CTestParvel* host = GetApp().GetTestHost();
    if (!host->Component())
        host->Create();
    std::wstring text;
    int32_t code = 0, position = -1;
    if (!TemplateError(host, text, code, position))
        return true;
    AppMessageBox(text, MB_ICONERROR, m_hWnd);
    const int field = FormatErrorField(code);
    if (field)
        FocusField(field, position);
    return false;
}

void CDlgZFormat::ShowTemplateCheck()
{
    if (!m_host)
        return;
    std::wstring text;
    int32_t code = 0, position = -1;
    if (!Template.empty() && TemplateError(m_host, text, code, position)) {
        m_testStatus = StatusTemplateError;
        SetDlgItemTextW(m_hWnd, IDC_FORMAT_RESULT, text.c_str());
        InvalidateRect(GetItem(IDC_FORMAT_RESULT), nullptr, TRUE);
        return;
    }
    if (m_testStatus != StatusTemplateError)
        return;
    const bool connected = m_host->IsConnected();
    m_testStatus = connected ? StatusWaiting : StatusNoConnection;
    ShowResult(connected ? IDS_WAITING_KEY : IDS_NO_CONNECTION);
    InvalidateRect(GetItem(IDC_FORMAT_RESULT), nullptr, TRUE);
}

void CDlgZFormat::OnCheck()
{
    UpdateData(true);
    if (!Template.empty() && !CheckWithAddin())
        return;
    AppMessageBox(IDS_FORMAT_CORRECT, MB_ICONINFORMATION, m_hWnd);
}

bool CDlgZFormat::OnOK()
{
    UpdateData(true);
    if (Name.empty()) {
        AppMessageBox(IDS_FIELD_REQUIRED, MB_ICONERROR, m_hWnd);
        FocusField(IDC_FORMAT_NAME, -1);
        return false;
    }
    if (Template.empty()) {
        AppMessageBox(IDS_FIELD_REQUIRED, MB_ICONERROR, m_hWnd);
        FocusField(IDC_FORMAT_TEMPLATE, -1);
        return false;
    }
    // The check needs a component; one that OK loads only for the check is unloaded again, while
    // an add-in that was loaded before (with the test page's devices) stays as it was.
    CConfigParvelApp& app = GetApp();
    const bool wasLoaded = app.HasTestHost() && app.GetTestHost()->Component();
    bool passed = false;
    try {
        passed = CheckWithAddin();
    } catch (...) {
        if (!wasLoaded && !m_testOn && app.HasTestHost())
            app.GetTestHost()->Unload();
        throw;
    }
    if (!wasLoaded && !m_testOn)
        app.GetTestHost()->Unload();
    if (!passed)
        return false;

    KeyFormatLibrary& library = *Library;
    const int64_t existing = FindFormatByName(library, Name);
    if (existing >= 0 && existing != EditedIndex) {
        std::wstring question;
        FormatResString(question, IDS_FORMAT_EXISTS, Name.c_str());
        if (AppMessageBox(question, MB_OKCANCEL | MB_ICONERROR, m_hWnd) != IDOK) {
            FocusField(IDC_FORMAT_NAME, -1);
            return false;
        }
        ReplacedEnabled = library[static_cast<size_t>(existing)].Enabled != 0;
        EditedIndex = CollapseEntries(library, EditedIndex, existing);
    }
    KeyFormatItem item;
    if (EditedIndex >= 0 && EditedIndex < static_cast<int64_t>(library.size()))
        item.Conflict = library[static_cast<size_t>(EditedIndex)].Conflict;
    item.Name = Name;
    item.Template = Template;
    item.Params = Params;
    item.Comment = Comment;
    item.KeyTypes = m_types.Mask;
    item.KeySize = KeySize;
    item.Enabled = Enabled;
    EditedIndex = StoreEntry(library, EditedIndex, item);
    MarkFormatConflicts(library);
    return true;
}

void CDlgZFormat::ShowResult(UINT textId)
{
    SetDlgItemTextW(m_hWnd, IDC_FORMAT_RESULT, LoadAppString(textId).c_str());
}

void CDlgZFormat::SetTestMode(bool on)
{
    if (on == (m_testOn != 0))
        return;
    if (!on) {
        KillTimer(m_hWnd, StatusTimer);
        m_timer = 0;
        StopTest();
        m_testOn = 0;
        SetCheck(IDC_FORMAT_TEST, false);
        EnableItem(IDC_FORMAT_RESULT, false);
        return;
    }
    try {
        CConfigParvelApp& app = GetApp();
        UpdateData(true);
        for (int i = 0; i < CConfigParvelApp::PageCount; ++i) {
            if (CAppPage* page = app.GetPage(i))
                page->UpdateData(true);
        }
        m_testFormat.clear();
        m_testStatus = StatusWaiting;
        ShowResult(IDS_WAITING_KEY);
        m_host = app.GetTestHost();
        if (!m_host->Component())
            m_host->Create();
        m_testFormat = FreeTestFormatName(TestFormatName, [this](const std::wstring& name) {
            return m_host->FindFormat(name.c_str()) >= 0;
        });
        if (m_testFormat.empty())
            ThrowTestError(LoadAppString(IDS_NO_TEST_FORMAT_NAME).c_str());
        const std::wstring previousPort = m_host->GetPort();
        SetPort(m_host, app.Portname);
        m_previousPort = previousPort;
        m_portSet = true;
        if (!Template.empty()) {
            int32_t index = 0;
            m_host->InsertFormat(index, Template.c_str(), Params.c_str(), m_types.Mask, static_cast<int32_t>(KeySize),
                                 m_testFormat.c_str());
        }
        if (!m_host->Devices().empty()) {
            if (!m_host->IsConnected())
                m_host->Reconnect(m_host->Devices().front());
        } else {
            std::wstring device;
            m_host->Open(device);
        }
        m_host->AddListener(ListenEvent, this, &OnHostEventThunk);
        if (!m_host->IsConnected()) {
            m_testStatus = StatusNoConnection;
            ShowResult(IDS_NO_CONNECTION);
        }
        ShowTemplateCheck();
        SetTimer(m_hWnd, StatusTimer, 1000, nullptr);
        m_timer = 1;
        m_testOn = 1;
        SetCheck(IDC_FORMAT_TEST, true);
        EnableItem(IDC_FORMAT_RESULT, true);
    } catch (...) {
        SetCheck(IDC_FORMAT_TEST, false);
        StopTest();
        SetDlgItemTextW(m_hWnd, IDC_FORMAT_RESULT, L"");
        throw;
    }
}

void CDlgZFormat::PushTestFormat()
{
    if (!m_host)
        return;
    GetDlgItemText(IDC_FORMAT_TEMPLATE, Template);
    GetDlgItemText(IDC_FORMAT_PARAMS, Params);
    KeySize = GetDlgItemInt(m_hWnd, IDC_FORMAT_KEY_SIZE, nullptr, FALSE);
    const int32_t index = m_host->FindFormat(m_testFormat.c_str());
    if (Template.empty()) {
        if (index >= 0)
            m_host->DeleteFormat(index);
    } else if (index < 0) {
        int32_t first = 0;
        m_host->InsertFormat(first, Template.c_str(), Params.c_str(), m_types.Mask, static_cast<int32_t>(KeySize),
                             m_testFormat.c_str());
    } else {
        m_host->SetFormat(index, Template.c_str(), Params.c_str(), m_types.Mask, static_cast<int32_t>(KeySize),
                          m_testFormat.c_str());
    }
    ShowTemplateCheck();
}

void CDlgZFormat::OnHostEvent(CTestParvel* host)
{
    const HostEvent& event = host->CurrentEvent();
    const TestEventKind kind = ClassifyTestEvent(event.message);
    if (kind == TestEventKind::Other)
        return;
    m_testStatus = kind == TestEventKind::Key ? StatusWaiting : StatusError;
    SetDlgItemTextW(m_hWnd, IDC_FORMAT_RESULT, event.data.c_str());
    InvalidateRect(GetItem(IDC_FORMAT_RESULT), nullptr, TRUE);
}

void CDlgZFormat::ShowStatus()
{
    if (!m_host)
        return;
    try {
        if (m_testStatus == StatusWaiting && !m_host->IsConnected()) {
            m_testStatus = StatusNoConnection;
            ShowResult(IDS_NO_CONNECTION);
        } else if (m_testStatus == StatusNoConnection && m_host->IsConnected()) {
            m_testStatus = StatusWaiting;
            ShowResult(IDS_WAITING_KEY);
        }
    } catch (...) {
        // A refresh driven by the timer never shows a box; it stops instead.
        KillTimer(m_hWnd, StatusTimer);
        m_timer = 0;
    }
}

void CDlgZFormat::StopTest()
{
    if (!m_host)
        return;
    CTestParvel* host = m_host;
    m_host = nullptr;
    const bool portSet = m_portSet;
    m_portSet = false;
    host->RemoveListeners(this);
    if (m_hostState == NoHost || m_hostState == NotLoaded) {
        host->Unload();
        return;
    }
    if (m_hostState == LoadedNoDevice)
        host->CloseAll();
    // The name was free when the test began: a format of that name is the test's own.
    if (!m_testFormat.empty()) {
        const int32_t index = host->FindFormat(m_testFormat.c_str());
        if (index >= 0)
            host->DeleteFormat(index);
    }
    if (portSet)
        SetPort(host, m_previousPort);
}

LRESULT CDlgZFormat::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        switch (id) {
        case IDOK:
            if (OnOK())
                EndDialog(m_hWnd, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(m_hWnd, IDCANCEL);
            return TRUE;
        case IDC_FORMAT_CHECK:
            OnCheck();
            return TRUE;
        case IDC_FORMAT_TEMPLATE:
        case IDC_FORMAT_PARAMS:
            if (code == EN_CHANGE && m_testOn)
                PushTestFormat();
            return TRUE;
        case IDC_FORMAT_TEST:
            if (code == BN_CLICKED)
                SetTestMode(IsChecked(IDC_FORMAT_TEST));
            return TRUE;
        case ID_KEY_TYPES_CHECK_ALL:
            SetMask(ALL_KEY_TYPES);
            return TRUE;
        case ID_KEY_TYPES_UNCHECK_ALL:
            SetMask(0);
            return TRUE;
        default:
            return FALSE;
        }
    }
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        LRESULT result = 0;
        if (hdr->idFrom == IDC_FORMAT_KEY_TYPES && OnListNotify(hdr, result))
            return SetDlgResult(result);
        return FALSE;
    }
    case WM_CONTEXTMENU:
        // Shift+F10 and the Menu key; a click's menu comes with NM_RCLICK.
        if (!ContextMenuByKeyboard(lParam) || reinterpret_cast<HWND>(wParam) != GetItem(IDC_FORMAT_KEY_TYPES))
            return FALSE;
        CKeyTypesView::ShowMenu(GetItem(IDC_FORMAT_KEY_TYPES), m_hWnd, lParam);
        return TRUE;
    case WM_TIMER:
        if (wParam == StatusTimer)
            ShowStatus();
        return TRUE;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == GetItem(IDC_FORMAT_RESULT)) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, m_testStatus == StatusWaiting ? RGB(8, 0, 0) : RGB(255, 0, 0));
            SetBkMode(dc, TRANSPARENT);
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        return FALSE;
    case WM_SIZE:
        m_anchors.Apply(LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_GETMINMAXINFO: {
        MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = ScaleForTemplates(MinTrackWidth, false);
        info->ptMinTrackSize.y = ScaleForTemplates(MinTrackHeight, true);
        return TRUE;
    }
    case WM_DESTROY: {
        KillTimer(m_hWnd, StatusTimer);
        m_timer = 0;
        CConfigParvelApp& app = GetApp();
        if (KeepPlacement(app.FormatRect))
            app.ModifiedFlags |= DATA_UI;
        m_types.SetOwner(nullptr, nullptr);
        if (m_testOn) {
            m_testOn = 0;
            StopTest();
        }
        return FALSE;
    }
    default:
        return FALSE;
    }
}
