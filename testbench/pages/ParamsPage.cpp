// The device dialog's form page.
#include "ParamsPage.h"
#include "AppMessageBox.h"
#include "BenchStrings.h"
#include "BenchUi.h"
#include "DevOpenRes.h"
#include "ModuleState.h"
#include "XmlParsPage.h"

CParamsPage::CParamsPage(std::vector<DriverParameter>* params, std::vector<DriverAction>* actions)
    : m_params(params), m_actions(actions)
{
}

CParamsPage::~CParamsPage() = default;

BOOL CParamsPage::OnInitDialog()
{
    MakeChild();
    m_tabs = GetItem(IDC_PARAMS_TABS);
    m_captionFont.Reset(MakeFontLike(GetItem(IDC_PARAMS_CAPTION), FW_BOLD, 12, L"Arial"));
    SendItemMessage(IDC_PARAMS_CAPTION, WM_SETFONT, reinterpret_cast<WPARAM>(m_captionFont.Get()), TRUE);
    m_anchors.SetOwner(m_hWnd);
    m_anchors.AddControl(IDC_PARAMS_DRIVER, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_anchors.AddControl(IDC_PARAMS_TABS, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_anchors.AddControl(IDC_PARAMS_SAVE, ANCHOR_LEFT | ANCHOR_BOTTOM);
    m_anchors.AddControl(IDC_PARAMS_FUNCTIONS, ANCHOR_LEFT | ANCHOR_BOTTOM);
    m_anchors.Capture();

    HWND functions = GetItem(IDC_PARAMS_FUNCTIONS);
    if (SendMessageW(functions, CCM_GETVERSION, 0, 0) >= 6) {
        SetWindowLongPtrW(functions, GWL_STYLE, GetWindowLongPtrW(functions, GWL_STYLE) | BS_SPLITBUTTON);
    } else {
        // Without split buttons the arrow is an image beside the caption.
        HIMAGELIST images = ImageList_LoadImageW(ModuleHandle, MAKEINTRESOURCEW(IDB_FUNCTION_ICONS), 16, 0,
                                                 RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
        if (images) {
            m_functionsIcon.Reset(ImageList_GetIcon(images, 4, ILD_NORMAL));
            ImageList_Destroy(images);
            SendMessageW(functions, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(m_functionsIcon.Get()));
        }
    }
    return TRUE;
}

void CParamsPage::SetDriverInfo(const std::wstring& state, const std::wstring& version)
{
    SetDlgItemTextW(m_hWnd, IDC_PARAMS_STATE, state.c_str());
    SetDlgItemTextW(m_hWnd, IDC_PARAMS_VERSION, version.c_str());
}

void CParamsPage::BuildPages(const CMemXML& doc)
{
    for (auto& form : m_forms)
        if (form->GetHwnd())
            DestroyWindow(form->GetHwnd());
    m_forms.clear();
    m_shown = -1;
    SendMessageW(m_tabs, TCM_DELETEALLITEMS, 0, 0);
    const CMXNode* settings = DriverSettingsRoot(doc);
    if (!settings)
        return;
    int number = 0;
    for (const CMXNode* page : settings->Children) {
        ++number;
        if (page->Name != L"Page")
            continue;
        const std::wstring& caption = page->GetAttribute(L"Caption");
        TCITEMW item = {};
        item.mask = TCIF_TEXT | TCIF_PARAM;
        item.pszText = const_cast<wchar_t*>(caption.c_str());
        item.lParam = number;
        const int tab = static_cast<int>(SendMessageW(m_tabs, TCM_INSERTITEMW, m_forms.size(),
                                                      reinterpret_cast<LPARAM>(&item)));
        std::unique_ptr<CXmlParsPage> form(new CXmlParsPage(m_params));
        if (!CreateDialogParamW(ModuleHandle, MAKEINTRESOURCEW(IDD_XMLPARS_PAGE), m_hWnd, CWnd::StaticDlgProc,
                                reinterpret_cast<LPARAM>(form.get()))) {
            SendMessageW(m_tabs, TCM_DELETEITEM, tab, 0);
            continue;
        }
        m_forms.push_back(std::move(form));
        if (m_forms.size() == 1)
            ShowForm(0);
        m_forms.back()->Build(*page);
    }
}

void CParamsPage::ShowForm(int index)
{
    if (m_shown >= 0 && m_shown < FormCount())
        ShowWindow(m_forms[m_shown]->GetHwnd(), SW_HIDE);
    m_shown = index >= 0 && index < FormCount() ? index : -1;
    PlaceForm();
    if (m_shown >= 0)
        SendMessageW(m_tabs, TCM_SETCURSEL, m_shown, 0);
}

void CParamsPage::PlaceForm()
{
    if (m_shown < 0)
        return;
    RECT r;
    GetWindowRect(m_tabs, &r);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    SendMessageW(m_tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
    SetWindowPos(m_forms[m_shown]->GetHwnd(), HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_SHOWWINDOW);
}

std::vector<std::wstring> CParamsPage::MenuItems() const
{
    std::vector<std::wstring> items;
    HMENU menu = LoadMenuW(ModuleHandle, MAKEINTRESOURCEW(IDM_DEVICE_TEST));
    if (menu) {
        wchar_t text[128] = {};
        GetMenuStringW(GetSubMenu(menu, 0), ID_DEVICE_TEST, text, 128, MF_BYCOMMAND);
        items.push_back(text);
        DestroyMenu(menu);
    }
    for (const DriverAction& a : *m_actions)
        items.push_back(a.caption);
    return items;
}

void CParamsPage::ShowActionsMenu()
{
    HMENU menu = LoadMenuW(ModuleHandle, MAKEINTRESOURCEW(IDM_DEVICE_TEST));
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, 0);
    if (!m_actions->empty())
        AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
    for (size_t i = 0; i < m_actions->size(); ++i)
        AppendMenuW(popup, MF_STRING, ID_ACTION_FIRST + i, (*m_actions)[i].caption.c_str());
    RECT button;
    GetWindowRect(GetItem(IDC_PARAMS_FUNCTIONS), &button);
    TPMPARAMS params = {sizeof(params), button};
    TrackPopupMenuEx(popup, TPM_RIGHTBUTTON | TPM_VERTICAL | TPM_NOANIMATION, button.left, button.bottom, m_hWnd,
                     &params);
    DestroyMenu(menu);
}

LRESULT CParamsPage::Notify(UINT code, int item)
{
    NMPAGECOMMAND command = {};
    command.hdr.hwndFrom = m_hWnd;
    command.hdr.idFrom = IDD_PARAMS_PAGE;
    command.hdr.code = code;
    command.item = item;
    return SendMessageW(GetParent(m_hWnd), WM_NOTIFY, IDD_PARAMS_PAGE, reinterpret_cast<LPARAM>(&command));
}

bool CParamsPage::CheckNumbers()
{
    for (int i = 0; i < FormCount(); ++i) {
        HWND bad = m_forms[i]->FirstBadNumber();
        if (!bad)
            continue;
        ShowForm(i);
        AppMessageBox(m_forms[i]->CaptionOf(bad) + L": " + LoadAppString(IDS_BENCH_NOT_A_NUMBER), MB_ICONERROR,
                      GetParent(m_hWnd));
        SetFocus(bad);
        wchar_t cls[16] = {};
        GetClassNameW(bad, cls, 16);
        if (lstrcmpiW(cls, L"ComboBox") == 0)
            SendMessageW(bad, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
        else
            SendMessageW(bad, EM_SETSEL, 0, -1);
        return false;
    }
    return true;
}

void CParamsPage::UpdateData(bool save)
{
    for (auto& form : m_forms)
        form->UpdateData(save);
}

LRESULT CParamsPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_SIZE:
        m_anchors.Apply(LOWORD(lParam), HIWORD(lParam));
        PlaceForm();
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDC_PARAMS_SAVE) {
            Notify(PageCommandSave);
            return TRUE;
        }
        if (id == IDC_PARAMS_FUNCTIONS) {
            ShowActionsMenu();
            return TRUE;
        }
        if (id == ID_DEVICE_TEST) {
            Notify(PageCommandDeviceTest);
            return TRUE;
        }
        if (id >= ID_ACTION_FIRST && id < ID_ACTION_FIRST + static_cast<int>(m_actions->size())) {
            Notify(PageCommandAction, id - ID_ACTION_FIRST);
            return TRUE;
        }
        break;
    }
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (hdr->hwndFrom == m_tabs && hdr->code == TCN_SELCHANGE) {
            ShowForm(static_cast<int>(SendMessageW(m_tabs, TCM_GETCURSEL, 0, 0)));
            return TRUE;
        }
        if (hdr->idFrom == IDC_PARAMS_FUNCTIONS && hdr->code == BCN_DROPDOWN) {
            ShowActionsMenu();
            return TRUE;
        }
        break;
    }
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_DESTROY:
        for (auto& form : m_forms)
            if (form->GetHwnd())
                DestroyWindow(form->GetHwnd());
        break;
    }
    return FALSE;
}
