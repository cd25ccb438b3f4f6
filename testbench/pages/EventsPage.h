// The events page: the test log newest first, refreshed by a timer while lines keep arriving, with
// Clear and the choice of the component's language in its context menu.
#pragma once
#include "AnchorLayout.h"
#include "BenchContext.h"
#include "GdiHandles.h"
#include "TestLogView.h"
#include "Wnd.h"

class CEventsPage : public CAppPage
{
public:
    static const UINT_PTR RefreshTimer = 1;

    explicit CEventsPage(const BenchContext& bench) : m_bench(bench) {}
    ~CEventsPage() override;

    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void UpdateData(bool save) override;

    // A line was written to the test log: refresh at the next tick.
    void MarkLogChanged();
    void RefreshList();
    void Clear();
    // English (9) or Russian (25) for the component: only while it is loaded and differs.
    void SetComponentLanguage(LANGID language);

    HWND List() const { return m_list; }
    CTestLogView& View() { return m_view; }
    bool TimerRunning() const { return m_timerRunning; }

private:
    BOOL OnInitDialog();
    void OnTimer();
    // The menu at a screen point.
    void OnContextMenu(POINT at);
    void OnDestroy();
    static void OnViewChanged(void* context, CVirtualListViewData* adapter);
    static void OnLogWritten(void* context, CTestParvel* host);

    BenchContext m_bench;
    CAnchorLayout m_anchors;
    HWND m_list = nullptr;
    CTestLogView m_view;
    CImageListHandle m_images;
    bool m_timerRunning = false;
    bool m_logChanged = false;
    bool m_listening = false;
};
