// The keyboard of the editable lists: Insert and Delete alone ask to add and remove, with a
// modifier they ask for nothing, and Ctrl+A selects every row.
#include "EditableList.h"
#include "ModuleState.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <cstring>
#include <string>

namespace {

// The thread's key state with `held` down (VK_CONTROL, VK_SHIFT, VK_MENU or 0), put back at the end.
class CHeldKey
{
public:
    explicit CHeldKey(int held)
    {
        GetKeyboardState(m_saved);
        BYTE state[256];
        memcpy(state, m_saved, sizeof(state));
        for (int key : {VK_CONTROL, VK_SHIFT, VK_MENU})
            state[key] = key == held ? 0x80 : 0;
        SetKeyboardState(state);
    }
    ~CHeldKey() { SetKeyboardState(m_saved); }
    CHeldKey(const CHeldKey&) = delete;
    CHeldKey& operator=(const CHeldKey&) = delete;

private:
    BYTE m_saved[256] = {};
};

// What a key asks of the list: "add", "remove" or "" for nothing.
std::string Press(HWND list, WORD key, int held = 0)
{
    CHeldKey state(held);
    NMLVKEYDOWN down = {};
    down.hdr.hwndFrom = list;
    down.hdr.code = LVN_KEYDOWN;
    down.wVKey = key;
    std::string asked;
    OnEditableListKey(list, &down.hdr, [&] { asked += "add"; }, [&] { asked += "remove"; });
    return asked;
}

} // namespace

TEST(EditableList, KeysAskTheSameInEveryList)
{
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_REPORT, 0, 0, 200, 100, nullptr, nullptr,
                                ModuleHandle, nullptr);
    ASSERT_NE(list, nullptr);
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = 100;
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    for (int i = 0; i < 3; ++i) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<wchar_t*>(L"row");
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }

    EXPECT_EQ("add", Press(list, VK_INSERT));
    EXPECT_EQ("remove", Press(list, VK_DELETE));
    for (int held : {VK_CONTROL, VK_SHIFT, VK_MENU}) {
        EXPECT_EQ("", Press(list, VK_INSERT, held)) << held;
        EXPECT_EQ("", Press(list, VK_DELETE, held)) << held;
    }
    EXPECT_EQ("", Press(list, 'A'));
    EXPECT_EQ(0, SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0)) << "A alone selects nothing";
    EXPECT_EQ("", Press(list, 'A', VK_CONTROL));
    EXPECT_EQ(3, SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));
    EXPECT_EQ("", Press(list, VK_RETURN));
    DestroyWindow(list);
}
