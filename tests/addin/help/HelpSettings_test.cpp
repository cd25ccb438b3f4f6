// What the help topics state of the add-in's settings and failures, against the add-in itself:
// the Main page's table from each field to its property and SetParameter name, the defaults of
// the properties table, the system codes the error topic lists, and the reasons a settings file
// counts as damaged. The fields and the settings they change are written out here, so that a row
// that points at another setting, or a misspelt name, is seen.
#include "ComPort.h"
#include "ComponentFixture.h"
#include "FoundationStrings.h"
#include "HelpMarks.h"
#include "ModuleState.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <map>
#include <set>
#include <string>
#include <vector>

using helpmarks::Narrow;
using helpmarks::TopicPath;

namespace {

const wchar_t* const Languages[] = {L"en", L"ru"};

std::wstring Topic(const wchar_t* language, const wchar_t* topic)
{
    std::wstring html;
    EXPECT_TRUE(helpmarks::ReadUtf8File(TopicPath(language, topic), html)) << "cannot read a topic";
    return html;
}

// The text a reader sees: tags left out, the character references the topics use decoded, and
// every run of white space one blank.
std::wstring Plain(const std::wstring& html)
{
    std::wstring out;
    bool inTag = false;
    for (wchar_t c : html) {
        if (c == L'<')
            inTag = true;
        else if (c == L'>')
            inTag = false;
        else if (!inTag)
            out += c;
    }
    const std::pair<const wchar_t*, const wchar_t*> references[] = {
        {L"&quot;", L"\""}, {L"&lt;", L"<"}, {L"&gt;", L">"}, {L"&apos;", L"'"}, {L"&amp;", L"&"}};
    for (const auto& r : references) {
        for (size_t at = out.find(r.first); at != std::wstring::npos; at = out.find(r.first, at + 1))
            out.replace(at, wcslen(r.first), r.second);
    }
    std::wstring squeezed;
    for (wchar_t c : out) {
        const bool blank = iswspace(c) != 0;
        if (blank && (squeezed.empty() || squeezed.back() == L' '))
            continue;
        squeezed += blank ? L' ' : c;
    }
    while (!squeezed.empty() && squeezed.back() == L' ')
        squeezed.pop_back();
    return squeezed;
}

// The rows of the first table after `from`, each as its cells' HTML.
std::vector<std::vector<std::wstring>> TableRows(const std::wstring& html, const std::wstring& from)
{
    std::vector<std::vector<std::wstring>> rows;
    const size_t start = html.find(from);
    if (start == std::wstring::npos)
        return rows;
    const size_t end = html.find(L"</table>", start);
    for (size_t row = html.find(L"<tr>", start); row < end; row = html.find(L"<tr>", row + 1)) {
        const size_t rowEnd = html.find(L"</tr>", row);
        std::vector<std::wstring> cells;
        for (size_t cell = html.find(L"<td", row); cell < rowEnd; cell = html.find(L"<td", cell + 1)) {
            const size_t open = html.find(L'>', cell) + 1;
            cells.push_back(html.substr(open, html.find(L"</td>", open) - open));
        }
        if (!cells.empty())
            rows.push_back(cells);
    }
    return rows;
}

// The locale the component speaks in for the time of a scope.
class ComponentLanguage
{
public:
    ComponentLanguage(slothost::Component& c, bool russian) : m_c(c), m_thread(GetThreadLocale()), m_messages(MessageLcid)
    {
        SetThreadLocale(MAKELCID(MAKELANGID(russian ? LANG_RUSSIAN : LANG_ENGLISH,
                                            russian ? SUBLANG_DEFAULT : SUBLANG_ENGLISH_US),
                                 SORT_DEFAULT));
        m_c.SetLocale(russian ? L"ru_RU" : L"en_US");
    }
    ~ComponentLanguage()
    {
        SetThreadLocale(m_thread);
        MessageLcid = m_messages;
        m_c.SetLocale(nullptr);
    }
    ComponentLanguage(const ComponentLanguage&) = delete;
    ComponentLanguage& operator=(const ComponentLanguage&) = delete;

private:
    slothost::Component& m_c;
    LCID m_thread;
    LCID m_messages;
};

// One string of the test program's string table (which carries the add-in's) in one language.
std::wstring ResourceString(unsigned id, WORD language)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceExW(module, reinterpret_cast<LPCWSTR>(RT_STRING), MAKEINTRESOURCEW(id / 16 + 1), language);
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const wchar_t* entry = loaded ? static_cast<const wchar_t*>(LockResource(loaded)) : nullptr;
    if (!entry)
        return std::wstring();
    for (unsigned i = 0; i < id % 16; ++i)
        entry += 1 + *entry;
    return std::wstring(entry + 1, *entry);
}

std::wstring Hex(uint32_t code)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08X", code);
    return text;
}

class HelpSettings : public ComponentTest
{
protected:
    // The property's (English, Russian) names, empty when the add-in has no such property.
    std::pair<std::wstring, std::wstring> PropertyNames(const std::wstring& english)
    {
        const long n = c.FindProp(english.c_str());
        if (n < 0)
            return {};
        return {c.GetPropName(n, 0), c.GetPropName(n, 1)};
    }

    // The driver form's caption of each parameter, in the component's language of the moment.
    std::map<std::wstring, std::wstring> DriverCaptions()
    {
        tVariant result = slothost::Empty();
        std::vector<tVariant> params{slothost::Empty()};
        EXPECT_TRUE(c.Func(MGetParameters, result, params));
        const std::wstring xml = slothost::Text(params[0]);
        std::map<std::wstring, std::wstring> captions;
        const std::wstring name = L"<Parameter Name=\"", caption = L"\" Caption=\"";
        for (size_t at = xml.find(name); at != std::wstring::npos; at = xml.find(name, at + 1)) {
            const size_t nameEnd = xml.find(caption, at);
            const size_t captionEnd = xml.find(L'"', nameEnd + caption.size());
            captions[xml.substr(at + name.size(), nameEnd - at - name.size())] =
                Plain(xml.substr(nameEnd + caption.size(), captionEnd - nameEnd - caption.size()));
        }
        return captions;
    }

    // Whether SetParameter takes the name with the property's own value.
    bool SetParameterTakes(const std::wstring& name)
    {
        tVariant value = slothost::Empty();
        const long n = c.FindProp(name.c_str());
        std::wstring text;
        if (n >= 0) {
            value = Prop(n);
            if (value.vt == VTYPE_PWSTR) {
                text = slothost::Text(value);
                value = slothost::Str(text.c_str());
            }
        }
        tVariant result = slothost::Empty();
        std::vector<tVariant> params{slothost::Str(name.c_str()), value};
        EXPECT_TRUE(c.Func(MSetParameter, result, params));
        return result.vt == VTYPE_BOOL && result.bVal;
    }
};

} // namespace

// Each field of the Main page and the setting it changes: the table of "The same settings in 1C
// code" must name that setting's property in both languages, the driver form's caption of it and
// the name SetParameter takes; a field that is no driver parameter has neither.
TEST_F(HelpSettings, EachFieldRowNamesTheSettingItsFieldChanges)
{
    struct Field
    {
        const wchar_t* English;
        const wchar_t* Russian;
        const wchar_t* Property;
        bool Parameter;
    };
    const Field fields[] = {
        {L"Model", L"Модель", L"Model", true},
        {L"Port", L"Порт", L"Port", true},
        {L"Speed", L"Скорость", L"Speed", true},
        {L"Stop bits", L"Стоп-биты", L"StopBits", true},
        {L"Timeout TCP connections (ms)", L"Тайм-аут TCP-подключения (мс)", L"ConnectTimeout", true},
        {L"Timeout request (ms)", L"Тайм-аут запроса (мс)", L"ReqTimeout", true},
        {L"Attempts request", L"Попыток запроса", L"ReqTries", true},
        {L"Period check incoming (ms)", L"Период проверки приёма (мс)", L"RxPeriod", true},
        {L"Connection period (ms)", L"Период подключения (мс)", L"ConnectPeriod", true},
        {L"Wiegand", L"Wiegand", L"Wiegand", true},
        {L"Binary mode", L"Двоичный режим", L"BinaryMode", true},
        {L"Correct VM-100", L"Коррекция VM-100", L"CorrectVM100", true},
        {L"Log: Enabled", L"Журнал: Включён", L"Log", false},
        {L"Search IP-converters via UDP: Timeout request (ms)", L"Поиск IP-конвертеров через UDP: Тайм-аут запроса (мс)",
         L"FindIpTimeout", false},
        {L"Search IP-converters via UDP: Attempts request", L"Поиск IP-конвертеров через UDP: Попыток запроса",
         L"FindIpTries", false},
    };
    for (int russian = 0; russian < 2; ++russian) {
        std::map<std::wstring, std::wstring> captions;
        {
            ComponentLanguage language(c, russian != 0);
            captions = DriverCaptions();
        }
        ASSERT_EQ(captions.size(), 14u);
        const auto rows = TableRows(Topic(Languages[russian], L"page-main.htm"), L"<a name=\"names\">");
        for (const Field& field : fields) {
            const std::wstring label = russian ? field.Russian : field.English;
            SCOPED_TRACE(Narrow(std::wstring(Languages[russian]) + L": " + label));
            const std::vector<std::wstring>* row = nullptr;
            for (const auto& r : rows) {
                if (r.size() == 4 && Plain(r[0]) == label) {
                    EXPECT_EQ(row, nullptr) << "two rows for the field";
                    row = &r;
                }
            }
            ASSERT_NE(row, nullptr) << "no row for the field";
            const auto names = PropertyNames(field.Property);
            ASSERT_FALSE(names.first.empty()) << "the add-in has no property " << Narrow(field.Property);
            const std::wstring own = russian ? names.second : names.first, other = russian ? names.first : names.second;
            EXPECT_EQ(Narrow(own + L" (" + other + L")"), Narrow(Plain((*row)[2])));
            EXPECT_NE((*row)[2].find(L"href=\"addin-properties.htm#" + names.first + L"\""), std::wstring::npos);
            if (field.Parameter) {
                EXPECT_EQ(Narrow(field.Property), Narrow(Plain((*row)[3])));
                EXPECT_TRUE(SetParameterTakes(Plain((*row)[3]))) << "SetParameter refuses the row's name";
                EXPECT_EQ(Narrow(captions[field.Property]), Narrow(Plain((*row)[1]))) << "the driver form's caption";
            } else {
                EXPECT_EQ("", Narrow(Plain((*row)[1]) + Plain((*row)[3])));
                EXPECT_FALSE(SetParameterTakes(field.Property)) << "SetParameter takes a setting the row says it does not";
            }
        }
    }
}

// The Default column of the properties table is what a new object reports, written as the
// built-in language shows it: an unsigned time of "no limit" as -1, never as 4294967295.
TEST_F(HelpSettings, EachDefaultIsWhatANewObjectReports)
{
    const long count = c.GetNProps();
    ASSERT_EQ(count, 27);
    for (int russian = 0; russian < 2; ++russian) {
        const auto rows = TableRows(Topic(Languages[russian], L"addin-properties.htm"), L"<table>");
        std::map<std::wstring, std::wstring> defaults;
        for (const auto& row : rows) {
            if (row.size() == 5)
                defaults[Plain(row[0])] = Plain(row[4]);
        }
        EXPECT_EQ(defaults.size(), static_cast<size_t>(count));
        for (long n = 0; n < count; ++n) {
            const std::wstring name = c.GetPropName(n, 0);
            SCOPED_TRACE(Narrow(std::wstring(Languages[russian]) + L": " + name));
            ASSERT_TRUE(defaults.count(name)) << "the table has no row for the property";
            const std::wstring written = defaults[name];
            const tVariant value = Prop(n);
            switch (value.vt) {
            case VTYPE_BOOL:
                EXPECT_EQ(Narrow(value.bVal ? (russian ? L"Истина" : L"True") : (russian ? L"Ложь" : L"False")),
                          Narrow(written));
                break;
            case VTYPE_I4:
                EXPECT_EQ(std::to_string(value.i32Val), Narrow(written));
                break;
            case VTYPE_UI1:
            case VTYPE_UI4: {
                const uint32_t held = value.vt == VTYPE_UI1 ? value.ui8Val : value.ui32Val;
                const long long number = wcstoll(written.c_str(), nullptr, 10);
                EXPECT_EQ(std::to_string(number), Narrow(written)) << "not a number";
                EXPECT_TRUE(number >= INT32_MIN && number <= INT32_MAX) << "a value the built-in language writes as "
                                                                        << static_cast<int32_t>(number);
                EXPECT_EQ(held, static_cast<uint32_t>(static_cast<int32_t>(number)));
                break;
            }
            case VTYPE_PWSTR:
            case VTYPE_BLOB: {
                const std::wstring text = value.vt == VTYPE_PWSTR ? slothost::Text(value) : std::wstring();
                EXPECT_TRUE(value.vt == VTYPE_PWSTR || value.bytes.len == 0);
                EXPECT_EQ(Narrow(text.empty() ? (russian ? L"пусто" : L"empty") : text), Narrow(written));
                break;
            }
            default:
                ADD_FAILURE() << "a property of type " << value.vt;
            }
        }
    }
}

// Every system code the add-in gives for the failures the error topic names has its row there,
// and a port that another program holds is the add-in's own "Port is busy.", not the system's
// text for a denied access.
TEST_F(HelpSettings, TheSystemCodesTheAddInGivesHaveTheirRows)
{
    std::vector<uint32_t> codes;
    // An expression list nested deeper than the parser goes.
    std::wstring deep;
    for (int i = 0; i < 120; ++i)
        deep += L"(";
    deep += L"1";
    for (int i = 0; i < 120; ++i)
        deep += L")";
    tVariant result = slothost::Empty();
    std::vector<tVariant> check{slothost::Str(L"%u"), slothost::Str(deep.c_str()), slothost::Empty()};
    EXPECT_TRUE(c.Func(MCheckFormat, result, check));
    codes.push_back(static_cast<uint32_t>(LastError()));
    // A key type out of range, and an expression list that does not parse, in Format.
    const uint8_t bytes[] = {0x39, 0x30, 0x7B};
    std::vector<tVariant> format{slothost::Empty(), slothost::Str(L"%u"), slothost::Str(L"b2"), slothost::UI4(19),
                                 slothost::Blob(bytes, sizeof(bytes))};
    EXPECT_TRUE(c.Func(MFormat, result, format));
    codes.push_back(static_cast<uint32_t>(LastError()));
    format[2] = slothost::Str(L"b2 q1");
    format[3] = slothost::UI4(1);
    EXPECT_TRUE(c.Func(MFormat, result, format));
    codes.push_back(static_cast<uint32_t>(LastError()));
    EXPECT_EQ(codes, (std::vector<uint32_t>{0x800703E9u, 0x80070057u, 0x80004005u}));

    // What Windows answers for a COM port that another handle holds.
    const HRESULT busy = MapComError(ERROR_ACCESS_DENIED, true);
    EXPECT_EQ(busy, MapComError(ERROR_SHARING_VIOLATION, true));
    for (const wchar_t* language : Languages) {
        SCOPED_TRACE(Narrow(language));
        const std::wstring html = Topic(language, L"addin-errors.htm");
        const size_t system = html.find(L"<table>", html.find(L"</table>"));
        ASSERT_NE(system, std::wstring::npos) << "no table of system codes";
        for (uint32_t code : codes) {
            wchar_t row[96];
            swprintf(row, 96, L"<tr><td>0x%08X<a name=\"x%08X\"></a></td><td>%d</td>", code, code, static_cast<int32_t>(code));
            EXPECT_NE(html.find(row, system), std::wstring::npos) << "no row for " << Narrow(Hex(code));
        }
        EXPECT_NE(html.find(Hex(static_cast<uint32_t>(busy)), system), std::wstring::npos)
            << "the system codes do not send a busy port to its own code";
        for (const wchar_t* denied : {L"Access is denied", L"Отказано в доступе"})
            EXPECT_EQ(html.find(denied), std::wstring::npos) << "names the system's text for a denied access";
    }
}

// The reasons a settings file counts as damaged, and the message that names it, are the program's
// own texts in each language.
TEST(HelpSettingsFiles, TheDamageReasonsAreTheProgramsTexts)
{
    const WORD languages[] = {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT)};
    for (int russian = 0; russian < 2; ++russian) {
        SCOPED_TRACE(Narrow(Languages[russian]));
        const std::wstring html = Topic(Languages[russian], L"settings.htm");
        for (unsigned id = IDS_XML_DAMAGE_FIRST; id < IDS_SETTINGS_FILE_DAMAGED; ++id) {
            const std::wstring text = ResourceString(id, languages[russian]);
            ASSERT_FALSE(text.empty()) << id;
            const size_t at = html.find(L"<li>" + text);
            EXPECT_NE(at, std::wstring::npos) << id << " " << Narrow(text);
            if (at != std::wstring::npos) {
                EXPECT_NE(std::wstring(L";. (").find(html[at + 4 + text.size()]), std::wstring::npos) << Narrow(text);
            }
        }
        std::wstring message = ResourceString(IDS_SETTINGS_FILE_DAMAGED, languages[russian]);
        for (size_t at = message.find(L"%s"); at != std::wstring::npos; at = message.find(L"%s"))
            message.replace(at, 2, L"...");
        // A sentence that ends at a placeholder ends with its dots.
        for (size_t at = message.find(L"...."); at != std::wstring::npos; at = message.find(L"...."))
            message.erase(at, 1);
        EXPECT_NE(Plain(html).find(message), std::wstring::npos) << Narrow(message);
    }
}

namespace {

bool EndsWith(const std::wstring& text, const std::wstring& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool StartsWith(const std::wstring& text, const std::wstring& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// The name a call in 1C code reaches: the method or property behind the platform's asynchronous
// forms (OpenAsync, SetPortAsync, BeginCallingOpen, BeginSettingPort and their Russian forms).
std::vector<std::wstring> NamesBehind(const std::wstring& called)
{
    std::vector<std::wstring> names{called};
    for (const wchar_t* prefix : {L"BeginCalling", L"BeginSetting", L"BeginGetting", L"НачатьВызов",
                                  L"НачатьУстановку", L"НачатьПолучение"}) {
        if (StartsWith(called, prefix))
            names.push_back(called.substr(wcslen(prefix)));
    }
    for (const wchar_t* suffix : {L"Async", L"Асинх"}) {
        if (!EndsWith(called, suffix))
            continue;
        const std::wstring base = called.substr(0, called.size() - wcslen(suffix));
        names.push_back(base);
        for (const wchar_t* prefix : {L"Set", L"Get", L"Установить", L"Получить"}) {
            if (StartsWith(base, prefix))
                names.push_back(base.substr(wcslen(prefix)));
        }
    }
    return names;
}

// The names a topic gives the add-in: what 1C code calls on the object, and what the prose calls
// one of its properties.
void NamedInTopic(const std::wstring& html, std::vector<std::wstring>& calls, std::vector<std::wstring>& properties)
{
    const std::wstring stops = L" \t\r\n(),;.=<>\"&";
    for (const wchar_t* object : {L"Reader.", L"Считыватель."}) {
        for (size_t at = html.find(object); at != std::wstring::npos; at = html.find(object, at + 1)) {
            const size_t start = at + wcslen(object);
            calls.push_back(html.substr(start, html.find_first_of(stops, start) - start));
        }
    }
    for (size_t at = html.find(L"<code>"); at != std::wstring::npos; at = html.find(L"<code>", at + 1)) {
        const size_t start = at + 6, end = html.find(L"</code>", start);
        const std::wstring before = html.substr(at > 40 ? at - 40 : 0, at > 40 ? 40 : at);
        const size_t word = before.rfind(L"свойств");
        const bool russian = word != std::wstring::npos &&
                             (before.find(L' ', word) == before.size() - 1 || EndsWith(before, L" компоненты "));
        if (EndsWith(before, L"add-in's ") || EndsWith(before, L"property ") || russian ||
            StartsWith(html.substr(end, 18), L"</code> property"))
            properties.push_back(html.substr(start, end - start));
    }
}

} // namespace

// Every name the topics give the add-in's object, in 1C code or as a property in the prose, is a
// method or property the add-in has (a misspelt name, or one it never had, compiles and fails).
TEST_F(HelpSettings, EveryNameTheTopicsGiveTheObjectIsTheAddInsOwn)
{
    std::set<std::wstring> methods, props;
    for (long n = 0; n < c.GetNMethods(); ++n) {
        methods.insert(c.GetMethodName(n, 0));
        methods.insert(c.GetMethodName(n, 1));
    }
    for (long n = 0; n < c.GetNProps(); ++n) {
        props.insert(c.GetPropName(n, 0));
        props.insert(c.GetPropName(n, 1));
    }
    ASSERT_EQ(methods.size(), 70u);
    ASSERT_EQ(props.size(), 54u);
    const wchar_t* const topics[] = {L"addin.htm", L"addin-methods.htm", L"addin-properties.htm", L"addin-events.htm",
                                     L"addin-errors.htm", L"first-steps.htm", L"formats.htm", L"template.htm",
                                     L"expressions.htm", L"page-main.htm", L"page-formats.htm", L"page-readkeys.htm",
                                     L"settings.htm"};
    size_t seen = 0;
    for (const wchar_t* language : Languages) {
        for (const wchar_t* topic : topics) {
            SCOPED_TRACE(Narrow(std::wstring(language) + L"/" + topic));
            std::vector<std::wstring> calls, properties;
            NamedInTopic(Topic(language, topic), calls, properties);
            seen += calls.size() + properties.size();
            for (const std::wstring& called : calls) {
                bool known = false;
                for (const std::wstring& name : NamesBehind(called))
                    known = known || methods.count(name) || props.count(name);
                EXPECT_TRUE(known) << "calls " << Narrow(called) << ", which the add-in does not have";
            }
            for (const std::wstring& property : properties)
                EXPECT_TRUE(props.count(property)) << "names the property " << Narrow(property) << ", which the add-in does not have";
        }
    }
    EXPECT_GT(seen, 100u);

    // The reading itself sees the names it is meant to.
    std::vector<std::wstring> calls, properties;
    NamedInTopic(L"<pre>Await Reader.SetPortAsync(\"COM3\");</pre> the add-in's <code>KeyTypes</code> and the "
                 L"свойстве компоненты <code>ТипыКлючей</code>, the <code>Port</code> property",
                 calls, properties);
    EXPECT_EQ(calls, std::vector<std::wstring>{L"SetPortAsync"});
    EXPECT_EQ(properties, (std::vector<std::wstring>{L"KeyTypes", L"ТипыКлючей", L"Port"}));
    EXPECT_EQ(NamesBehind(L"НачатьВызовПодключить").back(), L"Подключить");
    EXPECT_EQ(NamesBehind(L"SetPortAsync").back(), L"Port");
}
