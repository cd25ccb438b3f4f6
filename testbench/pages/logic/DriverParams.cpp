// Reading the add-in's parameters and actions documents and planning the SetParameter calls.
#include "DriverParams.h"
#include <climits>
#include <cwctype>

uint32_t DriverTypeFromText(const std::wstring& text)
{
    if (text == L"String")
        return DriverTypeString;
    if (text == L"Number")
        return DriverTypeNumber;
    if (text == L"Boolean")
        return DriverTypeBoolean;
    return DriverTypeOther;
}

const CMXNode* DriverSettingsRoot(const CMemXML& doc)
{
    return doc.Root().FindChild(L"Settings");
}

std::vector<DriverParameter> ReadDriverParameters(const CMemXML& doc)
{
    std::vector<DriverParameter> out;
    const CMXNode* settings = DriverSettingsRoot(doc);
    if (!settings)
        return out;
    for (const CMXNode* page : settings->Children)
        for (const CMXNode* group : page->Children)
            for (const CMXNode* param : group->Children) {
                DriverParameter p;
                p.type = DriverTypeFromText(param->GetAttribute(L"TypeValue"));
                p.name = param->GetAttribute(L"Name");
                p.value = param->GetAttribute(L"DefaultValue");
                out.push_back(p);
            }
    return out;
}

std::vector<FormPage> ReadFormPages(const CMemXML& doc)
{
    std::vector<FormPage> out;
    const CMXNode* settings = DriverSettingsRoot(doc);
    if (!settings)
        return out;
    for (const CMXNode* page : settings->Children)
        if (page->Name == L"Page")
            out.push_back(FormPage{page->GetAttribute(L"Caption"), page});
    return out;
}

std::vector<FormGroup> ReadFormGroups(const CMXNode& page)
{
    std::vector<FormGroup> out;
    for (const CMXNode* group : page.Children) {
        if (group->Name != L"Group")
            continue;
        FormGroup g;
        g.caption = group->GetAttribute(L"Caption");
        for (const CMXNode* param : group->Children) {
            if (param->Name != L"Parameter")
                continue;
            ParamInfo p;
            p.name = param->GetAttribute(L"Name");
            p.caption = param->GetAttribute(L"Caption");
            p.type = DriverTypeFromText(param->GetAttribute(L"TypeValue"));
            p.defaultValue = param->GetAttribute(L"DefaultValue");
            p.masterName = param->GetAttribute(L"MasterParameterName");
            p.masterValue = param->GetAttribute(L"MasterParameterValue");
            p.masterOperation = param->GetAttribute(L"MasterParameterOperation") == L"Equal" ? 1 : 0;
            if (const CMXNode* list = param->FindChild(L"ChoiceList"))
                for (const CMXNode* item : list->Children)
                    if (item->Name == L"Item")
                        p.choices.push_back(ParamChoice{item->GetAttribute(L"Value"), item->Text});
            g.parameters.push_back(p);
        }
        out.push_back(g);
    }
    return out;
}

FormControlKind ControlKindFor(const ParamInfo& param)
{
    switch (param.type) {
    case DriverTypeString:
    case DriverTypeNumber:
        return param.choices.empty() ? FormControlKind::Edit : FormControlKind::Combo;
    case DriverTypeBoolean:
        return FormControlKind::Check;
    default:
        return FormControlKind::None;
    }
}

int ChoiceIndexOf(const ParamInfo& param, const std::wstring& value)
{
    for (size_t i = 0; i < param.choices.size(); ++i)
        if (param.choices[i].value == value)
            return static_cast<int>(i);
    return -1;
}

std::wstring ComboValue(const ParamInfo& param, int chosen, const std::wstring& typed)
{
    if (chosen >= 0 && chosen < static_cast<int>(param.choices.size()))
        return param.choices[chosen].value;
    for (const ParamChoice& c : param.choices)
        if (c.text == typed)
            return c.value;
    return typed;
}

bool StoreParameterValue(std::vector<DriverParameter>& params, const std::wstring& name, const std::wstring& value)
{
    for (DriverParameter& p : params)
        if (p.name == name) {
            p.value = value;
            return true;
        }
    return false;
}

std::vector<DriverAction> ReadDriverActions(const CMemXML& doc)
{
    std::vector<DriverAction> out;
    const CMXNode* actions = doc.Root().FindChild(L"Actions");
    if (!actions)
        return out;
    for (const CMXNode* action : actions->Children) {
        DriverAction a;
        a.name = action->GetAttribute(L"Name");
        if (a.name.empty())
            continue;
        a.caption = action->GetAttribute(L"Caption");
        if (a.caption.empty())
            a.caption = a.name;
        out.push_back(a);
    }
    return out;
}

namespace {

// Blanks, an optional sign and the decimal digits that follow, from the start of a text.
struct DecimalPrefix
{
    int32_t value = 0;    // clamped to 32 bits
    bool digits = false;  // at least one digit
    bool clamped = false; // the digits lie outside 32 bits
    size_t end = 0;       // where the digits end
};

DecimalPrefix ReadDecimalPrefix(const std::wstring& text)
{
    DecimalPrefix prefix;
    size_t i = 0;
    while (i < text.size() && std::iswspace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+'))
        negative = text[i++] == L'-';
    const size_t first = i;
    long long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
            prefix.clamped = true;
        }
    }
    if (negative)
        value = -value;
    if (value > INT_MAX) {
        value = INT_MAX;
        prefix.clamped = true;
    }
    prefix.value = static_cast<int32_t>(value);
    prefix.digits = i > first;
    prefix.end = i;
    return prefix;
}

} // namespace

int32_t LeadingDecimal(const std::wstring& text)
{
    return ReadDecimalPrefix(text).value;
}

std::vector<ApplyStep> MakeApplyPlan(const std::vector<DriverParameter>& params)
{
    std::vector<ApplyStep> plan;
    for (const DriverParameter& p : params) {
        ApplyStep step;
        step.name = p.name;
        if (p.type == DriverTypeNumber) {
            step.kind = ApplyStep::Number;
            step.number = LeadingDecimal(p.value);
        } else if (p.type == DriverTypeBoolean) {
            step.kind = ApplyStep::Boolean;
            step.flag = p.value == L"true";
        } else {
            step.kind = ApplyStep::Text;
            step.text = p.value;
        }
        plan.push_back(step);
    }
    return plan;
}

bool IsDriverNumber(const std::wstring& text)
{
    const DecimalPrefix prefix = ReadDecimalPrefix(text);
    if (!prefix.digits || prefix.clamped)
        return false;
    size_t i = prefix.end;
    while (i < text.size() && std::iswspace(text[i]))
        ++i;
    return i == text.size();
}
