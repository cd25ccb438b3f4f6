// The driver parameter form in process, without the add-in: what a user can type into its fields,
// the check of number fields before anything is stored, and pages that hold groups alone.
#include "BenchGuiFixture.h"
#include "BenchStrings.h"
#include "DevOpenRes.h"
#include "ParamsPage.h"
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
