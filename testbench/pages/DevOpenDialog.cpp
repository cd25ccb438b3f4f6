// The device dialog.
#include "DevOpenDialog.h"
#include "AppData.h"
#include "AppMessageBox.h"
#include "AppResource.h"
#include "BenchStrings.h"
#include "BenchUi.h"
#include "BusyScope.h"
#include "DevOpenRes.h"
#include "DpiScale.h"
#include "ModuleState.h"
#include "ParamsPage.h"
#include "SearchOutput.h"
#include "TestHost.h"
#include "VariantHelpers.h"
#include "XmlPage.h"

namespace {

std::wstring OutText(const tVariant& v)
{
    return v.vt == VTYPE_PWSTR && v.wstr.ptr ? std::wstring(v.wstr.ptr, v.wstr.len) : std::wstring();
}

bool IsTrue(const tVariant& v)
{
    return v.vt == VTYPE_BOOL && v.bVal;
}

bool IsEmptyRect(const RECT& r)
{
    return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0;
}

} // namespace

CDlgDevOpen::CDlgDevOpen(const BenchContext& bench) : m_bench(bench) {}
CDlgDevOpen::~CDlgDevOpen() = default;

BOOL CDlgDevOpen::OnInitDialog()
{
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadIconW(ModuleHandle, MAKEINTRESOURCEW(IDI_APP))));
    m_tabs = GetItem(IDC_DEVOPEN_TABS);
    const UINT captions[3] = {IDS_DEVOPEN_TAB_FORM, IDS_DEVOPEN_TAB_PARAMS, IDS_DEVOPEN_TAB_ACTIONS};
    for (int i = 0; i < 3; ++i) {
        std::wstring caption = LoadAppString(captions[i]);
        TCITEMW item = {};
        item.mask = TCIF_TEXT | TCIF_PARAM;
        item.pszText = const_cast<wchar_t*>(caption.c_str());
        item.lParam = i;
        SendMessageW(m_tabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    m_form.reset(new CParamsPage(&m_params, &m_actions));
    HWND formWindow = CreateDialogParamW(ModuleHandle, MAKEINTRESOURCEW(IDD_PARAMS_PAGE), m_hWnd, CWnd::StaticDlgProc,
                                         reinterpret_cast<LPARAM>(m_form.get()));
    if (formWindow)
        SetWindowLongPtrW(formWindow, GWLP_ID, IDD_PARAMS_PAGE);
    else
        m_form.reset();
    m_paramsXml.reset(new CXmlPage);
    if (!m_paramsXml->Create(m_hWnd))
        m_paramsXml.reset();
    m_actionsXml.reset(new CXmlPage);
    if (!m_actionsXml->Create(m_hWnd))
        m_actionsXml.reset();

    const RECT& saved = m_bench.data.DevOpenRect;
    if (!IsEmptyRect(saved))
        SetWindowPos(m_hWnd, nullptr, saved.left, saved.top, saved.right - saved.left, saved.bottom - saved.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    else
        CenterWindow();
    GetWindowRect(m_hWnd, &m_initialRect);
    RECT client;
    GetClientRect(m_hWnd, &client);
    MoveWindow(m_tabs, 0, 0, client.right, client.bottom, FALSE);
    SelectTab(0);
    LoadDriverInfo();
    return TRUE;
}

void CDlgDevOpen::ShowLastError(UINT flags)
{
    std::wstring text;
    m_bench.host.GetLastError(text);
    AppMessageBox(TrimLineBreaks(text), flags, m_hWnd);
}

bool CDlgDevOpen::CallForText(const wchar_t* method, std::wstring& text)
{
    CTestParvel& host = m_bench.host;
    CVariantArray args(2, host.MemoryManager());
    host.CallAsFunc(method, &args[0], &args[1], 1);
    if (!IsTrue(args[0])) {
        ShowLastError(MB_ICONERROR);
        return false;
    }
    text = OutText(args[1]);
    return true;
}

bool CDlgDevOpen::LoadDriverInfo()
{
    CTestParvel& host = m_bench.host;
    std::wstring version;
    {
        CVariantArray args(1, host.MemoryManager());
        host.CallAsFunc(L"GetVersion", &args[0], nullptr, 0);
        version = OutText(args[0]);
    }
    std::wstring paramsText;
    if (!CallForText(L"GetParameters", paramsText))
        return false;
    if (m_form)
        m_form->SetDriverInfo(LoadAppString(IDS_DRIVER_INSTALLED), version);
    if (m_paramsXml)
        m_paramsXml->SetXml(paramsText);
    std::wstring actionsText;
    if (!CallForText(L"GetAdditionalActions", actionsText))
        return false;
    if (m_actionsXml)
        m_actionsXml->SetXml(actionsText);

    CMemXML params;
    params.Parse(paramsText);
    m_params = ReadDriverParameters(params);
    CMemXML actions;
    actions.Parse(actionsText);
    m_actions = ReadDriverActions(actions);
    if (m_form)
        m_form->BuildPages(params);
    return true;
}

bool CDlgDevOpen::ApplyParameters()
{
    CTestParvel& host = m_bench.host;
    for (const ApplyStep& step : MakeApplyPlan(m_params)) {
        bool ok;
        if (step.kind == ApplyStep::Text) {
            ok = host.SetParameter(step.name.c_str(), step.text.c_str());
        } else {
            CVariantArray args(3, host.MemoryManager());
            args.SetWStr(1, step.name.c_str());
            if (step.kind == ApplyStep::Number)
                args.SetI4(2, step.number);
            else
                args.SetBool(2, step.flag);
            ok = host.CallAsFunc(L"SetParameter", &args[0], &args[1], 2) && IsTrue(args[0]);
        }
        if (!ok) {
            ShowLastError(MB_ICONERROR);
            return false;
        }
    }
    return true;
}

bool CDlgDevOpen::TakeParameters()
{
    if (m_form && !m_form->CheckNumbers())
        return false;
    if (m_form)
        m_form->UpdateData(true);
    return ApplyParameters();
}

bool CDlgDevOpen::SaveAndOpen()
{
    if (!TakeParameters())
        return false;
    std::wstring device;
    if (!m_bench.host.Open(device)) {
        ShowLastError(MB_ICONERROR);
        return false;
    }
    m_device = device;
    EndDialog(m_hWnd, 1);
    return true;
}

bool CDlgDevOpen::DeviceTest()
{
    if (!TakeParameters())
        return false;
    CTestParvel& host = m_bench.host;
    CVariantArray args(3, host.MemoryManager());
    {
        // The call runs on this thread as the platform makes it; a silent converter keeps it
        // for the whole connect time-out.
        CBusyScope busy(m_hWnd, LoadAppString(IDS_BENCH_DEVICE_TEST_RUNNING));
        host.CallAsFunc(L"DeviceTest", &args[0], &args[1], 2);
    }
    if (IsTrue(args[0])) {
        AppMessageBox(TrimLineBreaks(OutText(args[1])), MB_ICONINFORMATION, m_hWnd);
        return true;
    }
    ShowLastError(MB_ICONERROR);
    return false;
}

bool CDlgDevOpen::DoAdditionalAction(int index)
{
    if (index < 0 || index >= static_cast<int>(m_actions.size()))
        return false;
    CTestParvel& host = m_bench.host;
    CVariantArray args(2, host.MemoryManager());
    args.SetWStr(1, m_actions[index].name.c_str());
    host.CallAsFunc(L"DoAdditionalAction", &args[0], &args[1], 1);
    if (IsTrue(args[0]))
        return true;
    ShowLastError(MB_ICONERROR);
    return false;
}

void CDlgDevOpen::SelectTab(int index)
{
    CWnd* pages[3] = {m_form.get(), m_paramsXml.get(), m_actionsXml.get()};
    if (m_shown >= 0 && pages[m_shown])
        ShowWindow(pages[m_shown]->GetHwnd(), SW_HIDE);
    m_shown = index >= 0 && index < 3 && pages[index] ? index : -1;
    SendMessageW(m_tabs, TCM_SETCURSEL, index, 0);
    LayoutPages();
}

void CDlgDevOpen::LayoutPages()
{
    CWnd* pages[3] = {m_form.get(), m_paramsXml.get(), m_actionsXml.get()};
    if (m_shown < 0 || !pages[m_shown])
        return;
    RECT r;
    GetClientRect(m_tabs, &r);
    SendMessageW(m_tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
    MapWindowPoints(m_tabs, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    SetWindowPos(pages[m_shown]->GetHwnd(), HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_SHOWWINDOW);
}

void CDlgDevOpen::OnDestroy()
{
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    RECT now;
    GetWindowRect(m_hWnd, &now);
    if (GetWindowPlacement(m_hWnd, &placement) && !EqualRect(&now, &m_initialRect)) {
        m_bench.data.DevOpenRect = placement.rcNormalPosition;
        m_bench.data.ModifiedFlags |= DATA_UI;
    }
    if (m_form && m_form->GetHwnd())
        DestroyWindow(m_form->GetHwnd());
    if (m_paramsXml && m_paramsXml->GetHwnd())
        DestroyWindow(m_paramsXml->GetHwnd());
    if (m_actionsXml && m_actionsXml->GetHwnd())
        DestroyWindow(m_actionsXml->GetHwnd());
}

LRESULT CDlgDevOpen::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_SIZE:
        MoveWindow(m_tabs, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        LayoutPages();
        return TRUE;
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {ScaleForTemplates(500, false), ScaleForTemplates(400, true)};
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(hWnd, 2);
            return TRUE;
        }
        break;
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (hdr->hwndFrom == m_tabs && hdr->code == TCN_SELCHANGE) {
            SelectTab(static_cast<int>(SendMessageW(m_tabs, TCM_GETCURSEL, 0, 0)));
            return TRUE;
        }
        if (hdr->idFrom == IDD_PARAMS_PAGE && m_form && hdr->hwndFrom == m_form->GetHwnd()) {
            bool result = false;
            switch (hdr->code) {
            case PageCommandSave: result = SaveAndOpen(); break;
            case PageCommandDeviceTest: result = DeviceTest(); break;
            case PageCommandAction: result = DoAdditionalAction(reinterpret_cast<NMPAGECOMMAND*>(lParam)->item); break;
            }
            return SetDlgResult(result ? 1 : 0);
        }
        break;
    }
    case WM_DESTROY:
        OnDestroy();
        break;
    }
    return FALSE;
}
