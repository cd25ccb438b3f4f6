// The methods page.
#include "MethodsPage.h"
#include "BenchStrings.h"
#include "BenchUi.h"
#include "MethodDialog.h"
#include "MethodsRes.h"
#include "SearchReadersDialog.h"
#include "TestHost.h"
#include "TestPageRes.h"
#include "UiSeam.h"

namespace {
const int DefaultWidths[MethodColumns] = {30, 110, 205, 40, 35, 0};
}

CMethodsPage::CMethodsPage(const BenchContext& bench)
    : CAddinListPage(bench, m_view, &CAppData::MethodsSortColumn, &CAppData::MethodsColumns)
{
}

BOOL CMethodsPage::OnInitDialog()
{
    InitList(IDC_METHS_LIST, {IDC_METHS_REFRESH, IDC_METHS_SEARCH}, IDS_METHS_COL_FIRST, DefaultWidths, MethodColumns);
    return TRUE;
}

void CMethodsPage::UpdateButtons()
{
    const bool loaded = m_bench.host.IsLoaded();
    EnableItem(IDC_METHS_REFRESH, loaded);
    EnableItem(IDC_METHS_SEARCH, loaded);
}

void CMethodsPage::CallMethod()
{
    const int row = SelectedRow();
    if (row < 0 || row >= static_cast<int>(m_view.Rows().size()))
        return;
    CDlgMethod dialog(m_bench, m_view.Rows()[row].index);
    AppDialogBox(dialog, IDD_METHOD, m_hWnd);
}

LRESULT CMethodsPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case IDC_METHS_REFRESH: Refresh(); return TRUE;
        case IDC_METHS_SEARCH: {
            CSearchReaders dialog(m_bench.host);
            AppDialogBox(dialog, IDD_SEARCH_READERS, m_hWnd);
            return TRUE;
        }
        }
    }
    return CAddinListPage::DialogProc(hWnd, message, wParam, lParam);
}
