// The editable lists' keys and removal question (see EditableList.h).
#include "EditableList.h"
#include "AppMessageBox.h"
#include "FormatsPageRes.h"
#include "ListViewHelpers.h"
#include "WFormat.h"
#include <commctrl.h>
#include <string>

namespace {

bool ModifierHeld()
{
    return GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_MENU) < 0;
}

} // namespace

void OnEditableListKey(HWND list, const NMHDR* keyDown, const std::function<void()>& add,
                       const std::function<void()>& remove)
{
    const WORD key = reinterpret_cast<const NMLVKEYDOWN*>(keyDown)->wVKey;
    if (key == VK_INSERT && !ModifierHeld())
        add();
    else if (key == VK_DELETE && !ModifierHeld())
        remove();
    else if (key == 'A' && GetKeyState(VK_CONTROL) < 0)
        ListView_SelectAll(list);
}

bool ConfirmListRemoval(int count, HWND owner)
{
    std::wstring question;
    FormatResString(question, IDS_REMOVE_ITEMS, count);
    return AppMessageBox(question, MB_OKCANCEL | MB_ICONQUESTION, owner) == IDOK;
}
