// Key formats: selection from the format list, template analysis, formatting (including templates
// that must never reach printf), the format check, the list edits and the compiled-format cache.
#include "KeyFormatter.h"
#include "Messages.h"
#include "ModuleState.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <malloc.h>
#include <algorithm>
#include <climits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

KeyFormat MakeFormat(const wchar_t* name, uint32_t keyTypes = 0, uint32_t keySize = 0,
                     const wchar_t* templ = L"%u", const wchar_t* params = L"b0")
{
    KeyFormat f;
    f.Name = name;
    f.Template = templ;
    f.Params = params;
    f.KeyTypes = keyTypes;
    f.KeySize = keySize;
    return f;
}

KeyData MakeKey(const std::vector<uint8_t>& bytes)
{
    KeyData k;
    for (uint8_t b : bytes)
        k.Bytes[k.Length++] = b;
    return k;
}

std::wstring Formatted(const wchar_t* templ, const wchar_t* params, const std::vector<uint8_t>& bytes)
{
    std::wstring text = L"unchanged";
    FormatKey(text, templ, params, MakeKey(bytes));
    return text;
}

std::vector<std::wstring> Names(const KeyFormatList& list)
{
    std::vector<std::wstring> names;
    for (const KeyFormat& f : list)
        names.push_back(f.Name);
    return names;
}

} // namespace

TEST(KeyFormat, SelectionFollowsListOrderMaskAndSize)
{
    const KeyFormatList typed{MakeFormat(L"A", 0x2), MakeFormat(L"B")};
    EXPECT_EQ(0, FindFormatForKey(typed, 1, MakeKey({1, 2, 3})));
    EXPECT_EQ(1, FindFormatForKey(typed, 2, MakeKey({1, 2, 3})));
    EXPECT_EQ(0, FindFormatForKey(typed, 33, MakeKey({1}))); // the bit is taken modulo 32
    const KeyFormatList sized{MakeFormat(L"A", 0, 4)};
    EXPECT_EQ(-1, FindFormatForKey(sized, 1, MakeKey({1, 2, 3})));
    EXPECT_EQ(0, FindFormatForKey(sized, 1, MakeKey({1, 2, 3, 4})));
    EXPECT_EQ(-1, FindFormatForKey(KeyFormatList{}, 1, MakeKey({1})));
    const KeyFormatList temic{MakeFormat(L"T", 1u << KEY_TYPE_TEMIC)};
    EXPECT_EQ(0, FindFormatForKey(temic, KEY_TYPE_TEMIC, MakeKey({1})));
}

TEST(KeyFormat, AnalyzeTemplateKindsPositionsAndRewrite)
{
    std::vector<uint32_t> kinds;
    std::vector<int64_t> positions;
    std::wstring rewritten;
    AnalyzeTemplate(kinds, L"a%-08.3lld b%hs c%Z", &rewritten, &positions);
    EXPECT_EQ((std::vector<uint32_t>{3, 7, 0}), kinds);
    EXPECT_EQ((std::vector<int64_t>{1, 12, 17}), positions);
    EXPECT_EQ(L"a%-08.3lld b%hs c%Z", rewritten);

    // Every text but the bare integer conversions is rewritten as it stands.
    struct Row { const wchar_t* text; uint32_t kind; const wchar_t* rewritten; };
    const Row rows[] = {
        {L"%.3u", 3, L"%.3llu"},  {L"%05X", 3, L"%05llX"},  {L"%hd", 1, nullptr},   {L"%lx", 2, nullptr},
        {L"%I32u", 2, nullptr},   {L"%I64d", 3, nullptr},   {L"%Io", 3, nullptr},   {L"%wu", 3, nullptr},
        {L"%+.2f", 4, nullptr},   {L"%lG", 4, nullptr},     {L"%hc", 5, nullptr},   {L"%C", 5, nullptr},
        {L"%c", 6, nullptr},      {L"%lC", 6, nullptr},     {L"%hs", 7, nullptr},   {L"%S", 7, nullptr},
        {L"%s", 8, nullptr},      {L"%wS", 8, nullptr},     {L"%n", 9, nullptr},    {L"%p", 10, nullptr},
        {L"%*u", 0, nullptr},     {L"%.*u", 0, nullptr},    {L"%k", 0, nullptr},    {L"abc%", 0, nullptr},
        {L"%-5", 0, nullptr},     {L"%hhd", 0, nullptr},    {L"%Lf", 0, nullptr},   {L"%1$u", 0, nullptr},
        {L"x%# +-012.7lli", 3, nullptr},
    };
    for (const Row& r : rows) {
        AnalyzeTemplate(kinds, r.text, &rewritten, nullptr);
        ASSERT_EQ(1u, kinds.size()) << r.text;
        EXPECT_EQ(r.kind, kinds[0]) << r.text;
        EXPECT_EQ(r.rewritten ? r.rewritten : r.text, rewritten) << r.text;
    }
    AnalyzeTemplate(kinds, L"100%% %%", &rewritten, &positions);
    EXPECT_TRUE(kinds.empty());
    EXPECT_EQ(L"100%% %%", rewritten);
}

TEST(KeyFormat, FormatsValuesByConversion)
{
    struct Row { const wchar_t* templ; const wchar_t* params; std::vector<uint8_t> key; const wchar_t* text; };
    const Row rows[] = {
        {L"%.3u,%.5u", L"b2 w01", {0x39, 0x30, 0x7B}, L"123,12345"},
        {L"%.3u\\x2C%.5u", L"b2 w01", {0x39, 0x30, 0x7B}, L"123,12345"},
        {L"%u", L"b0", {0xFF}, L"255"},
        {L"%d", L"-1", {}, L"-1"},
        {L"%hu", L"0x12345", {}, L"9029"},
        {L"%lu", L"0x100000001", {}, L"1"},
        {L"%s", L"b0", {0x2A}, L"42"},
        {L"%5s", L"b0", {0x2A}, L"   42"},
        {L"%hs|%S|%ls", L"-5 6 7", {}, L"-5|6|7"},
        {L"%.2f", L"7", {}, L"7.00"},
        {L"%u %u", L"b0", {9}, L"9 0"},
        {L"%u", L"b0 b1", {9, 8}, L"9"},
        {L"100%% %u", L"b0", {0x05}, L"100% 5"},
        {L"abc", L"", {}, L"abc"},
        {L"", L"", {}, L""},
        {L"%I64X-%x", L"m01234567 w10", {1, 2, 3, 4, 5, 6, 7, 8}, L"807060504030201-102"},
        {L"%lld", L"0x7FFFFFFFFFFFFFFF + 1", {}, L"-9223372036854775808"},
        {L"%c%C", L"65 0x42", {}, L"AB"},
        {L"%p", L"b0", {1}, L"0000000000000000"},
        {L"%-4u|%04u|%+d", L"7 7 7", {}, L"7   |0007|+7"},
        {L"\\t%u\\n", L"1", {}, L"\t1\n"},
        {L"%u", L"w2(26,1,b0,b1,b2)", {0x01, 0x00, 0x01}, L"33685506"},
        {L"%.1f|%s|%c|%u%%", L"1, -2, 65, 5", {}, L"1.0|-2|A|5%"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.text, Formatted(r.templ, r.params, r.key)) << r.templ << L" / " << r.params;
    // Only the first length bytes of the record count.
    KeyData key = MakeKey({1, 2});
    key.Bytes[2] = 0x77;
    std::wstring text;
    FormatKey(text, L"%u", L"b2", key);
    EXPECT_EQ(L"0", text);
}

TEST(KeyFormat, UnprintableTemplatesGiveEmptyText)
{
    // None of these may reach printf: they write through a pointer, read arguments that were never
    // passed, or ask for gigabytes of padding.
    const wchar_t* templates[] = {
        L"%n", L"%u%n", L"\\x25n", L"%u \\x25n", L"\\045n", L"\\#037n", L"%*u", L"%.*u", L"%Z", L"%k",
        L"abc%", L"%hhd", L"%2000u", L"%.2000u", L"%99999999999999999999u", L"%1$u", L"%u %",
    };
    for (const wchar_t* t : templates) {
        EXPECT_EQ(L"", Formatted(t, L"b0 b1 b2", {1, 2, 3})) << t;
        EXPECT_FALSE(CKeyTemplate(t).Printable()) << t;
    }
    // A field of the largest accepted size still prints.
    EXPECT_EQ(TEMPLATE_MAX_FIELD, Formatted(L"%1024u", L"1", {}).size());
}

TEST(KeyFormat, LongOutputIsPrintedWhole)
{
    std::wstring templ;
    std::wstring params;
    for (int i = 0; i < 100; ++i) {
        templ += L"%.20u %s ";
        params += L"b0, -b1, "; // with commas: "b0 -b1" alone would be one subtraction
    }
    std::wstring text = Formatted(templ.c_str(), params.c_str(), {7, 1});
    std::wstring expected;
    for (int i = 0; i < 100; ++i)
        expected += L"00000000000000000007 -1 ";
    EXPECT_EQ(expected, text);
    // One conversion wider than any fixed buffer.
    EXPECT_EQ(std::wstring(299, L' ') + L"1|", Formatted(L"%300u|", L"1", {}));
}

namespace {

// What C's printf rules give for one integer conversion, written out independently of any printf.
// size: 16, 32 or 64 bits of the value; flags as in the template.
std::wstring ReferenceInteger(wchar_t conversion, int size, const std::wstring& flags, int width, int precision,
                              int64_t value)
{
    const bool isSigned = conversion == L'd' || conversion == L'i';
    const uint64_t mask = size == 64 ? ~0ull : (1ull << size) - 1;
    uint64_t magnitude = static_cast<uint64_t>(value) & mask;
    bool negative = false;
    if (isSigned) {
        int64_t v = value;
        if (size == 16)
            v = static_cast<int16_t>(value);
        else if (size == 32)
            v = static_cast<int32_t>(value);
        negative = v < 0;
        magnitude = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    }
    const unsigned base = conversion == L'o' ? 8 : (conversion == L'x' || conversion == L'X') ? 16 : 10;
    const wchar_t* digitSet = conversion == L'X' ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring digits;
    for (uint64_t m = magnitude; m; m /= base)
        digits.insert(digits.begin(), digitSet[m % base]);
    if (precision < 0 && digits.empty())
        digits = L"0";
    if (precision >= 0 && static_cast<int>(digits.size()) < precision)
        digits.insert(0, static_cast<size_t>(precision) - digits.size(), L'0');
    const auto has = [&](wchar_t f) { return flags.find(f) != std::wstring::npos; };
    std::wstring prefix;
    if (isSigned)
        prefix = negative ? L"-" : has(L'+') ? L"+" : has(L' ') ? L" " : L"";
    if (has(L'#') && base == 8 && (digits.empty() || digits[0] != L'0'))
        digits.insert(0, 1, L'0');
    if (has(L'#') && base == 16 && magnitude != 0)
        prefix = conversion == L'X' ? L"0X" : L"0x";
    const size_t length = prefix.size() + digits.size();
    const size_t pad = static_cast<size_t>(width) > length ? static_cast<size_t>(width) - length : 0;
    if (has(L'-'))
        return prefix + digits + std::wstring(pad, L' ');
    if (has(L'0') && precision < 0)
        return prefix + std::wstring(pad, L'0') + digits;
    return std::wstring(pad, L' ') + prefix + digits;
}

bool HeapsSound()
{
    return _heapchk() == _HEAPOK && HeapValidate(GetProcessHeap(), 0, nullptr);
}

} // namespace

TEST(KeyFormat, IntegerConversionsOfEveryFieldSizePrintSoundly)
{
    // Wide printf implementations have been seen to overrun the heap from a width or precision of
    // 23 on; every accepted size must print what C's rules say and leave the heaps whole.
    struct Prefix { const wchar_t* text; int size; };
    const Prefix prefixes[] = {{L"", 64}, {L"h", 16}, {L"l", 32}, {L"I32", 32}, {L"ll", 64}, {L"I64", 64},
                               {L"I", 64}, {L"w", 32}}; // the runtime reads an int for "w"
    const wchar_t conversions[] = L"diouxX";
    const wchar_t* flagSets[] = {L"", L"-", L"0", L"+", L" ", L"#", L"-+#"};
    const int widths[] = {0, 1, 22, 23, 24, 40, 255, 256, 1023, 1024};
    const int precisions[] = {-1, 0, 22, 23, 64, 1024};
    const int64_t values[] = {-1234567, 0, 255, INT64_MIN};
    const wchar_t* params[] = {L"-1234567", L"0", L"255", L"0x7FFFFFFFFFFFFFFF + 1"};
    size_t checked = 0;
    for (const Prefix& prefix : prefixes) {
        for (const wchar_t* c = conversions; *c; ++c) {
            for (const wchar_t* flags : flagSets) {
                for (int width : widths) {
                    for (int precision : precisions) {
                        std::wstring templ = L"<%" + std::wstring(flags);
                        if (width)
                            templ += std::to_wstring(width);
                        if (precision >= 0)
                            templ += L"." + std::to_wstring(precision);
                        templ += prefix.text;
                        templ += *c;
                        templ += L">";
                        // C ignores the "0" flag beside a precision, and "#" makes "%.0o" of 0 print
                        // "0"; Wine's runtime does neither. There the output must be what the wide
                        // printf itself gives where that is safe, and larger fields must only print.
                        const bool runtimeRule = (wcschr(flags, L'0') && precision >= 0) || wcschr(flags, L'#');
                        if (runtimeRule && (width >= 23 || precision >= 23)) {
                            EXPECT_GE(Formatted(templ.c_str(), params[0], {}).size(),
                                      static_cast<size_t>(std::max(width, precision))) << templ;
                            ASSERT_TRUE(HeapsSound()) << templ;
                            continue;
                        }
                        for (size_t v = 0; v < sizeof(values) / sizeof(values[0]); ++v) {
                            std::wstring expected;
                            if (runtimeRule) {
                                wchar_t buffer[64];
                                const int n = _snwprintf(buffer, 64, CKeyTemplate(templ.c_str()).Rewritten().c_str(),
                                                         static_cast<long long>(values[v]));
                                ASSERT_GT(n, 0);
                                expected.assign(buffer, static_cast<size_t>(n));
                            } else {
                                expected = L"<" + ReferenceInteger(*c, prefix.size, flags, width, precision, values[v]) + L">";
                            }
                            ASSERT_EQ(expected, Formatted(templ.c_str(), params[v], {})) << templ << L" / " << params[v];
                            ++checked;
                        }
                        ASSERT_TRUE(HeapsSound()) << templ;
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 50000u);
}

TEST(KeyFormat, ACharacterZeroEndsTheText)
{
    EXPECT_EQ(L"ab", Formatted(L"ab%cde%u", L"0 7", {}));
    EXPECT_EQ(L"ab", Formatted(L"ab%hcde", L"0", {}));
    EXPECT_EQ(L"x", Formatted(L"x%C|%u", L"b0 1", {0}));
    EXPECT_EQ(L"   ", Formatted(L"%4c!", L"0", {})); // the padding before the NUL stays
    EXPECT_EQ(L"", Formatted(L"%-4c!", L"0", {}));
    EXPECT_EQ(L"A!", Formatted(L"%c!", L"65", {}));
    std::wstring text;
    CKeyTemplate templ(L"%u%c%u");
    const int64_t values[] = {1, 0, 2};
    EXPECT_TRUE(templ.Fill(text, values, 3));
    EXPECT_EQ(L"1", text);
    EXPECT_EQ(std::wstring::npos, text.find(L'\0'));
}

TEST(KeyFormat, ParamsThatDoNotParseThrow)
{
    std::wstring text;
    try {
        FormatKey(text, L"%u", L"b0 q1", MakeKey({1}));
        FAIL();
    } catch (const CZParserException& e) {
        EXPECT_EQ(static_cast<uint32_t>(PE_UNKNOWN_KEYWORD), e.Code());
        EXPECT_EQ(3u, e.Position());
    }
}

TEST(KeyFormat, CheckFormatText)
{
    struct Row { const wchar_t* templ; const wchar_t* params; HRESULT code; int64_t position; };
    const Row rows[] = {
        {L"%.3u,%.5u", L"b2 w01", S_OK, -1},
        {L"%.3u,%.5u", L"b2", PE_NOT_ENOUGH_PARAMS, -1},
        {L"%.3u %Z", L"b0 b1", PE_BAD_SPECIFIER, 5},
        {L"%.3u %Z", L"q1", PE_BAD_SPECIFIER, 5},
        {L"%.3u,%.5u", L"b2 q1", PE_UNKNOWN_KEYWORD, 3},
        {L"%u", L"b0 b1", S_OK, -1},
        {L"abc", L"", S_OK, -1},
        {L"%u %n", L"b0 b1", PE_BAD_SPECIFIER, 3},
        {L"%n %k", L"b0 b1", PE_BAD_SPECIFIER, 3}, // unsupported conversions are reported first
        {L"%*u", L"b0 b1", PE_BAD_SPECIFIER, 0},
        {L"%2000u", L"b0", PE_BAD_SPECIFIER, 0},
        // Escapes that become conversions once expanded are refused where they start.
        {L"ab\\x25n", L"b0", PE_BAD_SPECIFIER, 2},
        {L"%u\\x25*u", L"b0 b1", PE_BAD_SPECIFIER, 2},
        {L"\\a\\045n", L"b0", PE_BAD_SPECIFIER, 2},
        {L"\\\\\\x25n", L"b0", PE_BAD_SPECIFIER, 2},
        {L"%u\\x2C%u", L"b0 b1", S_OK, -1},
        {L"%u", L"(b0", PE_EXPECTED_CLOSE, 3},
    };
    for (const Row& r : rows) {
        int64_t position = 7;
        std::wstring text = L"stale";
        EXPECT_EQ(r.code, CheckFormatText(r.templ, r.params, position, text)) << r.templ << L" / " << r.params;
        EXPECT_EQ(r.position, position) << r.templ << L" / " << r.params;
        EXPECT_EQ(r.code == S_OK, text.empty()) << r.templ;
    }
    // A long template is checked in reasonable time and pointed into exactly.
    std::wstring longTemplate = std::wstring(200000, L'a') + L"\\x25n";
    int64_t longPosition = 0;
    std::wstring longText;
    EXPECT_EQ(PE_BAD_SPECIFIER, CheckFormatText(longTemplate.c_str(), L"", longPosition, longText));
    EXPECT_EQ(200000, longPosition);

    const LCID saved = MessageLcid;
    MessageLcid = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
    int64_t position;
    std::wstring text;
    CheckFormatText(L"%u", L"", position, text);
    EXPECT_EQ(L"Not enough parameters.", text);
    CheckFormatText(L"%u", L"b0 Q1", position, text);
    EXPECT_EQ(L"Unknown keyword. \"q1\"", text);
    CheckFormatText(L"%n", L"b0", position, text);
    EXPECT_EQ(L"Template specifier is not supported.", text);
    MessageLcid = saved;
}

TEST(KeyFormat, WhatTheCheckAcceptsFormattingPrints)
{
    // Random templates from the pieces of printf syntax and escapes: whenever the check accepts a
    // template with enough parameters, formatting must not refuse it, and the reverse.
    const wchar_t* pieces[] = {L"%", L"%%", L"-", L"+", L"0", L" ", L"#", L"5", L"12", L".", L".3",
                               L"*", L"h", L"l", L"ll", L"I", L"I32", L"I64", L"w", L"d", L"u", L"x",
                               L"X", L"o", L"f", L"g", L"c", L"C", L"s", L"S", L"n", L"p", L"Z", L"$",
                               L"\\x25", L"\\045", L"\\#37", L"\\", L"\\n", L"a", L"\\x", L"\\0"};
    std::mt19937 rng(99);
    std::wstring params;
    for (int i = 0; i < 40; ++i)
        params += L"w01 -b2 ";
    size_t printed = 0;
    for (int i = 0; i < 5000; ++i) {
        std::wstring t;
        const int n = 1 + static_cast<int>(rng() % 8);
        for (int k = 0; k < n; ++k)
            t += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
        int64_t position;
        std::wstring message;
        const HRESULT hr = CheckFormatText(t.c_str(), params.c_str(), position, message);
        CKeyTemplate compiled(t.c_str());
        if (hr == S_OK) {
            EXPECT_TRUE(compiled.Printable()) << t;
        } else {
            EXPECT_EQ(PE_BAD_SPECIFIER, hr) << t;
            EXPECT_GE(position, 0) << t;
            EXPECT_LE(position, static_cast<int64_t>(t.size())) << t;
        }
        std::wstring text;
        FormatKey(text, t.c_str(), params.c_str(), MakeKey({0x80, 0x01, 0xFE}));
        if (!compiled.Printable())
            EXPECT_TRUE(text.empty()) << t;
        else if (!text.empty())
            ++printed;
    }
    EXPECT_GT(printed, 500u);
}

TEST(KeyFormat, ListEdits)
{
    KeyFormatList list{MakeFormat(L"A"), MakeFormat(L"B"), MakeFormat(L"C")};
    // SetFormat: only the non-null fields change.
    const uint32_t four = 4;
    EXPECT_EQ(S_OK, SetKeyFormatFields(list, 1, nullptr, nullptr, nullptr, nullptr, &four, nullptr));
    EXPECT_EQ(4u, list[1].KeySize);
    EXPECT_EQ(L"B", list[1].Name);
    EXPECT_EQ(L"%u", list[1].Template);
    EXPECT_EQ(PE_FORMAT_EXISTS, SetKeyFormatFields(list, 1, L"A", L"x", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(L"%u", list[1].Template);
    EXPECT_EQ(S_OK, SetKeyFormatFields(list, 1, L"B", L"%x", L"w01", nullptr, nullptr, L"note"));
    EXPECT_EQ(L"%x", list[1].Template);
    EXPECT_EQ(L"note", list[1].Comment);
    EXPECT_EQ(PE_BAD_FORMAT_NAME, SetKeyFormatFields(list, 1, L"", nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(PE_INDEX_OUT_OF_RANGE, SetKeyFormatFields(list, 3, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(PE_INDEX_OUT_OF_RANGE, SetKeyFormatFields(list, -1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));

    // InsertFormat: a negative index inserts at the top, one beyond the end appends.
    int32_t index = -5;
    EXPECT_EQ(S_OK, InsertKeyFormat(list, index, MakeFormat(L"Top")));
    EXPECT_EQ(0, index);
    index = 100;
    EXPECT_EQ(S_OK, InsertKeyFormat(list, index, MakeFormat(L"End")));
    EXPECT_EQ(4, index);
    index = 2;
    EXPECT_EQ(S_OK, InsertKeyFormat(list, index, MakeFormat(L"Mid")));
    EXPECT_EQ(2, index);
    EXPECT_EQ((std::vector<std::wstring>{L"Top", L"A", L"Mid", L"B", L"C", L"End"}), Names(list));
    index = 0;
    EXPECT_EQ(PE_FORMAT_EXISTS, InsertKeyFormat(list, index, MakeFormat(L"B")));
    EXPECT_EQ(PE_BAD_FORMAT_NAME, InsertKeyFormat(list, index, MakeFormat(L"")));
    EXPECT_EQ(6u, list.size());

    // DeleteFormat.
    EXPECT_EQ(S_OK, DeleteKeyFormat(list, 5));
    EXPECT_EQ(S_OK, DeleteKeyFormat(list, 0));
    EXPECT_EQ(PE_INDEX_OUT_OF_RANGE, DeleteKeyFormat(list, 4));
    EXPECT_EQ(PE_INDEX_OUT_OF_RANGE, DeleteKeyFormat(list, -1));
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"Mid", L"B", L"C"}), Names(list));
    EXPECT_EQ(S_OK, CheckFormatIndex(list, 3));
    EXPECT_EQ(PE_INDEX_OUT_OF_RANGE, CheckFormatIndex(list, 4));
}

TEST(KeyFormat, FormatMethodCore)
{
    std::wstring text;
    const uint8_t blob[] = {0x39, 0x30, 0x7B};
    EXPECT_EQ(S_OK, FormatKeyBlob(text, L"%.3u,%.5u", L"b2 w01", 0, blob, 3));
    EXPECT_EQ(L"123,12345", text);
    // Key types run 0-18: Temic (18) is formatted, 19 is refused.
    EXPECT_EQ(S_OK, FormatKeyBlob(text, L"%u", L"b0", KEY_TYPE_TEMIC, blob, 3));
    EXPECT_EQ(L"57", text);
    EXPECT_EQ(E_INVALIDARG, FormatKeyBlob(text, L"%u", L"b0", KEY_TYPE_COUNT, blob, 3));
    EXPECT_EQ(L"", text);
    // Only the first 15 bytes of a longer blob are the key.
    uint8_t big[20];
    for (uint8_t i = 0; i < 20; ++i)
        big[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(S_OK, FormatKeyBlob(text, L"%u %u %u", L"x[14] x[15] x[19]", 1, big, 20));
    EXPECT_EQ(L"15 0 0", text);
    EXPECT_THROW(FormatKeyBlob(text, L"%u", L"(", 1, blob, 3), CZParserException);
}

TEST(KeyFormat, CacheFollowsEditsOfTheList)
{
    KeyFormatList list{MakeFormat(L"HelmSaaS", 0, 0, L"%.3u,%.5u", L"b2 w01"), MakeFormat(L"Bad", 0, 0, L"%u", L"b0 +")};
    CKeyFormatCache cache;
    std::wstring text;
    const KeyData key = MakeKey({0x39, 0x30, 0x7B});
    for (int i = 0; i < 3; ++i) {
        cache.FormatKey(text, list, 0, key);
        EXPECT_EQ(L"123,12345", text);
    }
    list[0].Params = L"b0 b1";
    cache.FormatKey(text, list, 0, key);
    EXPECT_EQ(L"057,00048", text);
    list[0].Template = L"%x";
    cache.FormatKey(text, list, 0, key);
    EXPECT_EQ(L"39", text);
    // A parameter text that does not parse fails every time, as it does without the cache.
    for (int i = 0; i < 2; ++i)
        EXPECT_THROW(cache.FormatKey(text, list, 1, key), CZParserException);
    list[1].Params = L"b1";
    cache.FormatKey(text, list, 1, key);
    EXPECT_EQ(L"48", text);
    // Variables start empty for every key.
    list[1].Params = L"set(1, get(1) + b0)";
    cache.FormatKey(text, list, 1, key);
    cache.FormatKey(text, list, 1, key);
    EXPECT_EQ(L"57", text);
    // A refused template yields an empty text from the cache as well.
    list[1].Template = L"%n";
    cache.FormatKey(text, list, 1, key);
    EXPECT_EQ(L"", text);
    EXPECT_THROW(cache.FormatKey(text, list, 2, key), std::out_of_range);
}
