// What the user's keys and removals mean in the program's editable lists (the format library, the
// key-type groups, the sounds): one keyboard for all of them, and one question before rows go.
#pragma once
#include <windows.h>
#include <functional>

// An LVN_KEYDOWN of `list`: Insert alone runs `add`, Delete alone runs `remove` (with a modifier
// held neither), Ctrl+A selects every row.
void OnEditableListKey(HWND list, const NMHDR* keyDown, const std::function<void()>& add,
                       const std::function<void()>& remove);
// The question before `count` selected rows are removed, over `owner`; true when the user agrees.
bool ConfirmListRemoval(int count, HWND owner);
