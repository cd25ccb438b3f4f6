// Splitting script lines into words and reading typed literals.
#include "HostScript.h"
#include "VariantHelpers.h"
#include <cwctype>

bool SplitWords(const std::wstring& line, std::vector<ScriptWord>& words, std::wstring& error)
{
    words.clear();
    size_t i = 0;
    const size_t n = line.size();
    while (i < n) {
        while (i < n && std::iswspace(line[i]))
            ++i;
        if (i >= n || line[i] == L'#')
            break;
        ScriptWord word;
        word.quoted = line[i] == L'"';
        while (i < n && !std::iswspace(line[i])) {
            if (line[i] != L'"') {
                word.text += line[i++];
                continue;
            }
            ++i; // opening quote
            for (;;) {
                if (i >= n) {
                    error = L"unterminated quote";
                    return false;
                }
                wchar_t c = line[i++];
                if (c == L'"')
                    break;
                if (c == L'\\' && i < n) {
                    wchar_t e = line[i++];
                    switch (e) {
                    case L'n': c = L'\n'; break;
                    case L'r': c = L'\r'; break;
                    case L't': c = L'\t'; break;
                    default: c = e; break;
                    }
                }
                word.text += c;
            }
        }
        words.push_back(word);
    }
    return true;
}

bool ParseLiteral(const ScriptWord& word, ScriptLiteral& literal, std::wstring& error)
{
    literal = ScriptLiteral();
    const std::wstring& t = word.text;
    if (word.quoted) {
        literal.type = VTYPE_PWSTR;
        literal.text = t;
        return true;
    }
    if (t == L"null") {
        literal.type = VTYPE_NULL;
        return true;
    }
    if (t == L"empty") {
        literal.type = VTYPE_EMPTY;
        return true;
    }
    if (t == L"true" || t == L"false") {
        literal.type = VTYPE_BOOL;
        literal.text = t == L"true" ? L"1" : L"0";
        return true;
    }
    size_t digits = t.size();
    bool unsignedValue = false;
    if (!t.empty() && (t.back() == L'u' || t.back() == L'U')) {
        unsignedValue = true;
        --digits;
    }
    size_t first = !t.empty() && t[0] == L'-' && !unsignedValue ? 1 : 0;
    bool number = digits > first;
    for (size_t i = first; i < digits && number; ++i)
        number = t[i] >= L'0' && t[i] <= L'9';
    if (number) {
        literal.type = unsignedValue ? VTYPE_UI4 : VTYPE_I4;
        literal.text = t.substr(0, digits);
        return true;
    }
    const size_t colon = t.find(L':');
    if (colon != std::wstring::npos) {
        std::wstring name = t.substr(0, colon);
        for (wchar_t& c : name)
            c = static_cast<wchar_t>(std::towupper(c));
        static const int parsed[] = {VTYPE_NULL, VTYPE_I2,  VTYPE_I4,  VTYPE_BOOL,  VTYPE_UI2,
                                     VTYPE_UI4,  VTYPE_I8,  VTYPE_UI8, VTYPE_PWSTR, VTYPE_BLOB};
        for (int type : parsed) {
            if (name == VariantTypeNames[type]) {
                literal.type = type;
                literal.text = t.substr(colon + 1);
                return true;
            }
        }
        error = L"no typed literal for type \"" + t.substr(0, colon) + L"\"";
        return false;
    }
    error = L"not a literal: " + t + L" (texts go in double quotes)";
    return false;
}
