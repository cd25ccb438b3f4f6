// The properties and methods lists as a user works them, with the real add-in loaded: the mouse
// and the keyboard through the program's own message loop, never the pages' handlers.
#include "BenchGuiFixture.h"
#include "MethodsPage.h"
#include "MethodsRes.h"
#include "PropertiesPage.h"
#include "PropertiesRes.h"
#include "TestPageRes.h"

using namespace benchgui;

namespace {

class MemberLists : public BenchGuiTest
{
protected:
    // The inner tab `index` of the test page, clicked; its page.
    CAppPage* ShowInner(int index)
    {
        HWND tabs = GetDlgItem(page->GetHwnd(), IDC_TEST_TABS);
        input.Click(tabs, CUserInput::Tab(tabs, index));
        return page->InnerPage(index);
    }
    // Double-clicks every cell of `row` and then presses Enter on it; how often `opened` grew after
    // each (the number of columns, then one more for Enter).
    void OpenEveryWay(HWND list, int row, int columns, const int& opened, const char* what)
    {
        for (int column = 0; column < columns; ++column) {
            const int before = opened;
            input.DoubleClick(list, CUserInput::ListCell(list, row, column));
            EXPECT_EQ(before + 1, opened) << what << ": a double click on column " << column << " opened nothing";
        }
        SetFocus(list);
        const int before = opened;
        input.PressKey(VK_RETURN);
        EXPECT_EQ(before + 1, opened) << what << ": Enter on the selected row opened nothing";
        EXPECT_TRUE(IsWindow(app->GetHwnd()));
    }
};

} // namespace

// A double click anywhere on a row (its name, its value, its type) or Enter on the selected row
// opens the row's dialog: the property dialog on the properties list, the method's call dialog on
// the methods list. A double click below the last row opens nothing.
TEST_F(MemberLists, RowsOpenWhereverTheUserDoubleClicksAndOnEnter)
{
    Click(page->GetHwnd(), IDC_TEST_LOAD);
    ASSERT_TRUE(Host().IsLoaded());

    int properties = 0;
    seam.drivers[IDD_PROPERTY] = [&](CWnd&, HWND) -> INT_PTR {
        ++properties;
        return IDCANCEL;
    };
    CPropertiesPage* props = static_cast<CPropertiesPage*>(ShowInner(1));
    ASSERT_NE(nullptr, props);
    ASSERT_EQ(1, SendMessageW(GetDlgItem(page->GetHwnd(), IDC_TEST_TABS), TCM_GETCURSEL, 0, 0));
    HWND list = props->List();
    ASSERT_GT(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 3);
    const int columns = Header_GetItemCount(ListView_GetHeader(list));
    OpenEveryWay(list, 2, columns, properties, "properties");

    int methods = 0;
    seam.drivers[IDD_METHOD] = [&](CWnd&, HWND) -> INT_PTR {
        ++methods;
        return IDCANCEL;
    };
    CMethodsPage* meths = static_cast<CMethodsPage*>(ShowInner(2));
    ASSERT_NE(nullptr, meths);
    list = meths->List();
    ASSERT_GT(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 3);
    OpenEveryWay(list, 1, Header_GetItemCount(ListView_GetHeader(list)), methods, "methods");

    // In a method's call dialog a double click on an argument's cell opens that argument.
    int withParams = -1;
    for (size_t i = 0; i < meths->View().Rows().size() && withParams < 0; ++i)
        if (meths->View().Rows()[i].paramCount >= 2)
            withParams = static_cast<int>(i);
    ASSERT_GE(withParams, 0);
    int arguments = 0;
    seam.drivers[IDD_METHOD_ARG] = [&](CWnd&, HWND) -> INT_PTR {
        ++arguments;
        return IDCANCEL;
    };
    seam.drivers[IDD_METHOD] = [&](CWnd&, HWND dialog) -> INT_PTR {
        HWND grid = GetDlgItem(dialog, IDC_METHOD_ARGS);
        for (int row = 0; row < 3; ++row) {
            const int before = arguments;
            input.DoubleClick(grid, CUserInput::ListCell(grid, row, 2));
            EXPECT_EQ(before + 1, arguments) << "argument 1, row " << row;
        }
        return IDCANCEL;
    };
    input.DoubleClick(list, CUserInput::ListCell(list, withParams, 1));
    EXPECT_EQ(3, arguments);
}
