// Batch evaluator of key-number expressions for the cross-check against the reference model:
// reads one case per line from stdin and writes one result line per case to stdout, so that a
// whole run costs a single Wine start.
//   input:  <key bytes as hex, may be empty> <TAB> <expression as UTF-16 code units, 4 hex digits each>
//   output: OK <count> <value>...            (values in signed decimal)
//           ERR <code hex> <position> <message as UTF-16 code units in hex>
// Messages are in English whatever the system's language.
#include "KeyExpression.h"
#include "ModuleState.h"
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads groups of `width` hex digits; false on a malformed field.
template <typename Unit>
bool ReadHex(const std::string& field, size_t width, std::vector<Unit>& out)
{
    out.clear();
    if (field.size() % width)
        return false;
    for (size_t i = 0; i < field.size(); i += width) {
        unsigned value = 0;
        for (size_t k = 0; k < width; ++k) {
            const int d = HexDigit(field[i + k]);
            if (d < 0)
                return false;
            value = value * 16 + static_cast<unsigned>(d);
        }
        out.push_back(static_cast<Unit>(value));
    }
    return true;
}

} // namespace

int main()
{
    ModuleHandle = GetModuleHandleW(nullptr);
    MessageLcid = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
    std::ios::sync_with_stdio(false);
    std::string line;
    std::vector<uint8_t> key;
    std::vector<wchar_t> text;
    CZParser parser;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || !ReadHex(line.substr(0, tab), 2, key) ||
            !ReadHex(line.substr(tab + 1), 4, text)) {
            std::cout << "BAD\n";
            continue;
        }
        text.push_back(0);
        try {
            parser.Parse(text.data());
            const std::vector<int64_t>& results = parser.Evaluate(key.data(), key.size());
            std::cout << "OK " << results.size();
            for (int64_t v : results)
                std::cout << ' ' << v;
            std::cout << '\n';
        } catch (const CZParserException& e) {
            char head[64];
            std::snprintf(head, sizeof head, "ERR %08X %llu ", static_cast<unsigned>(e.Code()),
                          static_cast<unsigned long long>(e.Position()));
            std::cout << head;
            for (wchar_t c : e.Message()) {
                char unit[8];
                std::snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(c));
                std::cout << unit;
            }
            std::cout << '\n';
        }
    }
    std::cout.flush();
    return 0;
}
