// The equipment-driver methods through which the platform handles the add-in as a driver of input
// devices (version, description, last error, the parameters document, parameters one by one, and
// the additional actions), and the parameters document itself.
//
// The parameters document is built as text, not through the XML model, because the platform's
// parameter form reads it as written. Every text put into it (port names, captions, values) is
// escaped on the way in; only the control-character captions are written as markup, since they
// carry their own character references.
#include "Component.h"
#include "AddinStrings.h"
#include "AddinVersion.h"
#include "Messages.h"
#include "Models.h"
#include "ResText.h"
#include "SerialPorts.h"
#include "WFormat.h"
#include <vector>

namespace {

const wchar_t* const DriverName = L"Parvel";
const wchar_t* const EquipmentType = L"СчитывательМагнитныхКарт"; // the platform's name, in both languages
const int32_t InterfaceRevision = 1005;
const wchar_t* const DownloadAddress = L"https://www.corvane.example/parvel/";

const long ParameterCount = 14; // properties 0-13 (Model .. Suffix) are the driver's parameters
const long FirstDeviceParameter = 12; // Prefix and Suffix form the second group

const unsigned Speeds[] = {9600, 19200, 38400, 57600, 115200, 230400};

const wchar_t* const ControlNames[32] = {
    L"NUL", L"SOH", L"STX", L"ETX", L"EOT", L"ENQ", L"ACK", L"BEL", L"BS",  L"TAB", L"LF",
    L"VT",  L"FF",  L"CR",  L"SO",  L"SI",  L"DLE", L"DC1", L"DC2", L"DC3", L"DC4", L"NAK",
    L"SYN", L"ETB", L"CAN", L"EM",  L"SUB", L"ESC", L"FS",  L"GS",  L"RS",  L"US",
};

// The caption of a prefix or suffix value -1 .. 127.
std::wstring CharacterCaption(int value)
{
    std::wstring caption;
    if (value < 0)
        caption = L"&lt;NONE&gt;";
    else if (value < 32)
        FormatString(caption, L"%d (%s)", value, ControlNames[value]);
    else if (value == 32)
        caption = L"32 (SPACE)";
    else if (value == 127)
        caption = L"127 (DEL)";
    else
        FormatString(caption, L"%d (&#x%x;)", value, value);
    return caption;
}

// The text as XML character data or attribute value.
std::wstring Escaped(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += L"&quot;"; break;
        case L'\'': out += L"&apos;"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::wstring Decimal(long long value)
{
    std::wstring text;
    FormatString(text, L"%lld", value);
    return text;
}

// Builds the document line by line: every line ends with CR LF except the last.
class CParametersWriter
{
public:
    void Line(const std::wstring& text)
    {
        if (!m_text.empty())
            m_text += L"\r\n";
        m_text += text;
    }
    void Item(const std::wstring& value, const std::wstring& caption, bool tab = false)
    {
        MarkupItem(value, Escaped(caption), tab);
    }
    // An item whose caption is already markup.
    void MarkupItem(const std::wstring& value, const std::wstring& caption, bool tab)
    {
        Line((tab ? L"\t" : L"") + (L"<Item Value=\"" + Escaped(value) + L"\">" + caption + L"</Item>"));
    }
    // A parameter line; with choices its start tag stays open for the list that follows.
    void Parameter(long number, const wchar_t* name, const wchar_t* type, const std::wstring& def,
                   bool choices)
    {
        Line(L"<Parameter Name=\"" + Escaped(name) + L"\" Caption=\"" +
             Escaped(LoadResString(IDS_PARAMETER_CAPTION + number)) + L"\" TypeValue=\"" + type +
             L"\" DefaultValue=\"" + Escaped(def) + (choices ? L"\">" : L"\"/>"));
    }
    // An element that opens with a caption attribute.
    void Captioned(const wchar_t* element, const std::wstring& caption)
    {
        Line(L"<" + std::wstring(element) + L" Caption=\"" + Escaped(caption) + L"\">");
    }
    void BeginChoices() { Line(L"<ChoiceList>"); }
    void EndChoices()
    {
        Line(L"</ChoiceList>");
        Line(L"</Parameter>");
    }
    const std::wstring& Text() const { return m_text; }

private:
    std::wstring m_text;
};

} // namespace

// ---------------------------------------------------------------------------------------------

bool CParvel::MethodGetVersion(tVariant* result, tVariant* params, long count)
{
    if (result)
        MakeStringVariant(result, PARVEL_VERSION_WTEXT);
    return true;
}

bool CParvel::MethodGetDescription(tVariant* result, tVariant* params, long count)
{
    if (!params || count < 7) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    MakeStringVariant(&params[0], DriverName);
    MakeStringVariant(&params[1], LoadResString(IDS_DRIVER_DESCRIPTION).c_str());
    MakeStringVariant(&params[2], EquipmentType);
    SetI4Variant(&params[3], InterfaceRevision);
    SetBoolVariant(&params[4], false); // no integration library
    SetBoolVariant(&params[5], true);  // the main driver is installed
    MakeStringVariant(&params[6], DownloadAddress);
    if (result)
        SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodGetLastError(tVariant* result, tVariant* params, long count)
{
    if (!params || count < 1) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    MakeStringVariant(&params[0], m_lastErrorText.c_str(), static_cast<ptrdiff_t>(m_lastErrorText.size()));
    if (result)
        SetI4Variant(result, m_lastErrorCode);
    return true;
}

bool CParvel::MethodGetParameters(tVariant* result, tVariant* params, long count)
{
    if (!params || count < 1) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    // The defaults are the values as last loaded, not the working ones.
    const CReaderSettings& s = m_loaded;
    const std::wstring autoCaption = LoadResString(IDS_AUTO);
    std::vector<std::wstring> ports;
    EnumSerialPorts(ports);

    CParametersWriter w;
    w.Line(L"<?xml version=\"1.0\" encoding=\"UTF-8\" ?>");
    w.Line(L"<Settings>");
    w.Captioned(L"Page", LoadResString(IDS_PAGE_PARAMETERS));
    w.Captioned(L"Group", LoadResString(IDS_GROUP_CONNECTION));

    w.Parameter(0, Props[0].English, L"Number", Decimal(static_cast<int32_t>(s.Model)), true);
    w.BeginChoices();
    w.Item(L"0", autoCaption);
    for (uint32_t model = 1; model < MODEL_COUNT; ++model)
        w.Item(Decimal(model), ReaderModelName(model), true);
    w.EndChoices();

    w.Parameter(1, Props[1].English, L"String", s.Portname, true);
    w.BeginChoices();
    w.Item(L"Auto", autoCaption);
    for (const std::wstring& port : ports)
        w.Item(port, port);
    w.EndChoices();

    w.Parameter(2, Props[2].English, L"Number", Decimal(static_cast<int32_t>(s.Speed)), true);
    w.BeginChoices();
    w.Item(L"0", autoCaption);
    for (unsigned speed : Speeds)
        w.Item(Decimal(speed), Decimal(speed));
    w.EndChoices();

    w.Parameter(3, Props[3].English, L"Number", Decimal(static_cast<int32_t>(s.StopBits)), true);
    w.BeginChoices();
    w.Item(L"0", L"1");
    w.Item(L"1", L"1.5");
    w.Item(L"2", L"2");
    w.EndChoices();

    w.Parameter(4, Props[4].English, L"Number", Decimal(s.ConnectTimeout), false);
    w.Parameter(5, Props[5].English, L"Number", Decimal(s.ConnectPeriod), false);
    w.Parameter(6, Props[6].English, L"Number", Decimal(s.RxPeriod), false);
    w.Parameter(7, Props[7].English, L"Number", Decimal(s.ReqTimeout), false);
    w.Parameter(8, Props[8].English, L"Number", Decimal(s.ReqTries), false);
    auto boolText = [](bool on) { return std::wstring(on ? L"true" : L"false"); };
    w.Parameter(9, Props[9].English, L"Boolean", boolText((s.Flags & SETTINGS_FLAG_WIEGAND) != 0), false);
    w.Parameter(10, Props[10].English, L"Boolean", boolText((s.Flags & SETTINGS_FLAG_BINARY) != 0), false);
    w.Parameter(11, Props[11].English, L"Boolean",
                boolText((s.Flags & SETTINGS_FLAG_NO_CORRECT_VM100) == 0), false);
    w.Line(L"</Group>");

    w.Captioned(L"Group", LoadResString(IDS_GROUP_DEVICE));
    for (long number = FirstDeviceParameter; number < ParameterCount; ++number) {
        int32_t value = number == FirstDeviceParameter ? s.Prefix : s.Suffix;
        w.Parameter(number, Props[number].English, L"Number", Decimal(value), true);
        w.BeginChoices();
        for (int code = -1; code <= 127; ++code)
            w.MarkupItem(Decimal(code), CharacterCaption(code), true);
        w.EndChoices();
    }
    w.Line(L"</Group>");
    w.Line(L"</Page>");
    w.Line(L"</Settings>");

    MakeStringVariant(&params[0], w.Text().c_str(), static_cast<ptrdiff_t>(w.Text().size()));
    if (result)
        SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodSetParameter(tVariant* result, tVariant* params, long count)
{
    if (!params || count < 2) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    if (result)
        SetBoolVariant(result, false);
    if (params[0].vt != VTYPE_PWSTR) {
        SetLastError(PE_INVALID_PARAM_TYPE);
        return true;
    }
    const std::wstring name = VariantText(params[0]);
    long number = -1;
    for (long i = 0; i < ParameterCount && number < 0; ++i)
        if (name == Props[i].English)
            number = i;
    if (number < 0) {
        SetLastError(PE_PARAM_NOT_EXIST);
        return true;
    }

    // Any numeric type is taken for its value, whatever the property's own type is (the platform's
    // parameter form may send a number for a boolean, a double for a number): booleans are on for
    // any value but 0, numbers must be whole and fit in 32 bits. The port takes nothing but a text,
    // and a text is never read as a number.
    const tVariant& value = params[1];
    int64_t number64 = 0;
    if (number == 1 ? value.vt != VTYPE_PWSTR : !VariantToInteger(value, number64)) {
        SetLastError(PE_INVALID_PARAM_TYPE);
        return true;
    }
    const bool isBoolean = number >= 9 && number <= 11;
    if (number != 1 && !isBoolean && (number64 < INT32_MIN || number64 > UINT32_MAX)) {
        SetLastError(PE_INDEX_OUT_OF_RANGE);
        return true;
    }

    CReaderSettings& w = m_working;
    const uint32_t v = static_cast<uint32_t>(number64);
    const bool on = number64 != 0;
    switch (number) {
    case 0:
        if (v > 9) {
            SetLastError(PE_INDEX_OUT_OF_RANGE);
            return true;
        }
        w.Model = v;
        break;
    case 1: w.Portname = VariantText(value); break;
    case 2: w.Speed = v; break;
    case 3: w.StopBits = v; break;
    case 4: w.ConnectTimeout = static_cast<int32_t>(v); break;
    case 5: w.ConnectPeriod = static_cast<int32_t>(v); break;
    case 6: w.RxPeriod = static_cast<int32_t>(v); break;
    case 7: w.ReqTimeout = static_cast<int32_t>(v); break;
    case 8: w.ReqTries = static_cast<int32_t>(v); break;
    case 9: w.Flags = on ? w.Flags | SETTINGS_FLAG_WIEGAND : w.Flags & ~SETTINGS_FLAG_WIEGAND; break;
    case 10: w.Flags = on ? w.Flags | SETTINGS_FLAG_BINARY : w.Flags & ~SETTINGS_FLAG_BINARY; break;
    case 11:
        w.Flags = on ? w.Flags & ~SETTINGS_FLAG_NO_CORRECT_VM100 : w.Flags | SETTINGS_FLAG_NO_CORRECT_VM100;
        break;
    case 12: w.Prefix = static_cast<int32_t>(v); break;
    case 13: w.Suffix = static_cast<int32_t>(v); break;
    }
    if (result)
        SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodGetAdditionalActions(tVariant* result, tVariant* params, long count)
{
    if (!params || count < 1) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    MakeStringVariant(&params[0], L"");
    if (result)
        SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodDoAdditionalAction(tVariant* result, tVariant* params, long count)
{
    // The driver offers no additional actions: every request fails the call.
    return false;
}
