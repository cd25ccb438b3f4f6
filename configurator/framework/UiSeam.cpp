// The user-interface seam and the program's message box and modal-dialog entries.
#include "UiSeam.h"
#include "AppMessageBox.h"
#include "AppResource.h"
#include "ModuleState.h"
#include "Wnd.h"

namespace {
IUiSeam* g_seam = nullptr;
}

IUiSeam* SetUiSeam(IUiSeam* seam)
{
    IUiSeam* old = g_seam;
    g_seam = seam;
    return old;
}

IUiSeam* GetUiSeam()
{
    return g_seam;
}

std::wstring LoadAppString(UINT id)
{
    const wchar_t* text = nullptr;
    int length = LoadStringW(ModuleHandle, id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text)
        return std::wstring();
    return std::wstring(text, length);
}

int AppMessageBox(const wchar_t* text, UINT flags, HWND owner)
{
    std::wstring body = IS_INTRESOURCE(text) ? LoadAppString(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(text)))
                                             : std::wstring(text ? text : L"");
    std::wstring caption = LoadAppString(IDS_APP_TITLE);
    if (!owner)
        owner = CWnd::GetMainWindow();
    if (g_seam)
        return g_seam->MessageBox(owner, body, caption, flags);
    return MessageBoxW(owner, body.c_str(), caption.c_str(), flags);
}

INT_PTR RunDialogBox(CWnd& dialog, UINT templateId, HWND owner)
{
    return DialogBoxParamW(ModuleHandle, MAKEINTRESOURCEW(templateId), owner, CWnd::StaticDlgProc,
                           reinterpret_cast<LPARAM>(&dialog));
}

INT_PTR AppDialogBox(CWnd& dialog, UINT templateId, HWND owner)
{
    if (!owner)
        owner = CWnd::GetMainWindow();
    if (g_seam)
        return g_seam->ModalDialog(dialog, templateId, owner);
    return RunDialogBox(dialog, templateId, owner);
}
