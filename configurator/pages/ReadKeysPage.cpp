// The read-keys page (see ReadKeysPage.h).
#include "ReadKeysPage.h"
#include "App.h"
#include "AppMessageBox.h"
#include "KeyTypeTexts.h"
#include "KeyTypesRes.h"
#include "ListViewHelpers.h"
#include "PageRefusal.h"
#include "ReadKeysPageRes.h"
#include "ReadKeysRules.h"
#include "WFormat.h"
#include <cstdlib>
#include <string>

namespace {

void FillNumbers(HWND combo, uint32_t first, uint32_t count)
{
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (uint32_t i = 0; i < count; ++i)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_wstring(first + i).c_str()));
}

// Selects item `value`; a value beyond the list shows no selection. (Wine's combo box keeps its
// old selection for an index past its end, where Windows clears it, so the index is checked here.)
void SelectIndex(HWND combo, uint32_t value)
{
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    SendMessageW(combo, CB_SETCURSEL, value < static_cast<uint64_t>(count) ? static_cast<WPARAM>(value) : static_cast<WPARAM>(-1), 0);
}

} // namespace

void CReadKeysPage::OnInitDialog()
{
    MakeChild();
    ListView_InitCheckList(GetItem(IDC_KEY_TYPES_LIST));
    ListView_InitCheckList(GetItem(IDC_MF_KEY_CELLS));
    m_keyTypes.SetOwner(GetItem(IDC_KEY_TYPES_LIST), &CVirtualListViewData::ShowCountIn);
    m_keyCells.SetOwner(GetItem(IDC_MF_KEY_CELLS), &CVirtualListViewData::ShowCountIn);

    FillNumbers(GetItem(IDC_MF_SECTOR), 0, MIFARE_SECTORS);
    // The key cells take the key edit's place: only one of the two is shown at a time.
    RECT edit;
    GetWindowRect(GetItem(IDC_MF_KEY), &edit);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&edit), 2);
    SetWindowPos(GetItem(IDC_MF_KEY_CELLS), nullptr, edit.left, edit.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    FillNumbers(GetItem(IDC_UL_PAGE), 0, ULTRALIGHT_PAGES);
    FillNumbers(GetItem(IDC_UL_COUNT), 1, ULTRALIGHT_MAX_COUNT);

    m_anchors.SetOwner(m_hWnd);
    for (int id : {IDC_KEY_TYPES_GROUP, IDC_MF_GROUP, IDC_UL_GROUP, IDC_KEY_TYPES_LIST, IDC_MF_KEY_CELLS})
        m_anchors.AddControl(id, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_anchors.Capture();

    RECT group;
    GetWindowRect(GetItem(IDC_UL_GROUP), &group);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&group), 2);
    m_scroller.SetOwner(m_hWnd);
    m_scroller.SetContentSize(0, group.bottom + 8);
    if (IsWindow(m_hWnd))
        m_scroller.Update();
    UpdateData(false);
}

void CReadKeysPage::Layout(int width, int height)
{
    m_scroller.Update();
    // The scroll bar that Update shows or hides changes the client area after WM_SIZE reported it.
    RECT client;
    if (GetClientRect(m_hWnd, &client)) {
        width = client.right;
        height = client.bottom;
    }
    m_anchors.Apply(width, height);
}

int CReadKeysPage::Selection(int id) const
{
    return static_cast<int>(SendItemMessage(id, CB_GETCURSEL));
}

void CReadKeysPage::UpdateData(bool save)
{
    CConfigParvelApp& app = GetApp();
    if (save) {
        app.ReadMf.Enabled = IsChecked(IDC_MF_ENABLED) ? 1 : 0;
        TakeSelection(Selection(IDC_MF_SECTOR), app.ReadMf.Sect);
        TakeSelection(Selection(IDC_MF_BLOCK), app.ReadMf.Block);
        app.ReadMf.Flags = (app.ReadMf.Flags & ~1u) | (IsChecked(IDC_MF_KEY_B) ? 1u : 0u);
        app.ReadMf.Flags = (app.ReadMf.Flags & ~2u) | (IsChecked(IDC_MF_SOURCE_MEMORY) ? 2u : 0u);
        ReadKey();
        app.ReadUL.Enabled = IsChecked(IDC_UL_ENABLED) ? 1 : 0;
        TakeSelection(Selection(IDC_UL_PAGE), app.ReadUL.Page);
        TakeSelection(Selection(IDC_UL_COUNT), app.ReadUL.Count, 1);
        return;
    }
    ++m_loading;
    m_keyTypes.Mask = app.KeyTypes;
    m_keyTypes.FillCache();
    m_keyTypes.FireEvent();
    SetCheck(IDC_MF_ENABLED, app.ReadMf.Enabled != 0);
    CheckRadioButton(m_hWnd, IDC_MF_KEY_A, IDC_MF_KEY_B, (app.ReadMf.Flags & 1) ? IDC_MF_KEY_B : IDC_MF_KEY_A);
    ShowKeySource();
    SelectIndex(GetItem(IDC_MF_SECTOR), app.ReadMf.Sect);
    SetDlgItemTextW(m_hWnd, IDC_MF_KEY, MifareKeyText(app.ReadMf.Passw).c_str());
    FillBlocks();
    m_keyCells.Mask = app.ReadMf.Mask;
    m_keyCells.FillCache();
    m_keyCells.FireEvent();
    SetCheck(IDC_UL_ENABLED, app.ReadUL.Enabled != 0);
    SelectIndex(GetItem(IDC_UL_PAGE), app.ReadUL.Page);
    SelectIndex(GetItem(IDC_UL_COUNT), app.ReadUL.Count - 1);
    --m_loading;
    EnableMfControls();
    EnableUlControls();
}

void CReadKeysPage::ReadKey()
{
    std::wstring text;
    GetDlgItemText(IDC_MF_KEY, text);
    uint64_t key = GetApp().ReadMf.Passw;
    // A key the text does not hold exactly is refused as the add-in refuses it: the stored key
    // stays and the Save that asked for it stops, so that it cannot report success over a key the
    // user did not type.
    if (!ParseMifareKey(text, key))
        throw RefuseKey();
    GetApp().ReadMf.Passw = key;
}

CPageRefusal CReadKeysPage::RefuseKey() const
{
    // The key edit has no label of its own: it is the value of "Password:", the label before the
    // source choice. Where the edit cannot take the focus, the control that brings it back does.
    // (The edit's own style: the page itself may be hidden behind another one when Save is asked.)
    HWND edit = GetItem(IDC_MF_KEY);
    HWND focus = edit;
    if (!IsWindowEnabled(edit))
        focus = GetItem(IDC_MF_ENABLED);
    else if (!(GetWindowLongW(edit, GWL_STYLE) & WS_VISIBLE))
        focus = GetItem(IDC_MF_SOURCE_VALUE);
    std::wstring text;
    FormatString(text, LoadAppString(IDS_MIFARE_KEY_INVALID).c_str(),
                 FieldName(LabelBefore(GetItem(IDC_MF_SOURCE_VALUE))).c_str());
    return CPageRefusal(text, focus);
}

void CReadKeysPage::ShowKeySource()
{
    ++m_loading;
    const bool memory = (GetApp().ReadMf.Flags & 2) != 0;
    CheckRadioButton(m_hWnd, IDC_MF_SOURCE_VALUE, IDC_MF_SOURCE_MEMORY, memory ? IDC_MF_SOURCE_MEMORY : IDC_MF_SOURCE_VALUE);
    ShowItem(IDC_MF_KEY, !memory);
    ShowItem(IDC_MF_KEY_CELLS, memory);
    --m_loading;
}

void CReadKeysPage::FillBlocks()
{
    ReadMfSettings& mf = GetApp().ReadMf;
    // A block the sector lacks would be shown as nothing while the reader reads another one.
    mf.Block = BlockInSector(mf.Sect, mf.Block);
    FillNumbers(GetItem(IDC_MF_BLOCK), 0, BlocksInSector(mf.Sect));
    SelectIndex(GetItem(IDC_MF_BLOCK), mf.Block);
}

void CReadKeysPage::EnableWithLabel(int id, bool enable)
{
    HWND control = GetItem(id);
    EnableWindow(control, enable);
    if (HWND label = GetWindow(control, GW_HWNDPREV))
        EnableWindow(label, enable);
}

void CReadKeysPage::EnableMfControls()
{
    const bool on = GetApp().ReadMf.Enabled != 0;
    for (int id : {IDC_MF_KEY_A, IDC_MF_KEY_B, IDC_MF_SOURCE_VALUE, IDC_MF_SOURCE_MEMORY, IDC_MF_KEY, IDC_MF_KEY_CELLS})
        EnableItem(id, on);
    EnableWithLabel(IDC_MF_SECTOR, on);
    EnableWithLabel(IDC_MF_BLOCK, on);
}

void CReadKeysPage::EnableUlControls()
{
    const bool on = GetApp().ReadUL.Enabled != 0;
    EnableWithLabel(IDC_UL_PAGE, on);
    EnableWithLabel(IDC_UL_COUNT, on);
}

void CReadKeysPage::OnCommand(int id, int code)
{
    if (m_loading > 0)
        return;
    CConfigParvelApp& app = GetApp();
    switch (id) {
    case IDC_MF_SOURCE_VALUE:
    case IDC_MF_SOURCE_MEMORY:
        if (code != BN_CLICKED)
            return;
        app.ReadMf.Flags = (app.ReadMf.Flags & ~2u) | (id == IDC_MF_SOURCE_MEMORY ? 2u : 0u);
        app.ModifiedFlags |= DATA_ADDIN;
        ShowKeySource();
        return;
    case IDC_MF_KEY_A:
    case IDC_MF_KEY_B:
        if (code != BN_CLICKED)
            return;
        app.ReadMf.Flags = (app.ReadMf.Flags & ~1u) | (id == IDC_MF_KEY_B ? 1u : 0u);
        app.ModifiedFlags |= DATA_ADDIN;
        return;
    case IDC_MF_KEY:
        // The key itself is read when the page is stored; an edit only marks the settings.
        if (code == EN_CHANGE)
            app.ModifiedFlags |= DATA_ADDIN;
        return;
    case IDC_MF_ENABLED:
        app.ReadMf.Enabled = IsChecked(IDC_MF_ENABLED) ? 1 : 0;
        app.ModifiedFlags |= DATA_ADDIN;
        EnableMfControls();
        return;
    case IDC_UL_ENABLED:
        app.ReadUL.Enabled = IsChecked(IDC_UL_ENABLED) ? 1 : 0;
        app.ModifiedFlags |= DATA_ADDIN;
        EnableUlControls();
        return;
    case IDC_MF_SECTOR:
        if (code != CBN_SELCHANGE)
            return;
        TakeSelection(Selection(IDC_MF_SECTOR), app.ReadMf.Sect);
        app.ModifiedFlags |= DATA_ADDIN;
        FillBlocks();
        return;
    case IDC_MF_BLOCK:
    case IDC_UL_PAGE:
    case IDC_UL_COUNT:
        if (code != CBN_SELCHANGE)
            return;
        if (id == IDC_MF_BLOCK)
            TakeSelection(Selection(id), app.ReadMf.Block);
        else if (id == IDC_UL_PAGE)
            TakeSelection(Selection(id), app.ReadUL.Page);
        else
            TakeSelection(Selection(id), app.ReadUL.Count, 1);
        app.ModifiedFlags |= DATA_ADDIN;
        return;
    case ID_KEY_TYPES_CHECK_ALL:
    case ID_KEY_TYPES_UNCHECK_ALL:
        app.KeyTypes = id == ID_KEY_TYPES_CHECK_ALL ? ALL_KEY_TYPES : 0;
        app.ModifiedFlags |= DATA_ADDIN;
        m_keyTypes.Mask = app.KeyTypes;
        m_keyTypes.FillCache();
        m_keyTypes.FireEvent();
        return;
    case ID_CELLS_CHECK_ALL:
    case ID_CELLS_UNCHECK_ALL:
        app.ReadMf.Mask = id == ID_CELLS_CHECK_ALL ? 0xFFFFFFFFu : 0;
        app.ModifiedFlags |= DATA_ADDIN;
        m_keyCells.Mask = app.ReadMf.Mask;
        m_keyCells.FillCache();
        m_keyCells.FireEvent();
        return;
    default:
        return;
    }
}

bool CReadKeysPage::OnListNotify(int id, NMHDR* hdr)
{
    CVirtualListViewData& adapter = id == IDC_KEY_TYPES_LIST ? static_cast<CVirtualListViewData&>(m_keyTypes)
                                                             : static_cast<CVirtualListViewData&>(m_keyCells);
    if (adapter.HandleNotify(hdr))
        return true;
    if (hdr->code == LVN_KEYDOWN)
        return ListView_SpaceTogglesChecks(hdr->hwndFrom, hdr, [&](int row) { ToggleRow(id, row); });
    if (hdr->code != NM_CLICK)
        return false;
    NMITEMACTIVATE* click = reinterpret_cast<NMITEMACTIVATE*>(hdr);
    LVHITTESTINFO hit = {};
    hit.pt = click->ptAction;
    const int row = static_cast<int>(SendMessageW(hdr->hwndFrom, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (row >= 0 && hit.flags == LVHT_ONITEMSTATEICON)
        ToggleRow(id, row);
    return true;
}

void CReadKeysPage::ToggleRow(int id, int row)
{
    CConfigParvelApp& app = GetApp();
    if (id == IDC_KEY_TYPES_LIST) {
        if (!m_keyTypes.ToggleRow(row, app.KeyTypes))
            return;
        m_keyTypes.Mask = app.KeyTypes;
    } else {
        app.ReadMf.Mask ^= 1u << (m_keyCells.GetRow(row).Cell & 31);
        m_keyCells.Mask = app.ReadMf.Mask;
    }
    app.ModifiedFlags |= DATA_ADDIN;
    SendItemMessage(id, LVM_REDRAWITEMS, row, row);
}

void CReadKeysPage::OnMouseWheel(int delta)
{
    if (m_scroller.VerticalPage() == 0 || m_scroller.VerticalPage() >= m_scroller.ContentHeight())
        return;
    UINT lines = 3;
    SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    if (lines == WHEEL_PAGESCROLL) {
        m_scroller.OnVScroll(delta > 0 ? SB_PAGEUP : SB_PAGEDOWN, 0, nullptr);
        return;
    }
    const int notches = std::abs(delta) / WHEEL_DELTA;
    const int n = notches * static_cast<int>(lines);
    const int steps = n >= 6 ? n / 3 : 1;
    for (int i = 0; i < steps; ++i)
        m_scroller.OnVScroll(delta > 0 ? SB_LINEUP : SB_LINEDOWN, 0, nullptr);
}

LRESULT CReadKeysPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE;
    case WM_SIZE:
        DefaultProc();
        Layout(LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        if ((hdr->idFrom == IDC_KEY_TYPES_LIST || hdr->idFrom == IDC_MF_KEY_CELLS) &&
            OnListNotify(static_cast<int>(hdr->idFrom), hdr))
            return SetDlgResult(0);
        return FALSE;
    }
    case WM_CONTEXTMENU: {
        HWND target = reinterpret_cast<HWND>(wParam);
        if (target == GetItem(IDC_KEY_TYPES_LIST))
            ShowPopupMenu(IDM_KEY_TYPES, m_hWnd, ContextMenuPoint(target, lParam));
        else if (target == GetItem(IDC_MF_KEY_CELLS))
            ShowPopupMenu(IDM_KEY_CELLS, m_hWnd, ContextMenuPoint(target, lParam));
        else
            return DefaultProc();
        return TRUE;
    }
    case WM_VSCROLL:
        DefaultProc();
        m_scroller.OnVScroll(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return TRUE;
    case WM_MOUSEWHEEL:
        DefaultProc();
        OnMouseWheel(GET_WHEEL_DELTA_WPARAM(wParam));
        return TRUE;
    case WM_DESTROY:
        m_keyTypes.SetOwner(nullptr, nullptr);
        m_keyCells.SetOwner(nullptr, nullptr);
        m_scroller.SetOwner(nullptr);
        DefaultProc();
        return FALSE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    default:
        return FALSE;
    }
}
