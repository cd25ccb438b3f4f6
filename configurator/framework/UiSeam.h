// The seam between the program and the things that wait for a user: message boxes, modal dialogs
// and the open-file dialog. The program always goes through AppMessageBox, AppDialogBox and
// BrowseForFile; a test installs its own IUiSeam to answer them with scripted answers and to see
// what was asked, without a modal loop that nobody would end.
#pragma once
#include <windows.h>
#include <string>

class CWnd;

class IUiSeam
{
public:
    virtual ~IUiSeam() = default;
    // Returns what MessageBoxW would (IDOK, IDYES ...).
    virtual int MessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) = 0;
    // Returns what DialogBoxParamW would. A seam may run the real dialog with RunDialogBox.
    virtual INT_PTR ModalDialog(CWnd& dialog, UINT templateId, HWND owner) = 0;
    // As BrowseForFile: true with the chosen path, false with an empty path.
    virtual bool BrowseForFile(std::wstring& path, HWND owner) = 0;
};

// Installs a seam (null: the real system dialogs); returns the one installed before.
IUiSeam* SetUiSeam(IUiSeam* seam);
IUiSeam* GetUiSeam();

// A modal dialog of the program: the dialog object lives on the caller's stack, its template is
// `templateId`, its procedure CWnd::StaticDlgProc. A null owner means the main window.
INT_PTR AppDialogBox(CWnd& dialog, UINT templateId, HWND owner);
// The real modal run, bypassing the seam.
INT_PTR RunDialogBox(CWnd& dialog, UINT templateId, HWND owner);
