// Reading the marked names and codes out of the help topics, and comparing them with the add-in's.
#include "HelpMarks.h"
#include <windows.h>
#include <cwchar>
#include <cwctype>
#include <fstream>
#include <iterator>

namespace helpmarks {

namespace {

const wchar_t* const ClassAttribute = L"class=\"";

// The character references a topic may use in plain text.
std::wstring Decode(const std::wstring& text)
{
    static const std::pair<const wchar_t*, wchar_t> references[] = {
        {L"&amp;", L'&'}, {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&#39;", L'\''}, {L"&nbsp;", L' '},
    };
    std::wstring out;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == L'&') {
            for (const auto& r : references) {
                const size_t n = wcslen(r.first);
                if (text.compare(i, n, r.first) == 0) {
                    out += r.second;
                    i += n;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text[i++];
    }
    return out;
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::wstring PairText(const NamePair& pair)
{
    return Quoted(pair.first) + L" / " + Quoted(pair.second);
}

std::wstring Hex(uint32_t code)
{
    wchar_t buffer[16];
    swprintf(buffer, 16, L"0x%08X", code);
    return buffer;
}

} // namespace

bool ReadUtf8File(const std::wstring& path, std::wstring& text)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    if (!file)
        return false;
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    text.clear();
    if (bytes.empty())
        return true;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                      nullptr, 0);
    if (n <= 0)
        return false;
    text.resize(static_cast<size_t>(n));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
    return true;
}

std::vector<Mark> ExtractMarks(const std::wstring& html)
{
    static const wchar_t* const classes[] = {L"name-en", L"name-ru", L"code", L"code-dec", L"text-en", L"text-ru"};
    std::vector<Mark> marks;
    const size_t attributeLength = wcslen(ClassAttribute);
    for (size_t at = html.find(ClassAttribute); at != std::wstring::npos; at = html.find(ClassAttribute, at + 1)) {
        const size_t nameStart = at + attributeLength;
        const size_t nameEnd = html.find(L'"', nameStart);
        if (nameEnd == std::wstring::npos)
            break;
        const std::wstring name = html.substr(nameStart, nameEnd - nameStart);
        bool ours = false;
        for (const wchar_t* c : classes)
            ours = ours || name == c;
        if (!ours)
            continue;
        // The text runs from the end of the start tag to the next tag.
        const size_t textStart = html.find(L'>', nameEnd);
        if (textStart == std::wstring::npos)
            break;
        const size_t textEnd = html.find(L'<', textStart + 1);
        if (textEnd == std::wstring::npos)
            break;
        // The element is the tag that the attribute stands in.
        const size_t tagStart = html.rfind(L'<', at);
        std::wstring element;
        for (size_t i = tagStart == std::wstring::npos ? at : tagStart + 1; i < at && iswalnum(html[i]); ++i)
            element += html[i];
        marks.push_back({name, Decode(html.substr(textStart + 1, textEnd - textStart - 1)), element});
    }
    return marks;
}

std::vector<NamePair> NamePairList(const std::vector<Mark>& marks, const std::wstring& element,
                                   std::vector<std::wstring>& problems)
{
    std::vector<NamePair> pairs;
    for (size_t i = 0; i < marks.size(); ++i) {
        const Mark& m = marks[i];
        if (!element.empty() && m.Element != element)
            continue;
        if (m.Class == L"name-en") {
            if (i + 1 < marks.size() && marks[i + 1].Class == L"name-ru" && marks[i + 1].Element == m.Element) {
                pairs.push_back({m.Text, marks[i + 1].Text});
                ++i;
            } else {
                problems.push_back(L"the English name " + Quoted(m.Text) + L" has no Russian name after it");
            }
        } else if (m.Class == L"name-ru") {
            problems.push_back(L"the Russian name " + Quoted(m.Text) + L" has no English name before it");
        }
    }
    return pairs;
}

std::set<NamePair> NamePairs(const std::vector<Mark>& marks, std::vector<std::wstring>& problems)
{
    const std::vector<NamePair> list = NamePairList(marks, std::wstring(), problems);
    return std::set<NamePair>(list.begin(), list.end());
}

std::vector<ErrorRow> ErrorRows(const std::vector<Mark>& marks, std::vector<std::wstring>& problems)
{
    static const wchar_t* const order[] = {L"code", L"code-dec", L"text-en", L"text-ru"};
    std::vector<ErrorRow> rows;
    for (size_t i = 0; i < marks.size(); ++i) {
        if (marks[i].Class != L"code") {
            if (marks[i].Class == L"code-dec" || marks[i].Class == L"text-en" || marks[i].Class == L"text-ru")
                problems.push_back(L"the " + marks[i].Class + L" " + Quoted(marks[i].Text) + L" stands outside a code's row");
            continue;
        }
        bool whole = i + 3 < marks.size();
        for (size_t k = 1; whole && k < 4; ++k)
            whole = marks[i + k].Class == order[k];
        if (!whole) {
            problems.push_back(L"the code " + Quoted(marks[i].Text) + L" is not followed by its number and both texts");
            continue;
        }
        const std::wstring& code = marks[i].Text;
        wchar_t* end = nullptr;
        const unsigned long value = code.size() == 10 && code.compare(0, 2, L"0x") == 0
                                        ? wcstoul(code.c_str() + 2, &end, 16)
                                        : 0;
        if (!end || *end != L'\0') {
            problems.push_back(L"the code " + Quoted(code) + L" is not written as 0x and eight hexadecimal digits");
        } else {
            ErrorRow row;
            row.Code = static_cast<uint32_t>(value);
            row.Decimal = marks[i + 1].Text;
            row.English = marks[i + 2].Text;
            row.Russian = marks[i + 3].Text;
            rows.push_back(row);
        }
        i += 3;
    }
    return rows;
}

std::vector<std::wstring> ComparePairs(const std::set<NamePair>& component, const std::set<NamePair>& documented)
{
    std::vector<std::wstring> differences;
    for (const NamePair& pair : component)
        if (!documented.count(pair))
            differences.push_back(PairText(pair) + L" is not documented");
    for (const NamePair& pair : documented)
        if (!component.count(pair))
            differences.push_back(PairText(pair) + L" is documented but the component has no such pair");
    return differences;
}

std::vector<std::wstring> CompareEach(const std::set<NamePair>& component, const std::vector<NamePair>& documented,
                                      const std::wstring& place)
{
    std::vector<std::wstring> differences;
    std::map<NamePair, int> times;
    for (const NamePair& pair : documented)
        ++times[pair];
    for (const NamePair& pair : component) {
        const auto found = times.find(pair);
        if (found == times.end())
            differences.push_back(PairText(pair) + L" is not in " + place);
        else if (found->second > 1)
            differences.push_back(PairText(pair) + L" is in " + place + L" " + std::to_wstring(found->second) + L" times");
    }
    for (const auto& entry : times)
        if (!component.count(entry.first))
            differences.push_back(PairText(entry.first) + L" is in " + place + L" but the component has no such pair");
    return differences;
}

std::vector<std::wstring> CompareErrors(const std::map<uint32_t, NamePair>& table, const std::vector<ErrorRow>& documented)
{
    std::vector<std::wstring> differences;
    std::set<uint32_t> seen;
    for (const ErrorRow& row : documented) {
        if (!seen.insert(row.Code).second)
            differences.push_back(Hex(row.Code) + L" is documented twice");
        const auto entry = table.find(row.Code);
        if (entry == table.end()) {
            differences.push_back(Hex(row.Code) + L" is documented but the message table has no such code");
            continue;
        }
        if (row.English != entry->second.first)
            differences.push_back(Hex(row.Code) + L": English text " + Quoted(row.English) + L", the table says " +
                                  Quoted(entry->second.first));
        if (row.Russian != entry->second.second)
            differences.push_back(Hex(row.Code) + L": Russian text " + Quoted(row.Russian) + L", the table says " +
                                  Quoted(entry->second.second));
        const std::wstring decimal = std::to_wstring(static_cast<int32_t>(row.Code));
        if (row.Decimal != decimal)
            differences.push_back(Hex(row.Code) + L": the number " + Quoted(row.Decimal) + L" should be " + decimal);
    }
    for (const auto& entry : table)
        if (!seen.count(entry.first))
            differences.push_back(Hex(entry.first) + L" " + Quoted(entry.second.first) + L" is not documented");
    return differences;
}

// A Linux path of the build as the Windows path that Wine maps it to.
std::wstring WinePath(const char* unix)
{
    std::wstring path = L"Z:";
    for (const char* c = unix; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

std::wstring TopicPath(const wchar_t* language, const wchar_t* topic)
{
    return WinePath(PARVEL_HELP_DIR) + L"\\" + language + L"\\" + topic;
}

std::string Narrow(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

} // namespace helpmarks
