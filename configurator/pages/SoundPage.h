// The sound page (fourth tab): whether the add-in plays sounds, and one sound file per event. The
// file cell is edited in place by a combo box that offers the system's media files; a double click
// browses for any file; the play, go and browse columns play or stop a sound, open the file's
// folder and browse. Sounds are played by the application's player (SoundPlayer.h).
#pragma once
#include "AnchorLayout.h"
#include "SoundsView.h"
#include "Wnd.h"
#include <cstdint>

class CSoundPage : public CAppPage
{
public:
    LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void UpdateData(bool save) override;

    void OnInitDialog();
    bool OnListNotify(NMHDR* hdr, LRESULT& result);
    void OnCellClick(NMITEMACTIVATE* click);
    void SetCurrentCell(int row, int column);
    void EndEdit(bool apply);
    bool OnBrowse(int row);
    void OnDelete();
    void FillSoundFiles();
    void OnListChanged();
    // Timer 1: opens the in-place editor on the current cell.
    void OnEditTimer();

    HWND List() const { return m_list; }
    HWND Editor() const { return GetItem(1059); }
    bool Editing() const { return m_editing; }
    int CurrentRow() const { return m_row; }
    int CurrentColumn() const { return m_column; }

private:
    static void OnListChangedThunk(void* context, CVirtualListViewData* adapter);
    static LRESULT CALLBACK EditorProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    void StopEditTimer();
    int FirstSelected() const;
    void RedrawRow(int row);

    CAnchorLayout m_anchors;
    int m_loading = 0;
    CSoundsView m_view;
    HWND m_list = nullptr;
    int m_row = -1;
    int m_column = -1;
    DWORD m_rowTick = 0;
    bool m_timerRunning = false;
    bool m_checkPending = false;
    HWND m_editorEdit = nullptr;
    WNDPROC m_editorOldProc = nullptr;
    bool m_editing = false;
};

// The application's sound operations: play or stop an event's sound, and redraw the sound list
// (its play images) when the sound page exists.
void PlayEventSound(int row);
void StopEventSound();
void RedrawSoundList();
// The main window's MM_MCINOTIFY: the media sound ended.
void OnMediaSoundEnded();
