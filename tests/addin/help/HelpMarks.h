// The names and codes that the help topics for 1C developers mark for checking, and their
// comparison with what the add-in itself has.
//
// A topic marks a name or code by the class of the element that holds it as plain text:
// name-en and name-ru (an English name followed by its Russian name form one pair), code,
// code-dec, text-en and text-ru (the four in this order form one error row). Anything else in
// the topic is prose and is not read.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace helpmarks {

// One marked element: its class, its text with the character references decoded, and the kind of
// element that holds it (td in a table row, span in a section's heading).
struct Mark
{
    std::wstring Class;
    std::wstring Text;
    std::wstring Element;
};

using NamePair = std::pair<std::wstring, std::wstring>; // English, Russian

struct ErrorRow
{
    uint32_t Code = 0;
    std::wstring Decimal;
    std::wstring English;
    std::wstring Russian;
};

// The UTF-8 file as wide text; false when it cannot be read or is not valid UTF-8.
bool ReadUtf8File(const std::wstring& path, std::wstring& text);

// Every marked element of the HTML text, in document order.
std::vector<Mark> ExtractMarks(const std::wstring& html);

// The name pairs among the marks. Every name-en must be followed directly by its name-ru; a
// mark that breaks this order is reported in problems.
std::set<NamePair> NamePairs(const std::vector<Mark>& marks, std::vector<std::wstring>& problems);

// The error rows among the marks (code, code-dec, text-en, text-ru in this order); rows that break
// the order or whose code is not a hexadecimal number are reported in problems.
std::vector<ErrorRow> ErrorRows(const std::vector<Mark>& marks, std::vector<std::wstring>& problems);

// The name pairs in document order, a pair documented twice as often as it stands; only the marks
// held by elements of the kind `element` (an empty kind takes them all).
std::vector<NamePair> NamePairList(const std::vector<Mark>& marks, const std::wstring& element,
                                   std::vector<std::wstring>& problems);

// Whether every pair the component has stands exactly once among the documented ones of one
// place of a topic (its table, its sections), and nothing else does.
std::vector<std::wstring> CompareEach(const std::set<NamePair>& component, const std::vector<NamePair>& documented,
                                      const std::wstring& place);

// What differs between the documented pairs and the component's: a pair the component has that
// is not documented, and a documented pair the component does not have. Empty when they agree.
std::vector<std::wstring> ComparePairs(const std::set<NamePair>& component, const std::set<NamePair>& documented);

// The same for error rows against the message table (code -> English and Russian text), with the
// decimal column checked against the code as the built-in language sees it (a signed number).
std::vector<std::wstring> CompareErrors(const std::map<uint32_t, NamePair>& table, const std::vector<ErrorRow>& documented);

// A Linux path of the build as the Windows path that Wine maps it to.
std::wstring WinePath(const char* unix);

// The path of one language's topic in the source tree.
std::wstring TopicPath(const wchar_t* language, const wchar_t* topic);

// The text as UTF-8, for test messages.
std::string Narrow(const std::wstring& text);

} // namespace helpmarks
