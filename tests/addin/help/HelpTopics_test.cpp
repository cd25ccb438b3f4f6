// The help topics for 1C developers against the add-in itself: every method, property and event
// name (English and Russian) and every error code with both its texts must be documented in both
// languages' topics, and nothing may be documented that the add-in does not have.
//
// Method and property names come from the built Parvel.dll, asked as the platform asks
// (GetNMethods/GetMethodName, GetNProps/GetPropName); the error codes and texts from that file's
// message table; the event names from the component's reader events, raised in both languages.
#include "Component.h"
#include "ComponentFixture.h"
#include "HelpMarks.h"
#include "ModuleState.h"
#include "ScratchRegistry.h"
#include "SlotHost.h"
#include "TestFolder.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace helpmarks;

namespace {

const wchar_t* const Languages[] = {L"en", L"ru"};
const wchar_t* const Topics[] = {L"addin.htm", L"addin-methods.htm", L"addin-properties.htm", L"addin-events.htm",
                                 L"addin-errors.htm"};

std::string Lines(const std::vector<std::wstring>& lines)
{
    std::string out;
    for (const std::wstring& line : lines)
        out += "  " + Narrow(line) + "\n";
    return out;
}

// The marks of one topic; a topic that cannot be read fails the test that asks for it.
std::vector<Mark> TopicMarks(const wchar_t* language, const wchar_t* topic)
{
    std::wstring html;
    EXPECT_TRUE(ReadUtf8File(TopicPath(language, topic), html))
        << "cannot read " << Narrow(TopicPath(language, topic)) << " as UTF-8";
    return ExtractMarks(html);
}

// Where each name stands in its topic: exactly one row of the topic's table, exactly one anchor
// for links to land on, and with `sections` (the methods) exactly one section whose heading names
// it. A name whose row or section alone is gone is missing all the same.
std::vector<std::wstring> PlacesOfEachName(const std::set<NamePair>& names, const wchar_t* language,
                                           const wchar_t* topic, bool sections)
{
    std::wstring html;
    EXPECT_TRUE(ReadUtf8File(TopicPath(language, topic), html));
    const std::vector<Mark> marks = ExtractMarks(html);
    std::vector<std::wstring> problems;
    std::vector<std::wstring> out = CompareEach(names, NamePairList(marks, L"td", problems), L"the table");
    if (sections) {
        const std::vector<std::wstring> more = CompareEach(names, NamePairList(marks, L"span", problems), L"the sections");
        out.insert(out.end(), more.begin(), more.end());
    }
    out.insert(out.end(), problems.begin(), problems.end());
    for (const NamePair& name : names) {
        const std::wstring target = L"<a name=\"" + name.first + L"\">";
        int count = 0;
        for (size_t at = html.find(target); at != std::wstring::npos; at = html.find(target, at + 1))
            ++count;
        if (count != 1)
            out.push_back(name.first + L" has " + std::to_wstring(count) + L" anchors, not one");
    }
    return out;
}

// The built library, loaded as the platform loads it.
class ParvelLibrary
{
public:
    ParvelLibrary() : m_module(LoadLibraryW(WinePath(PARVEL_DLL_PATH).c_str())) {}
    ~ParvelLibrary()
    {
        if (m_module)
            FreeLibrary(m_module);
    }
    ParvelLibrary(const ParvelLibrary&) = delete;
    ParvelLibrary& operator=(const ParvelLibrary&) = delete;

    HMODULE Module() const { return m_module; }

    template <typename Fn>
    Fn Export(const char* name) const
    {
        return m_module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, name))) : nullptr;
    }

private:
    HMODULE m_module;
};

std::wstring Name(const WCHAR_T* name)
{
    return name ? std::wstring(name) : std::wstring(L"<null>");
}

// Every (English, Russian) pair that the component's lookup slots give, for methods or properties.
void ComponentNames(std::set<NamePair>& methods, std::set<NamePair>& properties)
{
    ParvelLibrary library;
    ASSERT_NE(library.Module(), nullptr) << "cannot load " << PARVEL_DLL_PATH;
    auto getClassNames = library.Export<GetClassNamesFn>("GetClassNames");
    auto getClassObject = library.Export<GetClassObjectFn>("GetClassObject");
    auto destroyObject = library.Export<DestroyObjectFn>("DestroyObject");
    ASSERT_TRUE(getClassNames && getClassObject && destroyObject);
    IComponentBase* object = nullptr;
    ASSERT_NE(getClassObject(getClassNames(), &object), 0);
    slothost::FakeMemory memory;
    slothost::Component c(object);
    ASSERT_TRUE(c.SetMemManager(&memory));
    const long methodCount = c.GetNMethods();
    for (long n = 0; n < methodCount; ++n)
        methods.insert({Name(c.GetMethodName(n, 0)), Name(c.GetMethodName(n, 1))});
    const long propCount = c.GetNProps();
    for (long n = 0; n < propCount; ++n)
        properties.insert({Name(c.GetPropName(n, 0)), Name(c.GetPropName(n, 1))});
    EXPECT_EQ(methods.size(), static_cast<size_t>(methodCount)) << "two methods with the same names";
    EXPECT_EQ(properties.size(), static_cast<size_t>(propCount)) << "two properties with the same names";
    destroyObject(&object);
}

// The add-in's message table in one language: code -> text without its line end.
std::map<uint32_t, std::wstring> MessageTable(HMODULE module, WORD language)
{
    std::map<uint32_t, std::wstring> table;
    HRSRC info = FindResourceExW(module, reinterpret_cast<LPCWSTR>(RT_MESSAGETABLE), MAKEINTRESOURCEW(1), language);
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const BYTE* base = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!base)
        return table;
    const DWORD size = SizeofResource(module, info);
    const auto* data = reinterpret_cast<const MESSAGE_RESOURCE_DATA*>(base);
    for (DWORD b = 0; b < data->NumberOfBlocks; ++b) {
        const MESSAGE_RESOURCE_BLOCK& block = data->Blocks[b];
        DWORD offset = block.OffsetToEntries;
        for (DWORD id = block.LowId; id <= block.HighId && offset + 4 <= size; ++id) {
            const auto* entry = reinterpret_cast<const MESSAGE_RESOURCE_ENTRY*>(base + offset);
            if (entry->Length < 4 || offset + entry->Length > size)
                break;
            std::wstring text;
            if (entry->Flags & MESSAGE_RESOURCE_UNICODE) {
                const wchar_t* chars = reinterpret_cast<const wchar_t*>(entry->Text);
                text.assign(chars, (entry->Length - 4) / sizeof(wchar_t));
            } else {
                const char* chars = reinterpret_cast<const char*>(entry->Text);
                for (size_t i = 0; i + 4 < entry->Length; ++i)
                    text += static_cast<wchar_t>(static_cast<unsigned char>(chars[i]));
            }
            while (!text.empty() && (text.back() == L'\0' || text.back() == L'\n' || text.back() == L'\r'))
                text.pop_back();
            table[id] = text;
            offset += entry->Length;
        }
    }
    return table;
}

} // namespace

TEST(HelpTopicsTest, EveryTopicIsUtf8HtmlWithItsStyleSheet)
{
    for (const wchar_t* language : Languages) {
        for (const wchar_t* topic : Topics) {
            SCOPED_TRACE(Narrow(std::wstring(language) + L"/" + topic));
            std::wstring html;
            ASSERT_TRUE(ReadUtf8File(TopicPath(language, topic), html));
            EXPECT_NE(html.find(L"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"),
                      std::wstring::npos);
            EXPECT_NE(html.find(L"href=\"style.css\""), std::wstring::npos);
            EXPECT_NE(html.find(L"<h1>"), std::wstring::npos);
        }
    }
}

TEST(HelpTopicsTest, MethodAndPropertyNamesAreTheComponentsOwn)
{
    std::set<NamePair> methods, properties;
    ComponentNames(methods, properties);
    ASSERT_EQ(methods.size(), 35u);
    ASSERT_EQ(properties.size(), 27u);
    for (const wchar_t* language : Languages) {
        struct Topic
        {
            const wchar_t* File;
            const std::set<NamePair>& Names;
        };
        for (const Topic& topic : {Topic{L"addin-methods.htm", methods}, Topic{L"addin-properties.htm", properties}}) {
            SCOPED_TRACE(Narrow(std::wstring(language) + L"/" + topic.File));
            std::vector<std::wstring> problems;
            const std::set<NamePair> documented = NamePairs(TopicMarks(language, topic.File), problems);
            EXPECT_TRUE(problems.empty()) << Lines(problems);
            const std::vector<std::wstring> differences = ComparePairs(topic.Names, documented);
            EXPECT_TRUE(differences.empty()) << Lines(differences);
            const bool sections = &topic.Names == &methods;
            const std::vector<std::wstring> places = PlacesOfEachName(topic.Names, language, topic.File, sections);
            EXPECT_TRUE(places.empty()) << Lines(places);
        }
    }
}

TEST(HelpTopicsTest, EventNamesAreTheOnesTheComponentRaises)
{
    // The component as the platform makes it, kept away from the user's registry and folders.
    ScratchRegistry registry{HKEY_CURRENT_USER};
    ASSERT_TRUE(registry.Ok());
    TestFolder moduleFolder, appData;
    slothost::FakeConnection host;
    slothost::FakeMemory memory;
    std::set<NamePair> raised;
    {
        CParvel component(L"ParvelExtension");
        ComponentPlacement placement;
        placement.ModuleFolder = moduleFolder.Path();
        placement.AppDataFolder = appData.Path();
        placement.WindowHost = 0;
        component.SetPlacement(placement);
        ASSERT_TRUE(component.setMemManager(&memory));
        ASSERT_TRUE(component.Init(&host));
        CReader reader;
        reader.Init(&component, L"COM3");

        // Every report a reader makes to the component, each raising one event.
        KeyData key;
        const uint8_t bytes[] = {0x39, 0x30, 0x7B, 0x00, 0x00};
        key.Assign(bytes, sizeof(bytes));
        const std::vector<std::function<void()>> reports = {
            [&] { std::wstring text; component.OnTracksData(&reader, 1, key, text); },
            [&] { component.OnNoCard(&reader, 1, key, L"123,12345"); },
            [&] { component.OnDriverError(&reader, E_FAIL, L"Port error."); },
            [&] { component.OnDeviceConnect(&reader); },
            [&] { component.OnDeviceDisconnect(&reader); },
            [&] { component.OnCommand(&reader); },
        };
        const LCID thread = GetThreadLocale();
        const LCID messages = MessageLcid;
        std::vector<std::wstring> names[2];
        for (int russian = 0; russian < 2; ++russian) {
            SetThreadLocale(MAKELCID(MAKELANGID(russian ? LANG_RUSSIAN : LANG_ENGLISH,
                                                russian ? SUBLANG_DEFAULT : SUBLANG_ENGLISH_US),
                                     SORT_DEFAULT));
            component.SetLocale(russian ? L"ru_RU" : L"en_US");
            for (const auto& report : reports) {
                host.Events.clear();
                report();
                ASSERT_EQ(host.Events.size(), 1u) << "a report raised no event or more than one";
                names[russian].push_back(host.Events[0].Message);
            }
        }
        SetThreadLocale(thread);
        MessageLcid = messages;
        component.SetLocale(nullptr);
        for (size_t i = 0; i < reports.size(); ++i)
            raised.insert({names[0][i], names[1][i]});
        component.Done();
    }
    ASSERT_EQ(raised.size(), 6u);
    // The add-in's table of its events, which the test bench's events list takes its width from,
    // is what the component raises.
    std::set<NamePair> table;
    for (const ExternalEventName& event : kExternalEvents)
        table.insert({event.English, event.Russian});
    EXPECT_EQ(raised, table);
    for (const wchar_t* language : Languages) {
        SCOPED_TRACE(Narrow(std::wstring(language) + L"/addin-events.htm"));
        std::vector<std::wstring> problems;
        const std::set<NamePair> documented = NamePairs(TopicMarks(language, L"addin-events.htm"), problems);
        EXPECT_TRUE(problems.empty()) << Lines(problems);
        const std::vector<std::wstring> differences = ComparePairs(raised, documented);
        EXPECT_TRUE(differences.empty()) << Lines(differences);
        const std::vector<std::wstring> places = PlacesOfEachName(raised, language, L"addin-events.htm", false);
        EXPECT_TRUE(places.empty()) << Lines(places);
    }
}

TEST(HelpTopicsTest, ErrorCodesAndTextsAreTheMessageTables)
{
    ParvelLibrary library;
    ASSERT_NE(library.Module(), nullptr) << "cannot load " << PARVEL_DLL_PATH;
    const auto english = MessageTable(library.Module(), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    const auto russian = MessageTable(library.Module(), MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));
    ASSERT_EQ(english.size(), 34u);
    ASSERT_EQ(russian.size(), english.size());
    std::map<uint32_t, NamePair> table;
    for (const auto& entry : english) {
        ASSERT_TRUE(russian.count(entry.first)) << std::hex << entry.first << " has no Russian text";
        table[entry.first] = {entry.second, russian.at(entry.first)};
    }
    for (const wchar_t* language : Languages) {
        SCOPED_TRACE(Narrow(std::wstring(language) + L"/addin-errors.htm"));
        std::vector<std::wstring> problems;
        const std::vector<ErrorRow> documented = ErrorRows(TopicMarks(language, L"addin-errors.htm"), problems);
        EXPECT_TRUE(problems.empty()) << Lines(problems);
        const std::vector<std::wstring> differences = CompareErrors(table, documented);
        EXPECT_TRUE(differences.empty()) << Lines(differences);
    }

    // A code named anywhere in the topics' prose must be one of the table's too.
    for (const wchar_t* language : Languages) {
        for (const wchar_t* topic : Topics) {
            std::wstring html;
            ASSERT_TRUE(ReadUtf8File(TopicPath(language, topic), html));
            for (size_t at = html.find(L"0x8004"); at != std::wstring::npos; at = html.find(L"0x8004", at + 1)) {
                const uint32_t code = static_cast<uint32_t>(wcstoul(html.substr(at + 2, 8).c_str(), nullptr, 16));
                EXPECT_TRUE(table.count(code)) << Narrow(std::wstring(language) + L"/" + topic) << " names "
                                               << Narrow(html.substr(at, 10)) << ", which is no code of the add-in";
            }
        }
    }
}

// The help shows each error text as one line, and a 1C program puts it into a sentence
// ("The reader is not open: " + ErrorText + ...): what GetLastError, the platform's error report
// and the parser's message give must be that line, with no line end of the message table.
class HelpErrorTexts : public ComponentTest
{
protected:
    static bool EndsWithLineEnd(const std::wstring& text)
    {
        return !text.empty() && (text.back() == L'\r' || text.back() == L'\n');
    }
};

TEST_F(HelpErrorTexts, NoErrorTextEndsWithALineEnd)
{
    std::map<uint32_t, std::wstring> tables[2];
    {
        ParvelLibrary library;
        ASSERT_NE(library.Module(), nullptr) << "cannot load " << PARVEL_DLL_PATH;
        tables[0] = MessageTable(library.Module(), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        tables[1] = MessageTable(library.Module(), MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));
    }
    ASSERT_EQ(tables[0].size(), 34u);
    const LCID thread = GetThreadLocale();
    const LCID messages = MessageLcid;
    for (int russian = 0; russian < 2; ++russian) {
        SCOPED_TRACE(russian ? "Russian" : "English");
        SetThreadLocale(MAKELCID(MAKELANGID(russian ? LANG_RUSSIAN : LANG_ENGLISH,
                                            russian ? SUBLANG_DEFAULT : SUBLANG_ENGLISH_US),
                                 SORT_DEFAULT));
        object->SetLocale(russian ? L"ru_RU" : L"en_US");

        // GetLastError of every code of the message table: the documented text, as it stands.
        for (const auto& entry : tables[russian]) {
            object->SetLastError(static_cast<HRESULT>(entry.first));
            std::wstring text;
            EXPECT_EQ(static_cast<long>(entry.first), LastError(&text));
            EXPECT_EQ(Narrow(entry.second), Narrow(text)) << std::hex << entry.first;
        }
        // A code of the system.
        object->SetLastError(E_INVALIDARG);
        std::wstring text;
        LastError(&text);
        EXPECT_FALSE(text.empty());
        EXPECT_FALSE(EndsWithLineEnd(text)) << Narrow(text);

        // The platform's error report of a refused property value.
        host.Errors.clear();
        tVariant model = slothost::I4(10);
        EXPECT_FALSE(c.SetPropVal(0, &model));
        ASSERT_EQ(host.Errors.size(), 1u);
        EXPECT_EQ(Narrow(tables[russian].at(0x80040203u)), Narrow(host.Errors[0].Description));

        // The parser's message: the code's text and the token on one line.
        tVariant result = slothost::Empty();
        const uint8_t bytes[] = {0x39, 0x30, 0x7B};
        std::vector<tVariant> p{slothost::Empty(), slothost::Str(L"%u"), slothost::Str(L"b2 q1"),
                                slothost::UI4(1), slothost::Blob(bytes, sizeof(bytes))};
        EXPECT_TRUE(c.Func(MFormat, result, p));
        EXPECT_EQ(E_FAIL_CODE, LastError(&text));
        EXPECT_EQ(Narrow(tables[russian].at(0x80040238u) + L" \"q1\""), Narrow(text));
    }
    SetThreadLocale(thread);
    MessageLcid = messages;
    object->SetLocale(nullptr);
}

// The comparison itself must see a name that a topic leaves out or misspells, and a row out of
// order; otherwise the checks above would pass on any topic.
TEST(HelpMarksTest, ARemovedOrMisspelledNameAndABrokenRowAreReported)
{
    const std::set<NamePair> component = {{L"Open", L"Подключить"}, {L"Close", L"Отключить"}};
    std::vector<std::wstring> problems;
    const std::set<NamePair> misspelt = NamePairs(
        ExtractMarks(L"<tr><td class=\"name-en\">Open</td><td class=\"name-ru\">Подключит</td></tr>"), problems);
    EXPECT_TRUE(problems.empty());
    const std::vector<std::wstring> differences = ComparePairs(component, misspelt);
    ASSERT_EQ(differences.size(), 3u) << Lines(differences);
    EXPECT_NE(differences[0].find(L"Close"), std::wstring::npos) << "the name left out";

    NamePairs(ExtractMarks(L"<span class=\"name-ru\">Отключить</span> <span class=\"name-en\">Close</span>"), problems);
    EXPECT_EQ(problems.size(), 2u) << Lines(problems);

    const std::map<uint32_t, NamePair> table = {{0x80040233u, {L"Reader is not registered by the function \"Open\".",
                                                               L"Считыватель не зарегистрирован функцией \"Подключить\"."}}};
    problems.clear();
    const std::vector<ErrorRow> rows = ErrorRows(
        ExtractMarks(L"<td class=\"code\">0x80040233</td><td class=\"code-dec\">-2147220941</td>"
                     L"<td class=\"text-en\">Reader is not registered by the function &quot;Open&quot;.</td>"
                     L"<td class=\"text-ru\">Считыватель не зарегистрирован функцией \"Подключить\".</td>"
                     L"<td class=\"code\">0x80040299</td><td class=\"text-en\">Nothing.</td>"),
        problems);
    EXPECT_EQ(problems.size(), 2u) << Lines(problems);
    EXPECT_TRUE(CompareErrors(table, rows).empty()) << Lines(CompareErrors(table, rows));
    ErrorRow wrong = rows.at(0);
    wrong.Decimal = L"2147220941";
    EXPECT_EQ(CompareErrors(table, {wrong}).size(), 1u) << "a decimal column without its sign";
}

// A name that its table holds but its section does not, or that a table holds twice, is reported
// though the topic names it somewhere.
TEST(HelpMarksTest, ANameOutOfItsTableOrItsSectionIsReported)
{
    const std::set<NamePair> component = {{L"Open", L"Подключить"}, {L"Close", L"Отключить"}};
    const std::vector<Mark> marks = ExtractMarks(
        L"<tr><td class=\"name-en\">Open</td><td class=\"name-ru\">Подключить</td></tr>"
        L"<tr><td class=\"name-en\">Close</td><td class=\"name-ru\">Отключить</td></tr>"
        L"<tr><td class=\"name-en\">Close</td><td class=\"name-ru\">Отключить</td></tr>"
        L"<h3><span class=\"name-en\">Open</span> / <span class=\"name-ru\">Подключить</span></h3>");
    std::vector<std::wstring> problems;
    const std::vector<std::wstring> rows = CompareEach(component, NamePairList(marks, L"td", problems), L"the table");
    ASSERT_EQ(rows.size(), 1u) << Lines(rows);
    EXPECT_NE(rows[0].find(L"2 times"), std::wstring::npos) << Lines(rows);
    const std::vector<std::wstring> sections =
        CompareEach(component, NamePairList(marks, L"span", problems), L"the sections");
    ASSERT_EQ(sections.size(), 1u) << Lines(sections);
    EXPECT_NE(sections[0].find(L"\"Close\""), std::wstring::npos) << Lines(sections);
    EXPECT_TRUE(problems.empty()) << Lines(problems);
    EXPECT_EQ(NamePairs(marks, problems).size(), 2u) << "the set alone sees nothing wrong";
}
