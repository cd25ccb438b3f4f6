// The sound page (see SoundPage.h).
#include "SoundPage.h"
#include "App.h"
#include "AppMessageBox.h"
#include "EditableList.h"
#include "DpiScale.h"
#include "FileHelpers.h"
#include "ListViewHelpers.h"
#include "MediaFileList.h"
#include "ModuleState.h"
#include "FormatsPageRes.h"
#include "SoundPageRes.h"
#include "SoundPlayer.h"
#include "WFormat.h"
#include "Exceptions.h"
#include <shellapi.h>
#include <algorithm>

namespace {

const UINT_PTR EditTimer = 1;
const int SoundPageIndex = 3;
const DWORD EditDelayMs = 500;
// What a list view's first column needs beside its text: the label's margins on both sides.
const int EventColumnPadding = 14;
// The room the design leaves beside the columns, which the file column does not take.
const int FileColumnSpare = 220;
// Posted when a row lost the focus or the selection: the current cell is given up only if the
// list still has another row focused once it has finished the click that caused the change.
const UINT CheckCurrentRow = WM_USER + 2;

HIMAGELIST SoundImages()
{
    // One image list for the program's life; the list view shares it (LVS_SHAREIMAGELISTS).
    static HIMAGELIST images = ImageList_LoadImageW(ModuleHandle, MAKEINTRESOURCEW(IDB_SOUND_IMAGES), 16, 4,
                                                    RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
    return images;
}

} // namespace

void PlayEventSound(int row)
{
    CConfigParvelApp& app = GetApp();
    if (row < 0 || row >= SOUND_EVENT_COUNT)
        return;
    if (AppSoundPlayer().Play(row, app.SoundFiles[static_cast<size_t>(row)], CWnd::GetMainWindow()))
        RedrawSoundList();
}

void StopEventSound()
{
    if (AppSoundPlayer().Stop())
        RedrawSoundList();
}

void RedrawSoundList()
{
    if (!HasApp())
        return;
    CAppPage* page = GetApp().GetPage(SoundPageIndex);
    if (page && page->GetHwnd())
        SendDlgItemMessageW(page->GetHwnd(), IDC_SOUND_LIST, LVM_REDRAWITEMS, 0, SOUND_EVENT_COUNT - 1);
}

void OnMediaSoundEnded()
{
    AppSoundPlayer().MediaEnded();
    RedrawSoundList();
}

void CSoundPage::OnListChangedThunk(void* context, CVirtualListViewData*)
{
    static_cast<CSoundPage*>(context)->OnListChanged();
}

void CSoundPage::OnListChanged()
{
    const int track = ListView_GetTrackPos(m_list);
    SendMessageW(m_list, LVM_SETITEMCOUNT, m_view.GetItemCount(), 0);
    ListView_RestoreScrollPos(m_list, track);
    InvalidateRect(m_list, nullptr, TRUE);
}

void CSoundPage::OnInitDialog()
{
    CConfigParvelApp& app = GetApp();
    MakeChild();
    m_list = GetItem(IDC_SOUND_LIST);
    m_anchors.SetOwner(m_hWnd);
    m_anchors.AddControl(IDC_SOUND_LIST, ANCHOR_LEFT | ANCHOR_TOP | ANCHOR_RIGHT | ANCHOR_BOTTOM);
    m_anchors.Capture();
    SetWindowLongPtrW(m_list, GWL_STYLE, GetWindowLongPtrW(m_list, GWL_STYLE) | LVS_SHAREIMAGELISTS | WS_CLIPSIBLINGS);
    SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_SUBITEMIMAGES | LVS_EX_FULLROWSELECT,
                 LVS_EX_SUBITEMIMAGES | LVS_EX_FULLROWSELECT);
    SendMessageW(m_list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(SoundImages()));
    ListView_WantReturn(m_list);
    HWND editor = GetItem(IDC_SOUND_EDITOR);
    SetWindowLongPtrW(editor, GWL_STYLE, GetWindowLongPtrW(editor, GWL_STYLE) | WS_CLIPSIBLINGS);

    // The event column is at least as wide as its longest name needs (in either language some
    // names are longer than its designed 150 pixels); the file column takes what the others leave.
    int eventWidth = ScalePixels(150);
    for (int row = 0; row < SOUND_EVENT_COUNT; ++row) {
        const int text = static_cast<int>(
            SendMessageW(m_list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(SoundEventName(row).c_str())));
        eventWidth = std::max(eventWidth, text + ScalePixels(EventColumnPadding));
    }
    RECT client;
    GetClientRect(m_list, &client);
    const int mark = ScalePixels(25);
    const int widths[5] = {
        eventWidth, ClampColumnWidth(client.right - eventWidth - ScalePixels(3 * 25 + FileColumnSpare), ScalePixels(50)),
        mark, mark, mark};
    ListView_AddTitledColumns(m_list, IDS_SOUND_COLUMN_FIRST, widths, 5);
    ListView_SetColumnWidths(m_list, app.SoundsColumns);
    ListView_FitColumnToList(m_list, 1, ScalePixels(FileColumnSpare), ScalePixels(50), app.SoundsColumns);
    m_view.Files = &app.SoundFiles;
    m_view.SetOwner(this, &OnListChangedThunk);
    UpdateData(false);
}

void CSoundPage::UpdateData(bool save)
{
    CConfigParvelApp& app = GetApp();
    if (save) {
        app.SoundEnabled = IsChecked(IDC_SOUND_ENABLED) ? 1 : 0;
        if (app.ModifiedFlags & DATA_UI)
            ListView_GetColumnWidths(m_list, app.SoundsColumns);
        return;
    }
    ++m_loading;
    SetCheck(IDC_SOUND_ENABLED, app.SoundEnabled != 0);
    m_view.FireEvent();
    EnableWindow(m_list, app.SoundEnabled != 0);
    --m_loading;
}

void CSoundPage::StopEditTimer()
{
    if (m_timerRunning) {
        KillTimer(m_hWnd, EditTimer);
        m_timerRunning = false;
    }
}

void CSoundPage::SetCurrentCell(int row, int column)
{
    if (row == m_row && column == m_column)
        return;
    if (m_editing)
        EndEdit(true);
    StopEditTimer();
    if (row != m_row && row >= 0)
        m_rowTick = GetTickCount();
    m_row = row;
    m_column = column;
}

void CSoundPage::RedrawRow(int row)
{
    SendMessageW(m_list, LVM_REDRAWITEMS, row, row);
}

void CSoundPage::OnCellClick(NMITEMACTIVATE* click)
{
    CConfigParvelApp& app = GetApp();
    LVHITTESTINFO hit = {};
    hit.pt = click->ptAction;
    if (SendMessageW(m_list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) < 0 || hit.iItem < 0 ||
        hit.iItem >= SOUND_EVENT_COUNT)
        return;
    const int row = hit.iItem;
    SetCurrentCell(row, hit.iSubItem);
    const std::wstring& file = app.SoundFiles[static_cast<size_t>(row)];
    switch (hit.iSubItem) {
    case 1:
        // A first click selects the row; a later single click on its file starts editing.
        if (!m_timerRunning && GetTickCount() - m_rowTick > EditDelayMs) {
            SetTimer(m_hWnd, EditTimer, EditDelayMs, nullptr);
            m_timerRunning = true;
        }
        return;
    case 2:
        if (AppSoundPlayer().PlayingMediaEvent() < 0) {
            StopEventSound();
            if (!file.empty())
                PlayEventSound(row);
        } else {
            AppSoundPlayer().StopMedia();
            RedrawSoundList();
        }
        return;
    case 3: {
        if (file.empty())
            return;
        std::wstring parameters = L"/select, \"" + file + L"\"";
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_UNICODE;
        info.hwnd = m_hWnd;
        info.lpVerb = L"open";
        info.lpFile = L"explorer.exe";
        info.lpParameters = parameters.c_str();
        info.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExW(&info))
            ThrowOSException(::GetLastError(), L"ShellExecuteEx");
        return;
    }
    case 4:
        OnBrowse(row);
        return;
    default:
        return;
    }
}

void CSoundPage::FillSoundFiles()
{
    HWND editor = GetItem(IDC_SOUND_EDITOR);
    SendMessageW(editor, CB_RESETCONTENT, 0, 0);
    for (const std::wstring& entry : MediaFileEntries(SystemMediaFolder()))
        SendMessageW(editor, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
}

void CSoundPage::OnEditTimer()
{
    StopEditTimer();
    if (m_editing || m_row < 0 || m_row >= SOUND_EVENT_COUNT)
        return;
    HWND editor = GetItem(IDC_SOUND_EDITOR);
    if (!m_editorEdit) {
        m_editorEdit = GetWindow(editor, GW_CHILD);
        if (m_editorEdit) {
            SetWindowLongPtrW(m_editorEdit, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            m_editorOldProc = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(m_editorEdit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&EditorProc)));
        }
        FillSoundFiles();
    }
    SetWindowTextW(editor, GetApp().SoundFiles[static_cast<size_t>(m_row)].c_str());
    RECT cell = {};
    cell.top = m_column;
    cell.left = LVIR_BOUNDS;
    SendMessageW(m_list, LVM_GETSUBITEMRECT, m_row, reinterpret_cast<LPARAM>(&cell));
    MapWindowPoints(m_list, m_hWnd, reinterpret_cast<POINT*>(&cell), 2);
    RECT own;
    GetWindowRect(editor, &own);
    SetWindowPos(editor, HWND_TOP, cell.left, cell.top, cell.right - cell.left, own.bottom - own.top, SWP_SHOWWINDOW);
    SetFocus(editor);
    m_editing = true;
}

LRESULT CALLBACK CSoundPage::EditorProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CSoundPage* self = reinterpret_cast<CSoundPage*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    if (message == WM_GETDLGCODE)
        return DLGC_WANTALLKEYS;
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        self->EndEdit(true);
        return 0;
    }
    if (message == WM_KEYDOWN && wParam == VK_ESCAPE) {
        if (self->m_editing) {
            ShowWindow(self->GetItem(IDC_SOUND_EDITOR), SW_HIDE);
            self->m_editing = false;
        }
        return 0;
    }
    return CallWindowProcW(self->m_editorOldProc, hWnd, message, wParam, lParam);
}

void CSoundPage::EndEdit(bool apply)
{
    if (!m_editing)
        return;
    // Cleared first: hiding the editor takes its focus away, which ends the edit once more.
    m_editing = false;
    if (apply && m_row >= 0 && m_row < SOUND_EVENT_COUNT) {
        std::wstring text;
        GetDlgItemText(IDC_SOUND_EDITOR, text);
        text = EditorTextToPath(text);
        std::wstring& file = GetApp().SoundFiles[static_cast<size_t>(m_row)];
        if (CompareStringOrdinal(text.c_str(), -1, file.c_str(), -1, TRUE) != CSTR_EQUAL) {
            file = text;
            GetApp().ModifiedFlags |= DATA_ADDIN;
            RedrawRow(m_row);
        }
    }
    ShowWindow(GetItem(IDC_SOUND_EDITOR), SW_HIDE);
}

bool CSoundPage::OnBrowse(int row)
{
    if (row < 0 || row >= SOUND_EVENT_COUNT)
        return false;
    std::wstring& file = GetApp().SoundFiles[static_cast<size_t>(row)];
    std::wstring path = file;
    if (!BrowseForFile(path, m_hWnd))
        return false;
    if (path != file) {
        file = path;
        GetApp().ModifiedFlags |= DATA_ADDIN;
        RedrawRow(row);
    }
    return true;
}

int CSoundPage::FirstSelected() const
{
    return static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void CSoundPage::OnDelete()
{
    const int selected = static_cast<int>(SendMessageW(m_list, LVM_GETSELECTEDCOUNT, 0, 0));
    if (selected <= 0)
        return;
    if (!ConfirmListRemoval(selected, m_hWnd))
        return;
    bool changed = false;
    int row = -1;
    while ((row = static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0) {
        std::wstring& file = GetApp().SoundFiles[static_cast<size_t>(row)];
        changed = changed || !file.empty();
        file.clear();
    }
    if (changed)
        GetApp().ModifiedFlags |= DATA_ADDIN;
    InvalidateRect(m_list, nullptr, TRUE);
}

bool CSoundPage::OnListNotify(NMHDR* hdr, LRESULT& result)
{
    result = 0;
    if (m_view.HandleNotify(hdr))
        return true;
    switch (hdr->code) {
    case LVN_KEYDOWN:
        OnEditableListKey(m_list, hdr, [this] { OnBrowse(FirstSelected()); }, [this] { OnDelete(); });
        return true;
    case LVN_ITEMCHANGED: {
        NMLISTVIEW* change = reinterpret_cast<NMLISTVIEW*>(hdr);
        if (!(change->uChanged & LVIF_STATE) || change->iItem < 0)
            return true;
        const UINT gained = change->uNewState & ~change->uOldState;
        const UINT lost = change->uOldState & ~change->uNewState;
        if (gained & LVIS_FOCUSED) {
            SetCurrentCell(change->iItem, m_column);
        } else if ((lost & (LVIS_FOCUSED | LVIS_SELECTED)) && !m_editing && !m_checkPending) {
            // A click on the selected row passes through a state without a focused row (the list
            // view resets the selection after NM_CLICK), which must not cancel the armed editor.
            m_checkPending = PostMessageW(m_hWnd, CheckCurrentRow, 0, 0) != FALSE;
        }
        return true;
    }
    case NM_KILLFOCUS:
        StopEditTimer();
        return true;
    case NM_RETURN:
        OnBrowse(FirstSelected());
        return true;
    case NM_DBLCLK:
        StopEditTimer();
        OnBrowse(reinterpret_cast<NMITEMACTIVATE*>(hdr)->iItem);
        return true;
    case NM_CLICK:
        OnCellClick(reinterpret_cast<NMITEMACTIVATE*>(hdr));
        return true;
    default:
        return false;
    }
}

LRESULT CSoundPage::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE;
    case WM_SIZE:
        m_anchors.Apply(LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        LRESULT result = 0;
        if (ListView_ColumnResized(m_list, hdr)) {
            GetApp().ModifiedFlags |= DATA_UI;
            return FALSE;
        }
        if (hdr->idFrom == IDC_SOUND_LIST && OnListNotify(hdr, result))
            return SetDlgResult(result);
        return FALSE;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (id == IDC_SOUND_ENABLED && code == BN_CLICKED && m_loading == 0) {
            GetApp().SoundEnabled = IsChecked(IDC_SOUND_ENABLED) ? 1 : 0;
            // Like every other edit of the page: closing must ask before the switch is lost.
            GetApp().ModifiedFlags |= DATA_ADDIN;
            EnableWindow(m_list, GetApp().SoundEnabled != 0);
        } else if (id == IDC_SOUND_EDITOR && code == CBN_KILLFOCUS) {
            EndEdit(true);
        } else if (id == IDC_SOUND_EDITOR && code == CBN_SELENDOK) {
            // The combo box sets its text after this notification.
            PostMessageW(m_hWnd, WM_USER + 1, 0, 0);
        }
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == EditTimer)
            OnEditTimer();
        return TRUE;
    case WM_USER + 1:
        EndEdit(true);
        return TRUE;
    case CheckCurrentRow: {
        m_checkPending = false;
        const int focused = static_cast<int>(SendMessageW(m_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
        if (!m_editing && focused != m_row)
            SetCurrentCell(-1, -1);
        return TRUE;
    }
    case WM_DESTROY:
        StopEditTimer();
        if (m_editorEdit && m_editorOldProc) {
            SetWindowLongPtrW(m_editorEdit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_editorOldProc));
            SetWindowLongPtrW(m_editorEdit, GWLP_USERDATA, 0);
        }
        m_view.SetOwner(nullptr, nullptr);
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
