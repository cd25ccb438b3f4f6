// The method-call dialog: the method's arguments as a grid (rows type, value and default, one
// column per argument), each editable in the argument dialog; Execute calls the method through the
// test host and writes a timestamped account of the call and the values of all arguments after it.
// The arguments go back into the application's history when one was edited.
#pragma once
#include "AnchorLayout.h"
#include "BenchContext.h"
#include "MethodArgument.h"
#include "VirtualListViewData.h"
#include "Wnd.h"
#include <string>

class CTestParvel;

// The argument grid's adapter: three rows over the dialog's arguments.
class CTestMethArgsView : public CVirtualListViewData
{
public:
    void SetArguments(const MethodArguments* args) { m_args = args; }
    int GetItemCount() override { return 3; }
    void GetDispInfo(NMLVDISPINFOW* info) override;
    void CacheHint(NMLVCACHEHINT*) override {}
    // The cell's text (column 0: the row label).
    std::wstring CellText(int row, int column) const;

private:
    const MethodArguments* m_args = nullptr; // the dialog's
};

class CDlgMethod : public CWnd
{
public:
    CDlgMethod(const BenchContext& bench, uint32_t method) : m_bench(bench), m_host(&bench.host), m_method(method) {}
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    void Execute();
    void AppendOutput(const std::wstring& text);
    // Edits the argument of the selected grid column (1-based) in the argument dialog.
    void EditArgument();
    void SelectCell(int row, int column);
    int SelectedRow() const { return m_selRow; }
    int SelectedColumn() const { return m_selColumn; }

    const MethodArguments& Arguments() const { return m_args; }
    MethodArguments& Arguments() { return m_args; }
    void SetArgumentsChanged() { m_argsChanged = true; }
    const std::wstring& MethodName() const { return m_name; }
    CTestMethArgsView& View() { return m_view; }

private:
    BOOL OnInitDialog();
    LRESULT OnNotify(NMHDR* hdr);
    // A user coming to the grid by key finds a cell chosen (the first argument's value).
    void ChooseCellOnFocus();
    // Left and Right move between the arguments, F2 edits; true for a key taken.
    bool OnGridKey(WORD key);
    void OnDestroy();
    static void RefreshArgList(void* context, CVirtualListViewData* adapter);

    BenchContext m_bench;
    CTestParvel* m_host;
    uint32_t m_method;
    CAnchorLayout m_anchors;
    CTestMethArgsView m_view;
    MethodArguments m_args;
    bool m_argsChanged = false;
    HWND m_grid = nullptr;
    std::wstring m_name;
    int m_selRow = -1;
    int m_selColumn = 0;
    RECT m_initialRect = {};
};
