// The driver parameter form in process, without the add-in: what a user can type into its fields,
// the check of number fields before anything is stored, and pages that hold groups alone.
#include "BenchGuiFixture.h"
#include "BenchStrings.h"
#include "DevOpenRes.h"
#include "ParamsPage.h"
#include "WindowFit.h"
#include "XmlParsPage.h"

using namespace benchgui;

namespace {

const wchar_t* const FormDoc =
    L"<Settings>"
    L" <Page Caption=\"Parameters\">"
    L"  <Group Caption=\"Empty\"/>"
    L"  <Group Caption=\"Connection\">"
    L"   <Parameter Name=\"RxPeriod\" Caption=\"Port check period\" TypeValue=\"Number\" DefaultValue=\"100\"/>"
    L"   <Parameter Name=\"Model\" Caption=\"Model\" TypeValue=\"Number\" DefaultValue=\"3\">"
    L"    <ChoiceList><Item Value=\"0\">Auto</Item><Item Value=\"3\">Kora USB MF</Item></ChoiceList>"
    L"   </Parameter>"
    L"   <Parameter Name=\"Port\" Caption=\"Port\" TypeValue=\"String\" DefaultValue=\"COM1\"/>"
    L"  </Group>"
    L" </Page>"
    L" <Page Caption=\"Groups only\"><Group Caption=\"A\"/><Group Caption=\"B\"/></Page>"
    L"</Settings>";

class DriverForm : public BenchGuiTest
{
protected:
    void SetUp() override
    {
        BenchGuiTest::SetUp();
        form.reset(new CParamsPage(&params, &actions));
        ASSERT_NE(nullptr, CreateDialogParamW(ModuleHandle, MAKEINTRESOURCEW(IDD_PARAMS_PAGE), page->GetHwnd(),
                                              CWnd::StaticDlgProc, reinterpret_cast<LPARAM>(form.get())));
        CMemXML doc;
        doc.Parse(FormDoc);
        params = ReadDriverParameters(doc);
        form->BuildPages(doc);
        ASSERT_EQ(2, form->FormCount());
    }
    void TearDown() override
    {
        if (form && form->GetHwnd())
            DestroyWindow(form->GetHwnd());
        form.reset();
        BenchGuiTest::TearDown();
    }
    std::wstring Stored(const wchar_t* name) const
    {
        for (const DriverParameter& p : params)
            if (p.name == name)
                return p.value;
        return L"?";
    }

    std::vector<DriverParameter> params;
    std::vector<DriverAction> actions;
    std::unique_ptr<CParamsPage> form;
};

} // namespace

// RxPeriod -1 (the add-in's "never") can be typed back; a text that is no whole number is named
// in an error box and focused, and nothing is stored until it is mended.
TEST_F(DriverForm, NumberFieldsTakeASignAndAreChecked)
{
    HWND rxPeriod = form->Form(0)->ControlOf(L"RxPeriod");
    ASSERT_NE(nullptr, rxPeriod);
    SetWindowTextW(rxPeriod, L"");
    SendMessageW(rxPeriod, WM_CHAR, L'-', 1);
    SendMessageW(rxPeriod, WM_CHAR, L'1', 1);
    EXPECT_EQ(L"-1", WindowText(rxPeriod));
    EXPECT_TRUE(form->CheckNumbers());
    EXPECT_TRUE(seam.boxes.empty());
    form->UpdateData(true);
    EXPECT_EQ(L"-1", Stored(L"RxPeriod"));

    for (const wchar_t* bad : {L"12abc", L"", L"-", L"2147483648", L"0x10"}) {
        SetWindowTextW(rxPeriod, bad);
        const size_t before = seam.boxes.size();
        EXPECT_FALSE(form->CheckNumbers()) << bad;
        ASSERT_EQ(before + 1, seam.boxes.size()) << bad;
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), seam.boxes.back().flags);
        EXPECT_EQ(L"Port check period: " + LoadAppString(IDS_BENCH_NOT_A_NUMBER), seam.boxes.back().text);
        EXPECT_EQ(rxPeriod, GetFocus()) << bad;
    }
    SetWindowTextW(rxPeriod, L" -2147483648 ");
    EXPECT_TRUE(form->CheckNumbers());

    // A number parameter with choices: a typed text that names no entry is checked as well.
    HWND model = form->Form(0)->ControlOf(L"Model");
    ASSERT_NE(nullptr, model);
    SendMessageW(model, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SetWindowTextW(model, L"three");
    EXPECT_FALSE(form->CheckNumbers());
    SetWindowTextW(model, L"Kora USB MF");
    EXPECT_TRUE(form->CheckNumbers());
    form->UpdateData(true);
    EXPECT_EQ(L"3", Stored(L"Model"));
}

// A page of groups without parameters builds, stores nothing and has nothing to check.
TEST_F(DriverForm, PageOfGroupsAlone)
{
    CXmlParsPage* groups = form->Form(1);
    EXPECT_TRUE(groups->Params().empty());
    EXPECT_EQ(2u, groups->Controls().size());
    EXPECT_GT(groups->ContentHeight(), 0);
    const std::vector<DriverParameter> before = params;
    groups->UpdateData(true);
    ASSERT_EQ(before.size(), params.size());
    for (size_t i = 0; i < params.size(); ++i)
        EXPECT_EQ(before[i].value, params[i].value);
    EXPECT_EQ(nullptr, groups->FirstBadNumber());
    EXPECT_EQ(L"", groups->CaptionOf(groups->Controls()[0].hWnd));
    // Each group box's caption has room after it, so that its frame line keeps clear of the last
    // letter whatever the font draws.
    for (const auto& control : groups->Controls()) {
        const std::wstring caption = WindowText(control.hWnd);
        ASSERT_GE(caption.size(), 2u);
        EXPECT_EQ(L' ', caption.back()) << testing::PrintToString(caption);
    }
}

// A form taller than its page: Tab from the first field to the last shows every field it lands on
// (the page scrolls down), and Shift+Tab back to the first scrolls it back up.
TEST_F(DriverForm, TabBringsEveryFieldIntoView)
{
    std::wstring doc = L"<Settings><Page Caption=\"Many\"><Group Caption=\"Fields\">";
    for (int i = 0; i < 24; ++i)
        doc += L"<Parameter Name=\"P" + std::to_wstring(i) + L"\" Caption=\"Field " + std::to_wstring(i) +
               L"\" TypeValue=\"String\" DefaultValue=\"x\"/>";
    doc += L"<Parameter Name=\"Last\" Caption=\"Last\" TypeValue=\"Number\" DefaultValue=\"1\">"
           L"<ChoiceList><Item Value=\"1\">One</Item><Item Value=\"2\">Two</Item></ChoiceList></Parameter>";
    doc += L"</Group></Page></Settings>";
    CMemXML xml;
    xml.Parse(doc.c_str());
    params = ReadDriverParameters(xml);
    form->BuildPages(xml);
    RECT client;
    GetClientRect(page->GetHwnd(), &client);
    SetWindowPos(form->GetHwnd(), HWND_TOP, 0, 0, client.right, client.bottom, SWP_SHOWWINDOW);
    CXmlParsPage* fields = form->Form(0);
    ASSERT_NE(nullptr, fields);
    RECT view;
    GetClientRect(fields->GetHwnd(), &view);
    MapWindowPoints(fields->GetHwnd(), nullptr, reinterpret_cast<POINT*>(&view), 2);
    ASSERT_LT(view.bottom - view.top, fields->ContentHeight()) << "the form must scroll for this test";
    HWND first = fields->ControlOf(L"P0");
    HWND last = fields->ControlOf(L"Last");
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, last);
    auto inView = [&](HWND control) {
        RECT r;
        GetWindowRect(control, &r);
        return r.top >= view.top && r.bottom <= view.bottom;
    };
    EXPECT_FALSE(inView(last));
    // A combo box that takes typing has the focus in its edit.
    auto focusIn = [](HWND control) { return GetFocus() == control || IsChild(control, GetFocus()); };

    SetFocus(first);
    int visited = 0;
    for (int presses = 0; !focusIn(last) && presses < 60; ++presses) {
        input.PressKey(VK_TAB);
        if (IsChild(fields->GetHwnd(), GetFocus())) {
            ++visited;
            EXPECT_TRUE(inView(GetFocus())) << testing::PrintToString(fields->CaptionOf(GetFocus()));
        }
    }
    ASSERT_TRUE(focusIn(last));
    EXPECT_GE(visited, 24);
    for (int presses = 0; !focusIn(first) && presses < 60; ++presses)
        input.PressKey(VK_TAB, MOD_SHIFT);
    ASSERT_TRUE(focusIn(first));
    EXPECT_TRUE(inView(first));
}

// The form as the device dialog lays it out, at the screen's DPI (run at 120 and 144 DPI too):
// every group box, label and field inside the form's width (it scrolls down) and clear of the
// others, with a list field, a choice and groups with and without rows.
TEST_F(DriverForm, EveryFieldFitsAtTheScreensDpi)
{
    ShowWindow(GetParent(page->GetHwnd()), SW_SHOW);
    ShowWindow(form->GetHwnd(), SW_SHOW);
    Pump(50);
    ASSERT_TRUE(IsWindowVisible(form->Form(0)->GetHwnd()));
    std::wostringstream problems;
    CheckPlacement(form->GetHwnd(), L"driver form", problems);
    EXPECT_TRUE(problems.str().empty()) << Narrow(problems.str());
}
