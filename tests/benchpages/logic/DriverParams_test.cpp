// The parameters and actions documents as the device dialog reads them, and the apply plan.
#include "DriverParams.h"
#include <gtest/gtest.h>

namespace {

const wchar_t* const ParamsDoc =
    L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    L"<Settings>\r\n"
    L" <Page Caption=\"Parameters\">\r\n"
    L"  <Group Caption=\"Connection\">\r\n"
    L"   <Parameter Name=\"Model\" Caption=\"Model\" TypeValue=\"Number\" DefaultValue=\"3\">\r\n"
    L"    <ChoiceList><Item Value=\"0\">Auto</Item><Item Value=\"3\">Kora USB MF</Item></ChoiceList>\r\n"
    L"   </Parameter>\r\n"
    L"   <Parameter Name=\"Port\" Caption=\"Port\" TypeValue=\"String\" DefaultValue=\"COM41\">\r\n"
    L"    <ChoiceList><Item Value=\"Auto\">Automatic</Item><Item Value=\"COM1\">COM1</Item></ChoiceList>\r\n"
    L"   </Parameter>\r\n"
    L"   <Parameter Name=\"ReqTimeout\" Caption=\"Timeout\" TypeValue=\"Number\" DefaultValue=\"500ms\"/>\r\n"
    L"   <Parameter Name=\"Wiegand\" Caption=\"Wiegand\" TypeValue=\"Boolean\" DefaultValue=\"True\"/>\r\n"
    L"   <Parameter Name=\"Binary\" Caption=\"Binary\" TypeValue=\"Boolean\" DefaultValue=\"true\""
    L" MasterParameterName=\"Model\" MasterParameterValue=\"3\" MasterParameterOperation=\"Equal\"/>\r\n"
    L"   <Parameter Name=\"Odd\" Caption=\"Odd\" TypeValue=\"number\" DefaultValue=\"12\"/>\r\n"
    L"  </Group>\r\n"
    L" </Page>\r\n"
    L" <Hidden Caption=\"Not a page\">\r\n"
    L"  <Group Caption=\"G\"><Parameter Name=\"Prefix\" TypeValue=\"String\" DefaultValue=\"[\"/></Group>\r\n"
    L" </Hidden>\r\n"
    L"</Settings>\r\n";

} // namespace

TEST(DriverParams, FlatListOfEveryParameterInDocumentOrder)
{
    CMemXML doc;
    doc.Parse(ParamsDoc);
    std::vector<DriverParameter> params = ReadDriverParameters(doc);
    ASSERT_EQ(7u, params.size());
    EXPECT_EQ(L"Model", params[0].name);
    EXPECT_EQ(DriverTypeNumber, params[0].type);
    EXPECT_EQ(L"3", params[0].value);
    EXPECT_EQ(DriverTypeString, params[1].type);
    EXPECT_EQ(DriverTypeBoolean, params[3].type);
    EXPECT_EQ(DriverTypeOther, params[5].type); // "number" in lower case is no known type
    // A page element of another name still contributes its parameters.
    EXPECT_EQ(L"Prefix", params[6].name);
    EXPECT_EQ(L"[", params[6].value);

    CMemXML empty;
    empty.Parse(L"<Other/>");
    EXPECT_TRUE(ReadDriverParameters(empty).empty());
    EXPECT_TRUE(ReadFormPages(empty).empty());
}

TEST(DriverParams, FormPagesGroupsAndControls)
{
    CMemXML doc;
    doc.Parse(ParamsDoc);
    std::vector<FormPage> pages = ReadFormPages(doc);
    ASSERT_EQ(1u, pages.size()); // only elements named "Page" get a tab
    EXPECT_EQ(L"Parameters", pages[0].caption);
    std::vector<FormGroup> groups = ReadFormGroups(*pages[0].node);
    ASSERT_EQ(1u, groups.size());
    EXPECT_EQ(L"Connection", groups[0].caption);
    const std::vector<ParamInfo>& p = groups[0].parameters;
    ASSERT_EQ(6u, p.size());
    EXPECT_EQ(FormControlKind::Combo, ControlKindFor(p[0]));
    ASSERT_EQ(2u, p[0].choices.size());
    EXPECT_EQ(L"Kora USB MF", p[0].choices[1].text);
    EXPECT_EQ(1, ChoiceIndexOf(p[0], p[0].defaultValue));
    EXPECT_EQ(-1, ChoiceIndexOf(p[1], p[1].defaultValue)); // COM41 is not among the choices
    EXPECT_EQ(FormControlKind::Edit, ControlKindFor(p[2]));
    EXPECT_EQ(FormControlKind::Check, ControlKindFor(p[3]));
    EXPECT_EQ(L"Model", p[4].masterName);
    EXPECT_EQ(L"3", p[4].masterValue);
    EXPECT_EQ(1, p[4].masterOperation);
    EXPECT_EQ(0, p[0].masterOperation);
    EXPECT_EQ(FormControlKind::None, ControlKindFor(p[5]));
}

TEST(DriverParams, ComboValueFromEntryOrTypedText)
{
    ParamInfo port;
    port.type = DriverTypeString;
    port.choices = {{L"Auto", L"Automatic"}, {L"COM1", L"COM1"}};
    EXPECT_EQ(L"Auto", ComboValue(port, 0, L"Automatic"));
    EXPECT_EQ(L"Auto", ComboValue(port, -1, L"Automatic")); // typed the shown text of an entry
    EXPECT_EQ(L"COM41", ComboValue(port, -1, L"COM41"));   // typed a port the list lacks
    EXPECT_EQ(L"COM41", ComboValue(port, 7, L"COM41"));

    std::vector<DriverParameter> params = {{1, L"Port", L"COM1"}, {1, L"Port", L"COM2"}};
    EXPECT_TRUE(StoreParameterValue(params, L"Port", L"COM41"));
    EXPECT_EQ(L"COM41", params[0].value); // the first of that name
    EXPECT_EQ(L"COM2", params[1].value);
    EXPECT_FALSE(StoreParameterValue(params, L"port", L"x"));
}

TEST(DriverParams, ApplyPlanConvertsByType)
{
    CMemXML doc;
    doc.Parse(ParamsDoc);
    std::vector<ApplyStep> plan = MakeApplyPlan(ReadDriverParameters(doc));
    ASSERT_EQ(7u, plan.size());
    EXPECT_EQ(ApplyStep::Number, plan[0].kind);
    EXPECT_EQ(3, plan[0].number);
    EXPECT_EQ(ApplyStep::Text, plan[1].kind);
    EXPECT_EQ(L"COM41", plan[1].text);
    EXPECT_EQ(ApplyStep::Number, plan[2].kind);
    EXPECT_EQ(500, plan[2].number); // the leading digits of "500ms"
    EXPECT_EQ(ApplyStep::Boolean, plan[3].kind);
    EXPECT_FALSE(plan[3].flag); // "True" is not "true"
    EXPECT_TRUE(plan[4].flag);
    EXPECT_EQ(ApplyStep::Text, plan[5].kind); // unknown type: sent as text
    EXPECT_EQ(L"12", plan[5].text);
    EXPECT_TRUE(MakeApplyPlan({}).empty());

    EXPECT_EQ(0, LeadingDecimal(L""));
    EXPECT_EQ(0, LeadingDecimal(L"abc"));
    EXPECT_EQ(-42, LeadingDecimal(L"  -42x"));
    EXPECT_EQ(2147483647, LeadingDecimal(L"99999999999"));
    EXPECT_EQ(-2147483647 - 1, LeadingDecimal(L"-99999999999"));
}

TEST(DriverParams, ActionsWithCaptionsOrNames)
{
    CMemXML doc;
    doc.Parse(L"<Actions><Action Name=\"Beep\" Caption=\"Sound\"/><Action Name=\"Reset\" Caption=\"\"/>"
              L"<Action Caption=\"No name\"/></Actions>");
    std::vector<DriverAction> actions = ReadDriverActions(doc);
    ASSERT_EQ(2u, actions.size());
    EXPECT_EQ(L"Sound", actions[0].caption);
    EXPECT_EQ(L"Reset", actions[1].caption);
    CMemXML none;
    none.Parse(L"<Actions/>");
    EXPECT_TRUE(ReadDriverActions(none).empty());
}

TEST(DriverParams, TypedNumbersAreWholeSigned32BitNumbers)
{
    for (const wchar_t* good : {L"0", L"-1", L"+7", L" 42 ", L"2147483647", L"-2147483648"})
        EXPECT_TRUE(IsDriverNumber(good)) << good;
    for (const wchar_t* bad : {L"", L" ", L"-", L"+", L"1 2", L"12abc", L"0x10", L"2147483648", L"-2147483649",
                               L"99999999999999999999", L"--1", L"1.5"})
        EXPECT_FALSE(IsDriverNumber(bad)) << bad;
}
