// The worked examples of the key-format help topics, run through the component's CheckFormat and
// Format as the platform calls them: each must give what the help shows under the locale of the
// topic's language (the decimal separator of a floating-point conversion is the locale's), and the
// English and the Russian topic must show the same examples.
// An example is a table row <tr class="example" [data-type="n"]> whose cells key, template, params,
// output and error each hold their value in the first <code> element. The fields are read as a
// browser shows them: entities decoded, <br> a line break, other tags dropped, runs of raw white
// space one blank (so a blank that must count is written &nbsp;).
#include "ComponentFixture.h"
#include "CodePage.h"
#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace slothost;

namespace {

const char* const HelpTopics[] = {"formats.htm", "template.htm", "expressions.htm"};

struct HelpExample
{
    std::string Where; // topic and row number, for the messages
    bool HasKey = false;
    std::vector<uint8_t> Key;
    uint32_t KeyType = 0;
    std::wstring Template;
    std::wstring Params;
    bool HasOutput = false;
    std::wstring Output;
    bool HasError = false;
    uint32_t ErrorCode = 0;
    int32_t ErrorPosition = -1;

    // The same example: the same input and the same outcome. The texts themselves are compared with
    // what the add-in gives under each topic's locale, which may differ in a decimal separator.
    bool operator==(const HelpExample& o) const
    {
        return HasKey == o.HasKey && Key == o.Key && KeyType == o.KeyType && Template == o.Template &&
               Params == o.Params && HasOutput == o.HasOutput && HasError == o.HasError &&
               ErrorCode == o.ErrorCode && ErrorPosition == o.ErrorPosition;
    }
};

std::string ReadHelpFile(const std::string& language, const char* topic)
{
    // The source tree as Wine shows the Unix root (drive Z:).
    const std::string path = std::string("Z:") + PARVEL_HELP_DIR + "/" + language + "/" + topic;
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void AppendUtf8(std::string& out, unsigned long code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The text a browser shows for a piece of HTML inside a <code> element; an empty error when the
// piece is sound.
std::wstring ShownText(const std::string& html, std::string& error)
{
    std::string out;
    bool blank = false; // a run of raw white space is pending
    for (size_t i = 0; i < html.size();) {
        const char c = html[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            blank = true;
            ++i;
            continue;
        }
        if (blank) {
            if (out.empty())
                error = "a raw blank at the edge of a field does not show: write &nbsp;";
            out += ' ';
            blank = false;
        }
        if (c == '<') {
            const size_t end = html.find('>', i);
            if (end == std::string::npos) {
                error = "unclosed tag";
                return L"";
            }
            const std::string tag = html.substr(i + 1, end - i - 1);
            if (tag == "br" || tag == "br/" || tag == "br /")
                out += '\n';
            i = end + 1;
            continue;
        }
        if (c == '&') {
            const size_t end = html.find(';', i);
            if (end == std::string::npos || end - i > 10) {
                error = "a bare & (write &amp;)";
                return L"";
            }
            const std::string name = html.substr(i + 1, end - i - 1);
            if (name == "amp") out += '&';
            else if (name == "lt") out += '<';
            else if (name == "gt") out += '>';
            else if (name == "quot") out += '"';
            else if (name == "apos") out += '\'';
            else if (name == "nbsp") out += ' ';
            else if (name.size() > 2 && name[0] == '#' && (name[1] == 'x' || name[1] == 'X'))
                AppendUtf8(out, std::strtoul(name.c_str() + 2, nullptr, 16));
            else if (name.size() > 1 && name[0] == '#')
                AppendUtf8(out, std::strtoul(name.c_str() + 1, nullptr, 10));
            else {
                error = "unknown entity &" + name + ";";
                return L"";
            }
            i = end + 1;
            continue;
        }
        if (c == '>')
            error = "a bare > (write &gt;)";
        out += c;
        ++i;
    }
    if (blank && !out.empty())
        error = "a raw blank at the edge of a field does not show: write &nbsp;";
    return Utf8ToWide(out);
}

// The first <code> element of cell `name` in a row; false when the row has no such cell.
bool CellCode(const std::string& row, const char* name, std::string& html, std::string& error)
{
    const std::string open = std::string("<td class=\"") + name + "\"";
    const size_t cell = row.find(open);
    if (cell == std::string::npos)
        return false;
    const size_t cellEnd = row.find("</td>", cell);
    const size_t code = row.find("<code>", cell);
    const size_t codeEnd = code == std::string::npos ? code : row.find("</code>", code);
    if (cellEnd == std::string::npos || code == std::string::npos || code > cellEnd ||
        codeEnd == std::string::npos || codeEnd > cellEnd) {
        error = std::string("cell ") + name + " holds no <code> element";
        return true;
    }
    html = row.substr(code + 6, codeEnd - code - 6);
    return true;
}

// The n-th (0-based) <code> element of a cell, for the error cell's code and position.
bool NthCode(const std::string& row, const char* name, int n, std::string& html)
{
    const size_t cell = row.find(std::string("<td class=\"") + name + "\"");
    if (cell == std::string::npos)
        return false;
    const size_t cellEnd = row.find("</td>", cell);
    size_t at = cell;
    for (int k = 0; k <= n; ++k) {
        at = row.find("<code>", at);
        if (at == std::string::npos || at > cellEnd)
            return false;
        if (k < n)
            at += 6;
    }
    const size_t end = row.find("</code>", at);
    if (end == std::string::npos || end > cellEnd)
        return false;
    html = row.substr(at + 6, end - at - 6);
    return true;
}

bool ParseKeyBytes(const std::wstring& text, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    std::wistringstream in(text);
    std::wstring pair;
    while (in >> pair) {
        if (pair.size() != 2 || !iswxdigit(pair[0]) || !iswxdigit(pair[1]))
            return false;
        bytes.push_back(static_cast<uint8_t>(std::wcstoul(pair.c_str(), nullptr, 16)));
    }
    return true;
}

std::vector<HelpExample> ReadExamples(const std::string& language, const char* topic)
{
    std::vector<HelpExample> examples;
    const std::string html = ReadHelpFile(language, topic);
    EXPECT_FALSE(html.empty()) << language << "/" << topic << " is missing";
    size_t at = 0;
    int number = 0;
    while ((at = html.find("<tr class=\"example\"", at)) != std::string::npos) {
        const size_t end = html.find("</tr>", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << language << "/" << topic << ": an example row is not closed";
            break;
        }
        const std::string row = html.substr(at, end - at);
        at = end;
        HelpExample e;
        e.Where = language + "/" + topic + " example " + std::to_string(++number);
        std::string error;
        std::string field;

        const size_t tagEnd = row.find('>');
        const std::string tag = row.substr(0, tagEnd);
        const size_t type = tag.find("data-type=\"");
        if (type != std::string::npos)
            e.KeyType = static_cast<uint32_t>(std::strtoul(tag.c_str() + type + 11, nullptr, 10));

        if (!CellCode(row, "template", field, error) || !error.empty()) {
            ADD_FAILURE() << e.Where << ": no template (" << error << ")";
            continue;
        }
        e.Template = ShownText(field, error);
        if (!CellCode(row, "params", field, error) || !error.empty()) {
            ADD_FAILURE() << e.Where << ": no parameters (" << error << ")";
            continue;
        }
        e.Params = ShownText(field, error);
        if (CellCode(row, "key", field, error)) {
            e.HasKey = true;
            if (!ParseKeyBytes(ShownText(field, error), e.Key))
                error = "key bytes must be pairs of hexadecimal digits";
        }
        if (CellCode(row, "output", field, error)) {
            e.HasOutput = true;
            e.Output = ShownText(field, error);
        }
        if (NthCode(row, "error", 0, field)) {
            e.HasError = true;
            e.ErrorCode = static_cast<uint32_t>(std::wcstoul(ShownText(field, error).c_str(), nullptr, 16));
            if (NthCode(row, "error", 1, field))
                e.ErrorPosition = static_cast<int32_t>(std::wcstol(ShownText(field, error).c_str(), nullptr, 10));
        }
        if (!e.HasOutput && !e.HasError)
            error = "neither an output nor an error to check";
        if (e.HasOutput && !e.HasKey)
            error = "an output needs the key bytes";
        if (!error.empty()) {
            ADD_FAILURE() << e.Where << ": " << error;
            continue;
        }
        examples.push_back(e);
    }
    return examples;
}

std::string Narrow(const std::wstring& w)
{
    std::string s;
    WideToUtf8(s, w.c_str(), static_cast<int>(w.size()));
    return s;
}

class HelpExamples : public ComponentTest
{
protected:
    // CheckFormat as the platform calls it: its result and the error position.
    bool Check(const HelpExample& e, int32_t& position)
    {
        tVariant result = Empty();
        std::vector<tVariant> p{Str(e.Template.c_str()), Str(e.Params.c_str()), Empty()};
        EXPECT_TRUE(c.Func(MCheckFormat, result, p));
        position = p[2].i32Val;
        return result.vt == VTYPE_BOOL && result.bVal;
    }

    // Format as the platform calls it; false when it did not succeed.
    bool Format(const HelpExample& e, std::wstring& text)
    {
        tVariant result = Empty();
        std::vector<tVariant> p{Empty(), Str(e.Template.c_str()), Str(e.Params.c_str()), UI4(e.KeyType),
                                Blob(e.Key.data(), static_cast<uint32_t>(e.Key.size()))};
        EXPECT_TRUE(c.Func(MFormat, result, p));
        text = Text(p[0]);
        return result.vt == VTYPE_BOOL && result.bVal;
    }
};

} // namespace

// The locale the platform sets for a reader of the topic's language, for the time of one test;
// the C runtime's own locale is put back afterwards.
class PlatformLocale
{
public:
    PlatformLocale(slothost::Component& component, const char* language)
    {
        component.SetLocale(std::string(language) == "ru" ? L"ru_RU" : L"en_US");
    }
    ~PlatformLocale() { _wsetlocale(LC_ALL, L"C"); }
    PlatformLocale(const PlatformLocale&) = delete;
    PlatformLocale& operator=(const PlatformLocale&) = delete;
};

TEST_F(HelpExamples, EveryExampleGivesWhatTheHelpShows)
{
    size_t count = 0;
    for (const char* language : {"en", "ru"}) {
        PlatformLocale locale(c, language);
        for (const char* topic : HelpTopics) {
            const std::vector<HelpExample> examples = ReadExamples(language, topic);
            EXPECT_FALSE(examples.empty()) << language << "/" << topic << " shows no worked example";
            for (const HelpExample& e : examples) {
                SCOPED_TRACE(e.Where + ": template " + Narrow(e.Template) + ", parameters " + Narrow(e.Params));
                object->SetLastError(S_OK);
                int32_t position = 0;
                const bool accepted = Check(e, position);
                if (e.HasError) {
                    EXPECT_FALSE(accepted) << "the check accepts what the help says it refuses";
                    EXPECT_EQ(static_cast<long>(e.ErrorCode), LastError());
                    EXPECT_EQ(e.ErrorPosition, position);
                } else {
                    std::wstring text;
                    EXPECT_TRUE(accepted) << "the check refuses it: " << std::hex << LastError(&text) << " "
                                          << Narrow(text);
                    EXPECT_EQ(-1, position);
                }
                if (e.HasOutput) {
                    std::wstring text;
                    EXPECT_TRUE(Format(e, text)) << "Format failed";
                    EXPECT_EQ(Narrow(e.Output), Narrow(text));
                }
                ++count;
            }
        }
    }
    EXPECT_GE(count, 100u) << "the topics lost most of their examples, or the rows are no longer found";
}

TEST_F(HelpExamples, BothLanguagesShowTheSameExamples)
{
    for (const char* topic : HelpTopics) {
        SCOPED_TRACE(topic);
        const std::vector<HelpExample> en = ReadExamples("en", topic);
        const std::vector<HelpExample> ru = ReadExamples("ru", topic);
        ASSERT_EQ(en.size(), ru.size()) << "the two languages show a different number of examples";
        for (size_t i = 0; i < en.size(); ++i)
            EXPECT_TRUE(en[i] == ru[i]) << en[i].Where << " differs from " << ru[i].Where;
    }
}
