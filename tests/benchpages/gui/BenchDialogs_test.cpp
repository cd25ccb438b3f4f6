// The property and method-argument dialogs as a user drives them: a value the add-in refuses, or
// one that is no number of the property's or the argument's type, is told over the dialog, which
// stays open; moving through the argument types keeps what was typed, and a BLOB text that is no
// hexadecimal bytes is refused.
#include "BenchGuiFixture.h"
#include "ListViewHelpers.h"
#include "MethodArgDialog.h"
#include "MethodDialog.h"
#include "MethodsPage.h"
#include "MethodsRes.h"
#include "PropertiesPage.h"
#include "PropertiesRes.h"
#include "PropertyDialog.h"
#include "TestPageRes.h"
#include "VariantHelpers.h"

using namespace benchgui;

namespace {

class BenchDialogs : public BenchGuiTest
{
protected:
    void TypeInto(HWND edit, const std::wstring& text) { input.ReplaceText(edit, text); }
    void ClickButton(HWND dialog, int id)
    {
        HWND button = GetDlgItem(dialog, id);
        ASSERT_NE(nullptr, button);
        input.Click(button, CUserInput::Centre(button));
    }
    // The type list's next entry, chosen with the arrow key as a user moves through it.
    void NextType(HWND dialog)
    {
        HWND combo = GetDlgItem(dialog, IDC_ARG_TYPE);
        SetFocus(combo);
        input.PressKey(VK_DOWN);
    }
    static std::wstring TypeShown(HWND dialog)
    {
        return WindowText(GetDlgItem(dialog, IDC_ARG_TYPE));
    }
    // The row of the methods list that shows the method `english`, -1 when none does.
    static int MethodRow(CMethodsPage& methods, const wchar_t* english)
    {
        for (size_t i = 0; i < methods.View().Rows().size(); ++i)
            if (methods.View().Rows()[i].english == english)
                return static_cast<int>(i);
        return -1;
    }
    // Load clicked, then the test page's inner tab `index`; its page.
    CAppPage* LoadAndShowInner(int index)
    {
        HWND load = GetDlgItem(page->GetHwnd(), IDC_TEST_LOAD);
        input.Click(load, CUserInput::Centre(load));
        EXPECT_TRUE(Host().IsLoaded());
        HWND tabs = GetDlgItem(page->GetHwnd(), IDC_TEST_TABS);
        input.Click(tabs, CUserInput::Tab(tabs, index));
        return page->InnerPage(index);
    }
};

} // namespace

TEST_F(BenchDialogs, PropertyValueTheAddinRefusesIsToldOverTheDialogWhichStaysOpen)
{
    Click(page->GetHwnd(), IDC_TEST_LOAD);
    ASSERT_TRUE(Host().IsLoaded());
    const long model = Host().Extender()->FindProp(L"Model");
    ASSERT_GE(model, 0);
    CVariantArray value(1, Host().MemoryManager());
    ASSERT_TRUE(Host().Extender()->GetPropVal(model, &value[0]));
    const uint32_t before = value[0].ui32Val;

    bool openAfterOk = false;
    HWND dialogWnd = nullptr;
    size_t boxesAfterOk = 0;
    seam.boxes.clear();
    seam.drivers[IDD_PROPERTY] = [&](CWnd&, HWND hWnd) -> INT_PTR {
        ShowWindow(hWnd, SW_SHOW); // as the modal loop shows it; ending it hides it
        dialogWnd = hWnd;
        TypeInto(GetDlgItem(hWnd, IDC_VALUE_NUMBER), L"99");
        ClickButton(hWnd, IDOK);
        boxesAfterOk = seam.boxes.size();
        openAfterOk = IsWindow(hWnd) && IsWindowVisible(hWnd);
        // Mended, OK takes it and ends the dialog.
        TypeInto(GetDlgItem(hWnd, IDC_VALUE_NUMBER), L"1");
        ClickButton(hWnd, IDOK);
        return IDCANCEL;
    };
    CDlgProperty dialog(&Host(), static_cast<uint32_t>(model), value);
    AppDialogBox(dialog, IDD_PROPERTY, app->GetHwnd());
    EXPECT_TRUE(openAfterOk) << "the refused value keeps the dialog open";
    ASSERT_EQ(1u, boxesAfterOk);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), seam.boxes[0].flags);
    EXPECT_EQ(dialogWnd, seam.boxes[0].owner) << "the box stands over the dialog";
    EXPECT_NE(std::wstring::npos, seam.boxes[0].text.find(L"Model")) << seam.boxes[0].text;
    EXPECT_NE(std::wstring::npos, seam.boxes[0].text.find(L"99")) << seam.boxes[0].text;
    ASSERT_FALSE(Host().LastErrorDescription().empty());
    EXPECT_NE(std::wstring::npos, seam.boxes[0].text.find(Host().LastErrorDescription()))
        << "the add-in's own reason: " << seam.boxes[0].text;
    EXPECT_EQ(1u, seam.boxes.size());

    CVariantArray after(1, Host().MemoryManager());
    ASSERT_TRUE(Host().Extender()->GetPropVal(model, &after[0]));
    EXPECT_EQ(1u, after[0].ui32Val);
    EXPECT_NE(before, 99u);
}

TEST_F(BenchDialogs, MovingThroughArgumentTypesKeepsTheTypedText)
{
    // An empty value passing the number types stays empty.
    CDlgMethArg empty;
    empty.Type = VTYPE_EMPTY;
    std::wstring passed;
    seam.drivers[IDD_METHOD_ARG] = [&](CWnd&, HWND hWnd) -> INT_PTR {
        for (int i = 0; i < 5; ++i)   // NULL, I4, BOOL, UI4, I8
            NextType(hWnd);
        passed = TypeShown(hWnd);
        return IDCANCEL;
    };
    AppDialogBox(empty, IDD_METHOD_ARG, app->GetHwnd());
    EXPECT_EQ(L"I8", passed);
    EXPECT_EQ(L"", empty.Value) << "an untouched value is no \"0\"";

    // A text typed under PWSTR survives a pass through I8 and back; a number typed under I4 is
    // what the user changed, so it is taken.
    CDlgMethArg typed;
    typed.Type = VTYPE_PWSTR;
    std::wstring shownBack;
    seam.drivers[IDD_METHOD_ARG] = [&](CWnd&, HWND hWnd) -> INT_PTR {
        TypeInto(GetDlgItem(hWnd, IDC_VALUE_TEXT), L"COM7");
        HWND combo = GetDlgItem(hWnd, IDC_ARG_TYPE);
        SetFocus(combo);
        input.PressKey(VK_UP); // HRESULT
        input.PressKey(VK_UP); // UI8
        input.PressKey(VK_DOWN);
        input.PressKey(VK_DOWN); // PWSTR again
        shownBack = WindowText(GetDlgItem(hWnd, IDC_VALUE_TEXT));
        for (int i = 0; i < 6; ++i) // HRESULT, UI8, I8, UI4, BOOL, I4
            input.PressKey(VK_UP);
        TypeInto(GetDlgItem(hWnd, IDC_VALUE_NUMBER), L"42");
        SetFocus(combo);
        input.PressKey(VK_DOWN); // BOOL
        ClickButton(hWnd, IDOK);
        return IDOK;
    };
    AppDialogBox(typed, IDD_METHOD_ARG, app->GetHwnd());
    EXPECT_EQ(L"COM7", shownBack);
    EXPECT_EQ(VTYPE_BOOL, typed.Type);
    EXPECT_EQ(L"1", typed.Value) << "OK takes the Yes/No the user saw";
}

TEST_F(BenchDialogs, BlobTextThatIsNoHexadecimalBytesIsRefused)
{
    CDlgMethArg dialog;
    dialog.Type = VTYPE_BLOB;
    bool openAfterOk = false;
    HWND focusAfterOk = nullptr, text = nullptr;
    seam.boxes.clear();
    seam.drivers[IDD_METHOD_ARG] = [&](CWnd&, HWND hWnd) -> INT_PTR {
        ShowWindow(hWnd, SW_SHOW); // as the modal loop shows it; ending it hides it
        text = GetDlgItem(hWnd, IDC_VALUE_TEXT);
        TypeInto(text, L"zz-not-hex");
        ClickButton(hWnd, IDOK);
        openAfterOk = IsWindow(hWnd) && IsWindowVisible(hWnd);
        focusAfterOk = GetFocus();
        TypeInto(text, L"0A FF");
        ClickButton(hWnd, IDOK);
        return IDOK;
    };
    AppDialogBox(dialog, IDD_METHOD_ARG, app->GetHwnd());
    EXPECT_TRUE(openAfterOk);
    EXPECT_EQ(text, focusAfterOk);
    ASSERT_EQ(1u, seam.boxes.size());
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), seam.boxes[0].flags);
    EXPECT_NE(std::wstring::npos, seam.boxes[0].text.find(L"BLOB")) << seam.boxes[0].text;
    EXPECT_EQ(L"0A FF", dialog.Value);
}

TEST_F(BenchDialogs, StoredBlobTextThatIsNoBytesIsNotSent)
{
    Click(page->GetHwnd(), IDC_TEST_LOAD);
    ASSERT_TRUE(Host().IsLoaded());
    // A history written by hand (or by an older version) with a BLOB text that is no bytes.
    MethodArgument blob;
    blob.Type = VTYPE_BLOB;
    blob.Value = L"zz-not-hex";
    MethodArgument text;
    text.Type = VTYPE_PWSTR;
    text.Value = L"x";
    app->MethodArgs[L"SetParameter"] = {blob, text};

    page->ShowInnerPage(2);
    CMethodsPage* methods = static_cast<CMethodsPage*>(page->InnerPage(2));
    ASSERT_NE(nullptr, methods);
    const int row = MethodRow(*methods, L"SetParameter");
    ASSERT_GE(row, 0);
    ListView_SelectCentered(methods->List(), row);
    std::wstring output;
    seam.drivers[IDD_METHOD] = [&](CWnd&, HWND hWnd) -> INT_PTR {
        ClickButton(hWnd, IDC_METHOD_EXECUTE);
        output = WindowText(GetDlgItem(hWnd, IDC_METHOD_OUTPUT));
        return IDCANCEL;
    };
    methods->CallMethod();
    EXPECT_NE(std::wstring::npos, output.find(L"BLOB")) << output;
    EXPECT_EQ(std::wstring::npos, output.find(Russian() ? L"\x0412\x044B\x0437\x043E\x0432" : L"Call...")) << output;
}

// A value typed into the property dialog that is no number of the property's type (letters, more
// than 32 bits, an I4 past its range) is told in a box over the dialog on Enter: the dialog stays
// open with the text to mend and the property keeps its value. A number of the type is set.
TEST_F(BenchDialogs, PropertyValueThatIsNoNumberOfItsTypeIsToldAndTheDialogStaysOpen)
{
    CPropertiesPage* props = static_cast<CPropertiesPage*>(LoadAndShowInner(1));
    ASSERT_TRUE(Host().IsLoaded());
    ASSERT_NE(nullptr, props);
    const long tries = Host().Extender()->FindProp(L"ReqTries");
    ASSERT_GE(tries, 0);
    int row = -1;
    for (size_t i = 0; i < props->View().Rows().size(); ++i)
        if (props->View().Rows()[i].index == static_cast<uint32_t>(tries))
            row = static_cast<int>(i);
    ASSERT_GE(row, 0);
    auto value = [&] {
        CVariantArray v(1, Host().MemoryManager());
        EXPECT_TRUE(Host().Extender()->GetPropVal(tries, &v[0]));
        EXPECT_EQ(VTYPE_I4, v[0].vt);
        return v[0].i32Val;
    };
    const int32_t before = value();

    struct Outcome
    {
        std::wstring typed;
        size_t boxes = 0;
        bool open = false;
        HWND focus = nullptr;
        int32_t value = 0;
    };
    std::vector<Outcome> outcomes;
    HWND dialogWnd = nullptr, edit = nullptr, focusAtOpen = nullptr, focusByKey = nullptr;
    bool closedOnGoodValue = false, decimalKept = false, hexShown = true;
    seam.boxes.clear();
    seam.drivers[IDD_PROPERTY] = [&](CWnd&, HWND hWnd) -> INT_PTR {
        ShowWindow(hWnd, SW_SHOW); // as the modal loop shows it; ending it hides it
        dialogWnd = hWnd;
        edit = GetDlgItem(hWnd, IDC_VALUE_NUMBER);
        input.PumpPending(); // what the modal loop delivers first
        focusAtOpen = GetFocus();
        // Enter and Alt with a letter go through the dialog manager, as in the dialog's own modal loop.
        CUserInput keys([hWnd](MSG* msg) { return IsDialogMessageW(hWnd, msg) != FALSE; });
        // The "Value:" label's access key, from the name back into the value.
        SetFocus(GetDlgItem(hWnd, IDC_PROP_ENGLISH));
        const std::wstring label = WindowText(GetWindow(edit, GW_HWNDPREV));
        const size_t mark = label.find(L'&');
        if (mark != std::wstring::npos && mark + 1 < label.size())
            keys.PressAccessKey(label[mark + 1]);
        focusByKey = GetFocus();
        for (const wchar_t* typed : {L"abc", L"99999999999", L"4294967295", L"12abc"}) {
            TypeInto(edit, typed);
            keys.PressKey(VK_RETURN);
            Outcome o;
            o.typed = typed;
            o.boxes = seam.boxes.size();
            o.open = IsWindowVisible(hWnd) != FALSE;
            o.focus = GetFocus();
            o.value = value();
            outcomes.push_back(o);
        }
        // Hexadecimal clicked over a text that is no number: refused, and the base shown is the
        // one the text is read in.
        TypeInto(edit, L"12abc");
        ClickButton(hWnd, IDC_VALUE_HEX);
        decimalKept = IsDlgButtonChecked(hWnd, IDC_VALUE_DECIMAL) == BST_CHECKED;
        hexShown = IsDlgButtonChecked(hWnd, IDC_VALUE_HEX) == BST_CHECKED;
        TypeInto(edit, L"5");
        keys.PressKey(VK_RETURN);
        closedOnGoodValue = !IsWindowVisible(hWnd);
        return IDOK;
    };
    input.DoubleClick(props->List(), CUserInput::ListCell(props->List(), row, 1));
    EXPECT_EQ(edit, focusAtOpen) << "the dialog opens on the value, not on the read-only name";
    EXPECT_EQ(edit, focusByKey) << "the Value label's access key reaches the value";
    EXPECT_TRUE(decimalKept);
    EXPECT_FALSE(hexShown) << "the refused switch left Hexadecimal shown over a decimal value";
    ASSERT_EQ(4u, outcomes.size());
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const Outcome& o = outcomes[i];
        SCOPED_TRACE(testing::PrintToString(o.typed));
        ASSERT_EQ(i + 1, o.boxes) << "one box for each refused value";
        const CScriptSeam::Box& box = seam.boxes[i];
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.flags);
        EXPECT_EQ(dialogWnd, box.owner) << "the box stands over the dialog";
        EXPECT_NE(std::wstring::npos, box.text.find(o.typed)) << testing::PrintToString(box.text);
        EXPECT_NE(std::wstring::npos, box.text.find(L"I4")) << testing::PrintToString(box.text);
        EXPECT_NE(std::wstring::npos, box.text.find(L"2147483647")) << testing::PrintToString(box.text);
        EXPECT_TRUE(o.open) << "the dialog stays open";
        EXPECT_EQ(edit, o.focus) << "the user is back in the value";
        EXPECT_EQ(before, o.value) << "the property keeps its value";
    }
    // The whole text once, in the program's language.
    EXPECT_EQ(seam.boxes[0].text,
              Russian() ? L"«abc» — не значение типа I4: введите целое число от -2147483648 до 2147483647 или 0x и от 1 "
                          L"до 8 шестнадцатеричных цифр. Свойство сохраняет прежнее значение."
                        : L"\"abc\" is no value of type I4: write a whole number from -2147483648 to 2147483647, or 0x "
                          L"and 1 to 8 hexadecimal digits. The property keeps its value.");
    EXPECT_TRUE(closedOnGoodValue);
    EXPECT_EQ(5u, seam.boxes.size()) << "one more for the refused switch to Hexadecimal";
    EXPECT_EQ(5, value());
}

// Test, Methods, a method with a number argument, its argument opened from the grid: a value that
// is no number of the argument's type (letters, more than its bits, an I4 past its range) is told
// in a box over the argument dialog on Enter, which stays open with the number field focused and
// the argument as it was. A type chosen or a base clicked over such a text is refused the same way
// and stays as it was. A number of the type is taken and goes into the method's argument history.
TEST_F(BenchDialogs, MethodArgumentThatIsNoNumberOfItsTypeIsToldAndTheDialogStaysOpen)
{
    CMethodsPage* methods = static_cast<CMethodsPage*>(LoadAndShowInner(2));
    ASSERT_TRUE(Host().IsLoaded());
    ASSERT_NE(nullptr, methods);
    // LoadSettings takes one UI4, its parts to load (3 by default).
    const int row = MethodRow(*methods, L"LoadSettings");
    ASSERT_GE(row, 0);

    const std::wstring argumentWord = Russian() ? L"\x0410\x0440\x0433\x0443\x043C\x0435\x043D\x0442" : L"argument";
    struct Outcome
    {
        std::wstring typed;
        const wchar_t* type; // the type the box must name
        const wchar_t* max;  // and the top of its range
        size_t boxes = 0;
        bool open = false;
        bool focusInNumber = false;
        std::wstring value;
        std::wstring typeShown;
    };
    std::vector<Outcome> outcomes;
    HWND argWnd = nullptr;
    bool decimalKept = false, closedOnGoodValue = false, openedOnValue = false;
    seam.boxes.clear();
    seam.drivers[IDD_METHOD_ARG] = [&](CWnd& wnd, HWND hWnd) -> INT_PTR {
        CDlgMethArg& dialog = static_cast<CDlgMethArg&>(wnd);
        ShowWindow(hWnd, SW_SHOW); // as the modal loop shows it; ending it hides it
        argWnd = hWnd;
        HWND edit = GetDlgItem(hWnd, IDC_VALUE_NUMBER);
        HWND combo = GetDlgItem(hWnd, IDC_ARG_TYPE);
        input.PumpPending(); // what the modal loop delivers first
        openedOnValue = edit && GetFocus() == edit;
        // Keys go through the dialog manager, as in the dialog's own modal loop.
        CUserInput keys([hWnd](MSG* msg) { return IsDialogMessageW(hWnd, msg) != FALSE; });
        auto record = [&](const std::wstring& typed, const wchar_t* type, const wchar_t* max) {
            Outcome o;
            o.typed = typed;
            o.type = type;
            o.max = max;
            o.boxes = seam.boxes.size();
            o.open = IsWindowVisible(hWnd) != FALSE;
            o.focusInNumber = GetFocus() == GetDlgItem(hWnd, IDC_VALUE_NUMBER);
            o.value = dialog.Value;
            o.typeShown = TypeShown(hWnd);
            outcomes.push_back(o);
        };
        for (const wchar_t* typed : {L"abc", L"99999999999", L"12abc"}) {
            TypeInto(edit, typed);
            keys.PressKey(VK_RETURN);
            record(typed, L"UI4", L"4294967295");
        }
        // The next type in the list (BOOL) over a text that is no UI4: refused, the type stays.
        TypeInto(edit, L"abc");
        SetFocus(combo);
        keys.PressKey(VK_UP);
        record(L"abc", L"UI4", L"4294967295");
        // Hexadecimal over it: refused, the base stays.
        ClickButton(hWnd, IDC_VALUE_HEX);
        record(L"abc", L"UI4", L"4294967295");
        decimalKept = IsDlgButtonChecked(hWnd, IDC_VALUE_DECIMAL) == BST_CHECKED &&
                      IsDlgButtonChecked(hWnd, IDC_VALUE_HEX) != BST_CHECKED;

        // The value as it was, and I4 chosen (through BOOL): past I4's range is refused too.
        TypeInto(edit, L"3");
        SetFocus(combo);
        keys.PressKey(VK_UP);
        keys.PressKey(VK_UP);
        edit = GetDlgItem(hWnd, IDC_VALUE_NUMBER);
        TypeInto(edit, L"2147483648");
        keys.PressKey(VK_RETURN);
        record(L"2147483648", L"I4", L"2147483647");

        TypeInto(edit, L"-7");
        keys.PressKey(VK_RETURN);
        closedOnGoodValue = !IsWindowVisible(hWnd);
        return IDOK;
    };
    seam.drivers[IDD_METHOD] = [&](CWnd&, HWND hWnd) -> INT_PTR {
        HWND grid = GetDlgItem(hWnd, IDC_METHOD_ARGS);
        input.DoubleClick(grid, CUserInput::ListCell(grid, 1, 1)); // argument 0's value
        return IDCANCEL;
    };
    input.DoubleClick(methods->List(), CUserInput::ListCell(methods->List(), row, 1));

    ASSERT_EQ(6u, outcomes.size());
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const Outcome& o = outcomes[i];
        SCOPED_TRACE(testing::PrintToString(o.typed) + " as " + testing::PrintToString(std::wstring(o.type)));
        ASSERT_EQ(i + 1, o.boxes) << "one box for each refused value";
        const CScriptSeam::Box& box = seam.boxes[i];
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.flags);
        EXPECT_EQ(argWnd, box.owner) << "the box stands over the argument dialog";
        const std::wstring quoted = Russian() ? L"\x00AB" + o.typed + L"\x00BB" : L"\"" + o.typed + L"\"";
        EXPECT_NE(std::wstring::npos, box.text.find(quoted)) << testing::PrintToString(box.text);
        EXPECT_NE(std::wstring::npos, box.text.find(o.type)) << testing::PrintToString(box.text);
        EXPECT_NE(std::wstring::npos, box.text.find(o.max)) << testing::PrintToString(box.text);
        EXPECT_NE(std::wstring::npos, box.text.find(argumentWord)) << testing::PrintToString(box.text);
        EXPECT_TRUE(o.open) << "the dialog stays open";
        EXPECT_TRUE(o.focusInNumber) << "the user is back in the number";
        EXPECT_EQ(L"3", o.value) << "the argument keeps its value";
        EXPECT_EQ(o.type, o.typeShown) << "the type stays the one the text was typed for";
    }
    EXPECT_TRUE(openedOnValue) << "the dialog opens on the value";
    EXPECT_TRUE(decimalKept) << "the base stays the one the text was typed in";
    EXPECT_TRUE(closedOnGoodValue);
    EXPECT_EQ(6u, seam.boxes.size());
    ASSERT_EQ(1u, app->MethodArgs.count(L"LoadSettings"));
    ASSERT_EQ(1u, app->MethodArgs[L"LoadSettings"].size());
    EXPECT_EQ(VTYPE_I4, app->MethodArgs[L"LoadSettings"][0].Type);
    EXPECT_EQ(L"-7", app->MethodArgs[L"LoadSettings"][0].Value);
}

// The add-in loaded by Enter on the test page's focused Load button; then in the method dialog of
// SetParameter (two arguments) the user Tabs to the argument grid, finds the first argument's value
// chosen, moves with the arrows, edits with Enter and F2 (the argument dialog, left with Esc), and
// the method dialog stays open throughout.
TEST_F(BenchDialogs, ArgumentGridIsWorkedByKeys)
{
    SetFocus(GetDlgItem(page->GetHwnd(), IDC_TEST_LOAD));
    input.PressKey(VK_RETURN);
    ASSERT_TRUE(Host().IsLoaded()) << "Enter on the focused Load button loads the add-in";
    HWND tabs = GetDlgItem(page->GetHwnd(), IDC_TEST_TABS);
    input.Click(tabs, CUserInput::Tab(tabs, 2));
    CMethodsPage* methods = static_cast<CMethodsPage*>(page->InnerPage(2));
    ASSERT_NE(nullptr, methods);
    const int row = MethodRow(*methods, L"SetParameter");
    ASSERT_GE(row, 0);

    std::vector<long> edited; // the argument of each argument dialog
    std::vector<bool> leftByEsc;
    seam.drivers[IDD_METHOD_ARG] = [&](CWnd& wnd, HWND hWnd) -> INT_PTR {
        ShowWindow(hWnd, SW_SHOW);
        edited.push_back(static_cast<long>(static_cast<CDlgMethArg&>(wnd).Number));
        CUserInput keys([hWnd](MSG* msg) { return IsDialogMessageW(hWnd, msg) != FALSE; });
        keys.PressKey(VK_ESCAPE);
        leftByEsc.push_back(!IsWindowVisible(hWnd));
        return IDCANCEL;
    };
    struct Step
    {
        const char* keys;
        int row, column; // the chosen cell after them
        size_t edits;    // argument dialogs so far
        bool open;
    };
    std::vector<Step> steps;
    bool reachedGrid = false;
    seam.drivers[IDD_METHOD] = [&](CWnd& wnd, HWND hWnd) -> INT_PTR {
        CDlgMethod& dialog = static_cast<CDlgMethod&>(wnd);
        ShowWindow(hWnd, SW_SHOW);
        HWND grid = GetDlgItem(hWnd, IDC_METHOD_ARGS);
        CUserInput keys([hWnd](MSG* msg) { return IsDialogMessageW(hWnd, msg) != FALSE; });
        SetFocus(GetDlgItem(hWnd, IDCANCEL));
        for (int i = 0; i < 8 && GetFocus() != grid; ++i)
            keys.PressKey(VK_TAB);
        reachedGrid = GetFocus() == grid;
        auto record = [&](const char* what) {
            steps.push_back({what, dialog.SelectedRow(), dialog.SelectedColumn(), edited.size(),
                             IsWindowVisible(hWnd) != FALSE});
        };
        record("Tab");
        keys.PressKey(VK_DOWN);
        record("Down");
        keys.PressKey(VK_RETURN);
        record("Enter");
        keys.PressKey(VK_UP);
        keys.PressKey(VK_UP);
        keys.PressKey(VK_RIGHT);
        record("Up, Up, Right");
        keys.PressKey(VK_F2);
        record("F2");
        keys.PressKey(VK_RIGHT);
        keys.PressKey(VK_LEFT);
        record("Right, Left");
        return IDCANCEL;
    };
    input.DoubleClick(methods->List(), CUserInput::ListCell(methods->List(), row, 1));

    EXPECT_TRUE(reachedGrid);
    const Step expected[] = {{"Tab", 1, 1, 0, true},           {"Down", 2, 1, 0, true},
                             {"Enter", 2, 1, 1, true},         {"Up, Up, Right", 0, 2, 1, true},
                             {"F2", 0, 2, 2, true},            {"Right, Left", 0, 1, 2, true}};
    ASSERT_EQ(6u, steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(steps[i].keys);
        EXPECT_EQ(expected[i].row, steps[i].row);
        EXPECT_EQ(expected[i].column, steps[i].column);
        EXPECT_EQ(expected[i].edits, steps[i].edits);
        EXPECT_TRUE(steps[i].open) << "the method dialog stays open";
    }
    EXPECT_EQ((std::vector<long>{0, 1}), edited);
    EXPECT_EQ((std::vector<bool>{true, true}), leftByEsc);
}
