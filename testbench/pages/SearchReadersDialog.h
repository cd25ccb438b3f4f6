// The reader-search dialog: runs the add-in's search step by step on a timer, listing each reader
// found, until the add-in reports no more readers, an error, or the user aborts or closes.
// Every way out of a running search calls the add-in's FindClose.
#pragma once
#include "Wnd.h"

class CTestParvel;

class CSearchReaders : public CWnd
{
public:
    static const UINT_PTR StepTimer = 1;

    explicit CSearchReaders(CTestParvel& host) : m_host(host) {}

    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;

    void Start();
    void Step();
    void Stop();
    bool Searching() const { return m_searching; }
    int Found() const { return m_found; }

private:
    void UpdateButtons();
    void SetStatus(const std::wstring& text);

    CTestParvel& m_host;
    bool m_searching = false;
    int m_found = 0;
};
