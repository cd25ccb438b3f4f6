// The method-call dialog and its argument grid.
#include "MethodDialog.h"
#include "AppData.h"
#include "AppMessageBox.h"
#include "AppResource.h"
#include "BenchStrings.h"
#include "BenchUi.h"
#include "DpiScale.h"
#include "ListViewHelpers.h"
#include "MethodArgDialog.h"
#include "MethodArgs.h"
#include "MethodText.h"
#include "MethodsRes.h"
#include "ModuleState.h"
#include "TestHost.h"
#include "TestPropView.h"
#include "UiSeam.h"
#include "VariantHelpers.h"
#include <algorithm>
#include <array>

namespace {

// The grid's row labels, one table for all dialogs, loaded on first use.
const std::array<std::wstring, 3>& RowLabels()
{
    static const std::array<std::wstring, 3> labels = {
        LoadAppString(IDS_ARGS_ROW_TYPE), LoadAppString(IDS_ARGS_ROW_VALUE), LoadAppString(IDS_ARGS_ROW_DEFAULT)};
    return labels;
}

bool IsEmptyRect(const RECT& r)
{
    return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0;
}

} // namespace

std::wstring CTestMethArgsView::CellText(int row, int column) const
{
    if (row < 0 || row > 2)
        return std::wstring();
    if (column == 0)
        return RowLabels()[row];
    const size_t index = static_cast<size_t>(column - 1);
    if (!m_args || index >= m_args->size())
        return row == 0 ? L"?" : L"";
    const MethodArgument& a = (*m_args)[index];
    switch (row) {
    case 0: return TypeName(a.Type, L"?");
    case 1: return a.Value;
    default: return a.Default;
    }
}

void CTestMethArgsView::GetDispInfo(NMLVDISPINFOW* info)
{
    CopyDispText(info, CellText(info->item.iItem, info->item.iSubItem));
}

BOOL CDlgMethod::OnInitDialog()
{
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadIconW(ModuleHandle, MAKEINTRESOURCEW(IDI_APP))));
    m_grid = GetItem(IDC_METHOD_ARGS);
    // Enter edits the chosen cell rather than ending the dialog.
    ListView_WantReturn(m_grid);
    m_anchors.SetOwner(m_hWnd);
    m_anchors.AddControl(IDC_METHOD_ENGLISH, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_anchors.AddControl(IDC_METHOD_RUSSIAN, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_anchors.AddControl(IDC_METHOD_ARGS, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT);
    m_anchors.AddControl(IDC_METHOD_EXECUTE, ANCHOR_RIGHT | ANCHOR_TOP);
    m_anchors.AddControl(IDC_METHOD_OUTPUT, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_anchors.AddControl(IDCANCEL, ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_anchors.Capture();

    m_host->GetMethodName(m_name, m_method, 0);
    SetDlgItemTextW(m_hWnd, IDC_METHOD_ENGLISH, m_name.c_str());
    std::wstring russian;
    m_host->GetMethodName(russian, m_method, 1);
    SetDlgItemTextW(m_hWnd, IDC_METHOD_RUSSIAN, russian.c_str());

    CAppData& app = m_bench.data;
    auto remembered = app.MethodArgs.find(m_name);
    if (remembered != app.MethodArgs.end())
        m_args = remembered->second;
    ILanguageExtenderBase* component = m_host->Extender();
    const long count = component ? component->GetNParams(m_method) : 0;
    std::vector<ArgumentDefault> defaults;
    CVariantArray value(1, m_host->MemoryManager());
    for (long j = 0; j < count; ++j) {
        value.Release(0);
        ArgumentDefault d;
        if (component->GetParamDefValue(m_method, j, &value[0]))
            DefaultArgumentText(value[0], d.type, d.text);
        defaults.push_back(d);
    }
    if (FitArguments(m_args, static_cast<size_t>(count), defaults))
        app.ModifiedFlags |= DATA_UI;

    SendMessageW(m_grid, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.cx = ScalePixels(75);
    column.pszText = const_cast<wchar_t*>(L"");
    SendMessageW(m_grid, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    for (long j = 0; j < count; ++j) {
        std::wstring title = std::to_wstring(j);
        column.pszText = const_cast<wchar_t*>(title.c_str());
        column.iSubItem = static_cast<int>(j + 1);
        SendMessageW(m_grid, LVM_INSERTCOLUMNW, j + 1, reinterpret_cast<LPARAM>(&column));
    }
    ApplyColumnWidths(m_grid, app.MethArgsColumns);
    m_view.SetArguments(&m_args);
    m_view.SetOwner(this, RefreshArgList);
    m_view.FireEvent();

    if (!IsEmptyRect(app.MethodRect))
        SetWindowPos(m_hWnd, nullptr, app.MethodRect.left, app.MethodRect.top, app.MethodRect.right - app.MethodRect.left,
                     app.MethodRect.bottom - app.MethodRect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    else
        CenterWindow();
    GetWindowRect(m_hWnd, &m_initialRect);
    return TRUE;
}

void CDlgMethod::RefreshArgList(void* context, CVirtualListViewData*)
{
    CDlgMethod* dialog = static_cast<CDlgMethod*>(context);
    SendMessageW(dialog->m_grid, LVM_SETITEMCOUNT, 3, 0);
    if (dialog->m_selRow >= 0 && dialog->m_selRow < 3) {
        LVITEMW item = {};
        item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(dialog->m_grid, LVM_SETITEMSTATE, dialog->m_selRow, reinterpret_cast<LPARAM>(&item));
    }
    InvalidateRect(dialog->m_grid, nullptr, TRUE);
}

void CDlgMethod::AppendOutput(const std::wstring& text)
{
    HWND output = GetItem(IDC_METHOD_OUTPUT);
    const std::wstring line = OutputLine(LocalNow(), text);
    const int length = GetWindowTextLengthW(output);
    SendMessageW(output, EM_SETSEL, length, length);
    SendMessageW(output, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
    SetFocus(output);
}

void CDlgMethod::Execute()
{
    ILanguageExtenderBase* component = m_host->Extender();
    if (!component)
        return;
    const bool hasReturn = component->HasRetVal(m_method);
    const long count = component->GetNParams(m_method);
    CVariantArray result(1, m_host->MemoryManager());
    CVariantArray params(count > 0 ? count : 0, m_host->MemoryManager());
    try {
        for (long i = 0; i < count && i < static_cast<long>(m_args.size()); ++i) {
            // A stored BLOB text that is no bytes is not sent as bytes nobody wrote.
            if (m_args[i].Type == VTYPE_BLOB && !IsBlobText(m_args[i].Value)) {
                AppendOutput(LoadAppString(IDS_BENCH_BLOB_NOT_HEX));
                return;
            }
            params.Parse(i, m_args[i].Type, m_args[i].Value.c_str());
        }
        AppendOutput(LoadAppString(IDS_METHOD_CALL));
        tVariant* items = count > 0 ? params.Items() : nullptr;
        if (hasReturn)
            m_host->CallAsFunc(m_name.c_str(), &result[0], items, count);
        else
            m_host->CallAsProc(m_name.c_str(), items, count);
        for (const std::wstring& line : ExecuteResultLines(hasReturn, result[0], items, count, m_host))
            AppendOutput(line);
    } catch (const std::exception& e) {
        AppendOutput(ErrorTextForOutput(e));
    }
}

void CDlgMethod::SelectCell(int row, int column)
{
    if (row == m_selRow && column == m_selColumn)
        return;
    m_selRow = row;
    m_selColumn = column;
    InvalidateRect(m_grid, nullptr, TRUE);
}

void CDlgMethod::ChooseCellOnFocus()
{
    if (m_args.empty() || (m_selRow >= 0 && m_selColumn >= 1))
        return;
    if (m_selColumn < 1)
        m_selColumn = 1;
    if (m_selRow < 0) {
        // The first argument's value: what a user comes to the grid for most.
        LVITEMW item = {};
        item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(m_grid, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&item));
    }
    InvalidateRect(m_grid, nullptr, TRUE);
}

bool CDlgMethod::OnGridKey(WORD key)
{
    const int count = static_cast<int>(m_args.size());
    switch (key) {
    case VK_LEFT:
    case VK_RIGHT: {
        if (count == 0 || m_selRow < 0)
            return false;
        const int column = std::max(1, std::min(count, m_selColumn + (key == VK_LEFT ? -1 : 1)));
        SelectCell(m_selRow, column);
        RECT cell = {};
        cell.top = column;
        cell.left = LVIR_BOUNDS;
        RECT client;
        GetClientRect(m_grid, &client);
        if (SendMessageW(m_grid, LVM_GETSUBITEMRECT, m_selRow, reinterpret_cast<LPARAM>(&cell))) {
            if (cell.right > client.right)
                SendMessageW(m_grid, LVM_SCROLL, std::min(cell.right - client.right, cell.left), 0);
            else if (cell.left < 0)
                SendMessageW(m_grid, LVM_SCROLL, cell.left, 0);
        }
        return true;
    }
    case VK_F2:
        if (m_selRow >= 0 && m_selColumn >= 1)
            EditArgument();
        return true;
    }
    return false;
}

void CDlgMethod::EditArgument()
{
    const int k = m_selColumn;
    if (k < 1 || k > static_cast<int>(m_args.size()))
        return;
    MethodArgument& a = m_args[k - 1];
    CDlgMethArg dialog;
    dialog.Number = k - 1;
    dialog.Type = a.Type;
    dialog.Value = a.Value;
    dialog.DefaultType = a.DefaultType;
    dialog.Default = a.Default;
    if (AppDialogBox(dialog, IDD_METHOD_ARG, m_hWnd) != IDOK)
        return;
    a.Type = dialog.Type;
    a.Value = dialog.Value;
    m_argsChanged = true;
    m_view.FireEvent();
}

LRESULT CDlgMethod::OnNotify(NMHDR* hdr)
{
    if (m_view.HandleNotify(hdr))
        return TRUE;
    switch (hdr->code) {
    case LVN_ITEMCHANGED: {
        NMLISTVIEW* change = reinterpret_cast<NMLISTVIEW*>(hdr);
        if (((change->uOldState ^ change->uNewState) & LVIS_SELECTED) && change->iItem >= 0 && change->iItem < 3 &&
            (change->uNewState & LVIS_SELECTED))
            m_selRow = change->iItem;
        return TRUE;
    }
    case NM_CUSTOMDRAW: {
        NMLVCUSTOMDRAW* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(hdr);
        switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return SetDlgResult(CDRF_NOTIFYITEMDRAW);
        case CDDS_ITEMPREPAINT:
            draw->nmcd.uItemState &= ~CDIS_SELECTED;
            return SetDlgResult(CDRF_NOTIFYSUBITEMDRAW);
        case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
            const int row = static_cast<int>(draw->nmcd.dwItemSpec);
            const bool selected = row == m_selRow && draw->iSubItem == m_selColumn &&
                                  (SendMessageW(m_grid, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED);
            draw->clrText = GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
            draw->clrTextBk = GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW);
            return SetDlgResult(CDRF_NEWFONT);
        }
        }
        return SetDlgResult(CDRF_DODEFAULT);
    }
    case NM_CLICK:
    case NM_DBLCLK: {
        NMITEMACTIVATE* activate = reinterpret_cast<NMITEMACTIVATE*>(hdr);
        LVHITTESTINFO hit = {};
        hit.pt = activate->ptAction;
        SendMessageW(m_grid, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        SelectCell(hit.iItem, hit.iItem >= 0 ? hit.iSubItem : m_selColumn);
        if (hdr->code == NM_DBLCLK) {
            if (!(hit.flags & LVHT_ONITEMSTATEICON) && m_selColumn >= 1 && m_selRow >= 0)
                EditArgument();
            return SetDlgResult(TRUE);
        }
        return TRUE;
    }
    case NM_RETURN:
        if (m_selRow >= 0 && m_selColumn >= 1)
            EditArgument();
        return TRUE;
    case NM_SETFOCUS:
        ChooseCellOnFocus();
        return TRUE;
    case LVN_KEYDOWN:
        OnGridKey(reinterpret_cast<NMLVKEYDOWN*>(hdr)->wVKey);
        return TRUE;
    }
    return FALSE;
}

void CDlgMethod::OnDestroy()
{
    CAppData& app = m_bench.data;
    if (app.ModifiedFlags & DATA_UI)
        ListView_GetColumnWidths(m_grid, app.MethArgsColumns);
    if (m_argsChanged) {
        app.SetMethodArgs(m_name, m_args);
        app.ModifiedFlags |= DATA_UI;
    }
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    RECT now;
    GetWindowRect(m_hWnd, &now);
    if (GetWindowPlacement(m_hWnd, &placement) && !EqualRect(&now, &m_initialRect)) {
        app.MethodRect = placement.rcNormalPosition;
        app.ModifiedFlags |= DATA_UI;
    }
    m_view.SetOwner(nullptr, nullptr);
}

LRESULT CDlgMethod::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL: EndDialog(hWnd, LOWORD(wParam)); return TRUE;
        case IDC_METHOD_EXECUTE: Execute(); return TRUE;
        }
        break;
    case WM_SIZE:
        m_anchors.Apply(LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (hdr->code == HDN_ENDTRACKW) {
            m_bench.data.ModifiedFlags |= DATA_UI;
            break;
        }
        if (hdr->hwndFrom == m_grid)
            return OnNotify(hdr);
        break;
    }
    case WM_DESTROY:
        OnDestroy();
        break;
    }
    return FALSE;
}
