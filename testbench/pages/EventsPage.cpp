// The events page over the test log.
#include "EventsPage.h"
#include "AppData.h"
#include "BenchStrings.h"
#include "BenchUi.h"
#include "DpiScale.h"
#include "ListViewHelpers.h"
#include "ModuleState.h"
#include "TestHost.h"
#include "TestPageRes.h"
#include <algorithm>

namespace {

// The external events the add-in raises, by the names it gives them in either of its languages
// (the component's language is chosen on this page, not by the program's).
const wchar_t* const kEventNames[] = {
    L"TracksData",  L"NoCard",   L"DriverError",    L"DeviceConnect",        L"DeviceDisconnect",    L"Command",
    L"ДанныеКарты", L"НетКарты", L"ОшибкаДрайвера", L"УстройствоПодключено", L"УстройствоОтключено", L"Комманда"};
// The room a column's text leaves on either side of it.
const int MessageColumnPadding = 14;
// The room the design leaves beside the columns, which the data column does not take.
const int DataColumnSpare = 16;

// The message column's designed width, or more where an event name needs it.
int MessageColumnWidth(HWND list)
{
    int width = ScalePixels(100);
    for (const wchar_t* name : kEventNames) {
        const int text = static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(name)));
        width = std::max(width, text + ScalePixels(MessageColumnPadding));
    }
    return width;
}

} // namespace

CEventsPage::~CEventsPage()
{
    StopListeningToHost(m_bench.host, this, m_listening);
}

BOOL CEventsPage::OnInitDialog()
{
    MakeChild();
    m_anchors.SetOwner(m_hWnd);
    m_anchors.AddControl(IDC_EVENTS_LIST, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_anchors.AddControl(ID_EVENTS_CLEAR, ANCHOR_LEFT | ANCHOR_BOTTOM);
    m_anchors.Capture();

    m_list = GetItem(IDC_EVENTS_LIST);
    SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    m_images.Reset(ImageList_LoadImageW(ModuleHandle, MAKEINTRESOURCEW(IDB_EVENT_LEVELS), 16, 4, RGB(0x80, 0x80, 0),
                                        IMAGE_BITMAP, LR_CREATEDIBSECTION));
    SendMessageW(m_list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(m_images.Get()));
    AddListColumn(m_list, 0, IDS_EVENTS_COL_TIME, ScalePixels(110));
    AddListColumn(m_list, 1, IDS_EVENTS_COL_SOURCE, ScalePixels(80));
    // The add-in's event names are what this list is read for: none is cut short by default.
    const int messageWidth = MessageColumnWidth(m_list);
    const int othersWidth = ScalePixels(306 - 100) + messageWidth;
    AddListColumn(m_list, 2, IDS_EVENTS_COL_MESSAGE, messageWidth);
    AddListColumn(m_list, 3, IDS_EVENTS_COL_DATA, RemainingColumnWidth(m_list, othersWidth));
    ApplyColumnWidths(m_list, m_bench.data.EventsColumns);
    ListView_FitColumnToList(m_list, 3, ScalePixels(DataColumnSpare), ScalePixels(40), m_bench.data.EventsColumns);

    m_view.Attach(&m_bench.log);
    m_view.SetOwner(this, OnViewChanged);
    // The application writes every event and error to the test log; this page hears of them after
    // it (its listeners come later in the host's order) and refreshes on the next tick.
    m_bench.host.AddListener(ListenEvent, this, OnLogWritten);
    m_bench.host.AddListener(ListenError, this, OnLogWritten);
    m_listening = true;
    m_view.Refresh();
    return TRUE;
}

void CEventsPage::OnViewChanged(void* context, CVirtualListViewData*)
{
    static_cast<CEventsPage*>(context)->RefreshList();
}

void CEventsPage::OnLogWritten(void* context, CTestParvel*)
{
    static_cast<CEventsPage*>(context)->MarkLogChanged();
}

void CEventsPage::MarkLogChanged()
{
    m_logChanged = true;
    if (!m_timerRunning && m_hWnd)
        m_timerRunning = SetTimer(m_hWnd, RefreshTimer, 1000, nullptr) != 0;
}

void CEventsPage::RefreshList()
{
    if (!m_list)
        return;
    const int pos = ListView_GetTrackPos(m_list);
    SendMessageW(m_list, LVM_SETITEMCOUNT, m_view.GetItemCount(), LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    ListView_RestoreScrollPos(m_list, pos);
    InvalidateRect(m_list, nullptr, TRUE);
}

void CEventsPage::Clear()
{
    m_bench.log.Clear();
    m_view.Cache().Drop();
    m_view.Refresh();
}

void CEventsPage::OnTimer()
{
    if (m_logChanged) {
        m_logChanged = false;
        m_view.Refresh();
    } else {
        KillTimer(m_hWnd, RefreshTimer);
        m_timerRunning = false;
    }
}

void CEventsPage::SetComponentLanguage(LANGID language)
{
    CTestParvel& host = m_bench.host;
    if (!host.IsLoaded() || !host.Locale() || host.HostLanguage() == language)
        return;
    host.SetHostLanguage(language);
    host.ApplyLanguage();
}

void CEventsPage::OnContextMenu(POINT at)
{
    HMENU menu = LoadMenuW(ModuleHandle, MAKEINTRESOURCEW(IDM_EVENTS_CONTEXT));
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, 0);
    const int primary = PRIMARYLANGID(m_bench.host.HostLanguage());
    if (primary == LANG_ENGLISH || primary == LANG_RUSSIAN)
        CheckMenuRadioItem(popup, ID_EVENTS_ENGLISH, ID_EVENTS_RUSSIAN,
                           primary == LANG_ENGLISH ? ID_EVENTS_ENGLISH : ID_EVENTS_RUSSIAN, MF_BYCOMMAND);
    TrackPopupMenuEx(popup, TPM_RIGHTBUTTON, at.x, at.y, m_hWnd, nullptr);
    DestroyMenu(menu);
}

void CEventsPage::UpdateData(bool save)
{
    if (save && m_list && (m_bench.data.ModifiedFlags & DATA_UI))
        ListView_GetColumnWidths(m_list, m_bench.data.EventsColumns);
}

void CEventsPage::OnDestroy()
{
    if (m_timerRunning)
        KillTimer(m_hWnd, RefreshTimer);
    m_timerRunning = false;
    m_view.SetOwner(nullptr, nullptr);
    StopListeningToHost(m_bench.host, this, m_listening);
}

LRESULT CEventsPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_SIZE:
        m_anchors.Apply(LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_TIMER:
        if (wParam == RefreshTimer)
            OnTimer();
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case ID_EVENTS_CLEAR: Clear(); return TRUE;
        case ID_EVENTS_ENGLISH: SetComponentLanguage(LANG_ENGLISH); return TRUE;
        case ID_EVENTS_RUSSIAN: SetComponentLanguage(LANG_RUSSIAN); return TRUE;
        }
        break;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == m_list) {
            OnContextMenu(ContextMenuPoint(m_list, lParam));
            return TRUE;
        }
        break;
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (hdr->hwndFrom == m_list && m_view.HandleNotify(hdr))
            return TRUE;
        if (hdr->code == HDN_ENDTRACKW)
            m_bench.data.ModifiedFlags |= DATA_UI;
        break;
    }
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_DESTROY:
        OnDestroy();
        break;
    }
    return FALSE;
}
