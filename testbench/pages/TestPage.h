// The test page: loads and unloads the add-in through the test host, opens, closes and reconnects
// devices, and lists the open devices with their states (refreshed every second while any is open).
// Its inner tabs hold the events, properties and methods pages, each created when first shown.
#pragma once
#include "AnchorLayout.h"
#include "BenchContext.h"
#include "DeviceList.h"
#include "Wnd.h"
#include <array>

class CTestParvel;
class CEventsPage;

class CTestPage : public CAppPage
{
public:
    static const UINT_PTR StatusTimer = 1;
    static const int InnerPageCount = 3;

    explicit CTestPage(const BenchContext& bench) : m_bench(bench) {}
    ~CTestPage() override;

    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void UpdateData(bool save) override;

    // Set by the application's Save, cleared by its Load: the next Reconnect first makes the
    // add-in reload its settings.
    void SetSettingsChanged(bool changed) { m_settingsChanged = changed; }
    bool SettingsChanged() const { return m_settingsChanged; }

    void OnLoadUnload();
    void OnOpen();
    void OnClose();
    void OnReconnect();
    // The host's open-device list changed (or the status timer ticked).
    void OnHostChanged();
    void RefreshDevices();
    void ShowInnerPage(int index);

    const CDeviceList& Devices() const { return m_devices; }
    CAppPage* InnerPage(int index) const { return index >= 0 && index < InnerPageCount ? m_pages[index] : nullptr; }
    CEventsPage* EventsPage() const;
    int ShownPage() const { return m_shown; }
    bool StatusTimerRunning() const { return m_timerRunning; }

    // The test page of the running program, or null while it has not been shown.
    static CTestPage* Current() { return s_current; }

private:
    BOOL OnInitDialog();
    void UpdateLoadButton();
    void UpdateButtons();
    void PlaceChildPage();
    void StopTimer();
    void OnDestroy();
    static void OnDevicesChanged(void* context, CTestParvel* host);

    BenchContext m_bench;
    CAnchorLayout m_anchors;
    HWND m_tabs = nullptr;
    HWND m_combo = nullptr;
    bool m_settingsChanged = false;
    int m_shown = -1;
    std::array<CAppPage*, InnerPageCount> m_pages = {};
    CDeviceList m_devices;
    bool m_timerRunning = false;
    bool m_listening = false;
    static CTestPage* s_current;
};
