// The methods page: every method of the loaded add-in, sortable; a method opens the method-call
// dialog, and "Search for readers..." the reader-search dialog.
#pragma once
#include "AddinListPage.h"
#include "TestMethView.h"

class CMethodsPage : public CAddinListPage
{
public:
    explicit CMethodsPage(const BenchContext& bench);
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    void CallMethod();
    void UpdateButtons() override;

    CTestMethView& View() { return m_view; }

private:
    BOOL OnInitDialog() override;
    void OpenSelected() override { CallMethod(); }

    CTestMethView m_view;
};
