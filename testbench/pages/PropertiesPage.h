// The properties page: every property of the loaded add-in, sortable, with the property dialog and
// the add-in's LoadSettings and SaveSettings procedures.
#pragma once
#include "AddinListPage.h"
#include "TestPropView.h"

class CPropertiesPage : public CAddinListPage
{
public:
    explicit CPropertiesPage(const BenchContext& bench);
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    void UpdateButtons() override;
    void EditProperty();

    CTestPropView& View() { return m_view; }

private:
    BOOL OnInitDialog() override;
    LRESULT OnNotify(NMHDR* hdr) override;
    void OpenSelected() override { EditProperty(); }

    CTestPropView m_view;
    bool m_buttonsPending = false;
};
