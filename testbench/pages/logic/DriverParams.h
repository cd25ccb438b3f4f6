// The equipment-driver parameters as the device dialog reads them: the flat list of every
// parameter of the add-in's parameters document (what "Save and close" sends), the form of one
// page (groups of typed parameters with their choice lists), the driver's additional actions, and
// the plan of SetParameter calls that applies the parameters.
//
// The documents come from the add-in: nothing here trusts their shape; missing elements or
// attributes give empty values, never a failure.
#pragma once
#include "Xml.h"
#include <cstdint>
#include <string>
#include <vector>

const uint32_t DriverTypeOther = 0;
const uint32_t DriverTypeString = 1;
const uint32_t DriverTypeNumber = 2;
const uint32_t DriverTypeBoolean = 3;
// "String", "Number", "Boolean" (exact, case-sensitive); anything else is DriverTypeOther.
uint32_t DriverTypeFromText(const std::wstring& text);

struct DriverParameter
{
    uint32_t type = DriverTypeOther;
    std::wstring name;
    std::wstring value; // the default value, then what the form stored
};

// The root element "Settings" of a parsed parameters document, or null.
const CMXNode* DriverSettingsRoot(const CMemXML& doc);
// Every grandchild of every child of "Settings" (pages, groups, parameters, whatever their element
// names), in document order.
std::vector<DriverParameter> ReadDriverParameters(const CMemXML& doc);

struct ParamChoice
{
    std::wstring value; // the "Value" attribute
    std::wstring text;  // the element text shown in the combo box
};

struct ParamInfo
{
    uint32_t type = DriverTypeOther;
    std::wstring name;
    std::wstring caption;
    std::wstring defaultValue;
    std::vector<ParamChoice> choices;
    std::wstring masterName;
    std::wstring masterValue;
    int32_t masterOperation = 0; // 1 for "Equal"
};

struct FormGroup
{
    std::wstring caption;
    std::vector<ParamInfo> parameters;
};

// The "Page" children of "Settings" in order, each with its "Caption".
struct FormPage
{
    std::wstring caption;
    const CMXNode* node = nullptr;
};
std::vector<FormPage> ReadFormPages(const CMemXML& doc);
// The "Group" children of one page with their "Parameter" children.
std::vector<FormGroup> ReadFormGroups(const CMXNode& page);

// The control a parameter gets on the form.
enum class FormControlKind
{
    None = 0,  // a label only (a type the form does not know)
    Edit = 3,
    Combo = 4,
    Check = 5,
};
FormControlKind ControlKindFor(const ParamInfo& param);
// The combo entry to select for the default value; -1 when no item has it (the combo's text is
// then the default value itself).
int ChoiceIndexOf(const ParamInfo& param, const std::wstring& value);
// The value a combo box stands for: the chosen entry's item value; for a typed text (no entry
// chosen) the value of the item shown by that exact text, or else the typed text itself.
std::wstring ComboValue(const ParamInfo& param, int chosen, const std::wstring& typed);

// Stores a form control's value into the first parameter of that name (exact); false when none.
bool StoreParameterValue(std::vector<DriverParameter>& params, const std::wstring& name, const std::wstring& value);

struct DriverAction
{
    std::wstring name;
    std::wstring caption; // the name when the document gives no caption
};
// The children of the "Actions" element that have a name, in order.
std::vector<DriverAction> ReadDriverActions(const CMemXML& doc);

// One SetParameter call of the apply plan.
struct ApplyStep
{
    enum Kind { Text, Number, Boolean } kind = Text;
    std::wstring name;
    std::wstring text;   // Text
    int32_t number = 0;  // Number: the decimal value of the leading digits
    bool flag = false;   // Boolean: true exactly for "true"
};
std::vector<ApplyStep> MakeApplyPlan(const std::vector<DriverParameter>& params);
// Optional blanks, an optional sign and the decimal digits that follow, clamped to 32 bits; 0
// when there are no digits.
int32_t LeadingDecimal(const std::wstring& text);
// Whether a value typed for a "Number" parameter is one: optional blanks, an optional sign, decimal
// digits and optional blanks, within the signed 32 bits that SetParameter receives.
bool IsDriverNumber(const std::wstring& text);
