// The key-number expression language: parsing, error codes with positions and messages, the
// values of words, operators and functions over key bytes, the coding routines, and hostile input.
#include "KeyExpression.h"
#include "Messages.h"
#include "ModuleState.h"
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

const std::vector<uint8_t> Key1234{0x12, 0x34, 0x56, 0x78};

std::vector<int64_t> Values(const wchar_t* text, const std::vector<uint8_t>& key = {})
{
    CZParser parser;
    parser.Parse(text);
    return parser.Evaluate(key.data(), key.size());
}

int64_t Value(const wchar_t* text, const std::vector<uint8_t>& key = {})
{
    std::vector<int64_t> v = Values(text, key);
    EXPECT_EQ(1u, v.size()) << text;
    return v.empty() ? 0 : v[0];
}

struct ParseFailure
{
    uint32_t code = 0;
    uint64_t position = 0;
    std::wstring message;
};

ParseFailure Failure(const std::wstring& text)
{
    CZParser parser;
    try {
        parser.Parse(text.c_str());
    } catch (const CZParserException& e) {
        EXPECT_EQ(0u, parser.ExpressionCount());
        return {e.Code(), e.Position(), e.Message()};
    }
    ADD_FAILURE() << "parsed without error: " << std::string(text.begin(), text.end());
    return {};
}

// English messages for the duration of a test.
class EnglishMessages
{
public:
    EnglishMessages() : m_saved(MessageLcid) { MessageLcid = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT); }
    ~EnglishMessages() { MessageLcid = m_saved; }

private:
    LCID m_saved;
};

} // namespace

TEST(KeyExpression, DefaultTableExamplesParse)
{
    struct Row { const wchar_t* text; size_t count; };
    const Row rows[] = {
        {L"b2 w01", 2}, {L"l012Z", 1}, {L"bX b4 b3 b2 b1 b0", 6}, {L"lh012346ZZ", 1},
        {L"w2(26,1,b0,b1,b2)", 1}, {L"rbit(4, l432Z)", 1},
        {L"ds(1,1,b0^0xff,b1^0xff,b2^0xff,0,0,0) l012Z^0xffffff", 2},
        {L"", 0}, {L"  \t ", 0}, {nullptr, 0}, {L"b0,", 1}, {L"b0 b1", 2}, {L"b0 !b1", 2},
        {L"b0 -b1", 1}, {L"b0(b1)", 2}, {L"09", 2}, {L"0b2", 2},
    };
    for (const Row& r : rows) {
        CZParser parser;
        parser.Parse(r.text);
        EXPECT_EQ(r.count, parser.ExpressionCount()) << (r.text ? r.text : L"(null)");
    }
}

TEST(KeyExpression, SyntaxErrorsCarryCodeAndPosition)
{
    struct Row { const wchar_t* text; HRESULT code; uint64_t position; };
    const Row rows[] = {
        {L",b0", PE_UNEXPECTED_OPERATOR, 0},     {L"rbit (2, w01)", PE_UNKNOWN_KEYWORD, 0},
        {L"b", PE_UNKNOWN_KEYWORD, 0},           {L"x", PE_UNKNOWN_KEYWORD, 0},
        {L"q1", PE_UNKNOWN_KEYWORD, 0},          {L"bw", PE_UNKNOWN_KEYWORD, 0},
        {L"y", PE_UNKNOWN_KEYWORD, 0},           {L"0x", PE_UNEXPECTED_END, 2},
        {L"0xg", PE_BAD_SUFFIX, 2},              {L"1 < 2", PE_UNKNOWN_SYMBOL, 2},
        {L"(b0", PE_EXPECTED_CLOSE, 3},          {L"x(1)", PE_EXPECTED_OPEN, 2},
        {L"b0 +", PE_UNEXPECTED_END, 4},         {L"b2 q1", PE_UNKNOWN_KEYWORD, 3},
        {L"12ab", PE_UNKNOWN_KEYWORD, 2},        {L"w0q", PE_UNKNOWN_KEYWORD, 0},
        {L"hh", PE_UNKNOWN_KEYWORD, 0},          {L" 0b", PE_UNEXPECTED_END, 3},
        {L"0bz", PE_BAD_SUFFIX, 2},              {L"b0 $", PE_UNKNOWN_SYMBOL, 3},
        {L"b0 = 1", PE_UNKNOWN_SYMBOL, 3},       {L"b0 )", PE_UNEXPECTED_OPERATOR, 3},
        {L"b0 + && b1", PE_UNEXPECTED_OPERATOR, 5}, {L"rbit(1 2)", PE_EXPECTED_CLOSE, 7},
        {L"rbit[1]", PE_EXPECTED_OPEN, 5},       {L"x[1)", PE_EXPECTED_CLOSE, 4},
        {L"w2(26,)", PE_UNEXPECTED_OPERATOR, 6}, {L"set(1,2", PE_EXPECTED_CLOSE, 7},
        {L"b0 &&", PE_UNEXPECTED_END, 5},        {L"\u0436\u0443\u043a", PE_UNKNOWN_KEYWORD, 0},
        {L"b0,,", PE_UNEXPECTED_OPERATOR, 3},
    };
    for (const Row& r : rows) {
        ParseFailure f = Failure(r.text);
        EXPECT_EQ(static_cast<uint32_t>(r.code), f.code) << r.text;
        EXPECT_EQ(r.position, f.position) << r.text;
    }
}

TEST(KeyExpression, MessagesQuoteTheToken)
{
    EnglishMessages english;
    EXPECT_EQ(L"Unknown keyword. \"q1\"", Failure(L"b2 Q1").message);
    EXPECT_EQ(L"Bad suffix on number. \"g\"", Failure(L"0xg").message);
    EXPECT_EQ(L"Unexpected operator. \"&&\"", Failure(L"&& b0").message);
    // Tokens without text (the end, a bracket) add nothing to the code's text.
    EXPECT_EQ(L"Unexpected end of expression.", Failure(L"b0 +").message);
    EXPECT_EQ(L"Expected '(' or '['.", Failure(L"x(1)").message);
    // what() carries the same text in the ANSI code page.
    try {
        CZParser parser;
        parser.Parse(L"1 < 2");
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_STREQ("Unknown symbol. \"<\"", e.what());
    }
}

TEST(KeyExpression, WordsAndIndexOverKeyBytes)
{
    struct Row { const wchar_t* text; int64_t value; };
    const Row rows[] = {
        {L"h5", 0x5},           {L"bh01", 0x12},      {L"w01", 0x3412},      {L"l0123", 0x78563412},
        {L"i0123", 0x78563412}, {L"b7", 0},           {L"x[3]", 0x78},       {L"x[-1]", 0},
        {L"x[4]", 0},           {L"b2", 0x56},        {L"B12", 0x34},        {L"w012", 0x3412},
        {L"bh", 0},             {L"lh012346ZZ", 0x00863412}, {L"w10", 0x1234}, {L"wz0", 0x1200},
        {L"m3210", 0x12345678}, {L"mh01", 0x12},      {L"wh0123", 0x3412},    {L"hf", 0},
        {L"lh", 0},             {L"b1q", 0x34},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.value, Value(r.text, Key1234)) << r.text;
    EXPECT_EQ(Value(L"rbit(2,w01)", Key1234), Value(L"RBIT(2, W01)", Key1234));
    // x and y: CRC-8 of a 1-Wire serial number; 0 for an empty key.
    const std::vector<uint8_t> six{1, 2, 3, 4, 5, 6};
    const uint8_t serial[] = {0x01, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(Crc8Dallas(serial, 7), Value(L"bx", six));
    EXPECT_EQ(Crc8Dallas(serial, 7) & 0x0F, Value(L"hx", six));
    EXPECT_EQ((std::vector<int64_t>{0, 0}), Values(L"bx by", {}));
    const std::vector<uint8_t> three{0x12, 0x34, 0x56};
    EXPECT_EQ(Value(L"ds(1,1,0x12,0x34,0x56,0,0,0)"), Value(L"by", three));
}

TEST(KeyExpression, OperatorsAndNumbers)
{
    struct Row { const wchar_t* text; int64_t value; };
    const Row rows[] = {
        {L"-1 >> 60", -1},               {L"1 << 64", 1},                 {L"1 << 65", 2},
        {L"7 / 2", 3},                   {L"-7 / 2", -3},                 {L"-7 % 2", -1},
        {L"7 % -2", 1},                  {L"2 + 3 * 4", 14},              {L"(2 + 3) * 4", 20},
        {L"1 + 2 << 1", 6},              {L"6 & 3 ^ 1", 3},               {L"1 | 2 ^ 2", 1},
        {L"0 || 0", 0},                  {L"5 && 7", 1},                  {L"!0", 1},
        {L"!5", 0},                      {L"~0", -1},                     {L"- -5", 5},
        {L"!~-1", 1},                     {L"+ 4", 4},                     {L"0x1F", 31},
        {L"0X1f", 31},                   {L"0b101", 5},                   {L"017", 15},
        {L"99999999999999999999", INT64_MAX},  {L"0xFFFFFFFFFFFFFFFF", INT64_MAX},
        {L"9223372036854775807 + 1", INT64_MIN}, {L"0x4000000000000000 * 4", 0},
        // No defined value in 64 bits: 0 rather than a hardware exception in the host.
        {L"7 / 0", 0},                   {L"7 % 0", 0},                   {L"(-9223372036854775807 - 1) / -1", 0},
        {L"(-9223372036854775807 - 1) % -1", 0}, {L"-9223372036854775807 / -1", INT64_MAX},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.value, Value(r.text)) << r.text;
    EXPECT_EQ((std::vector<int64_t>{0, 9}), Values(L"09"));
    EXPECT_EQ((std::vector<int64_t>{0, 2}), Values(L"0b2"));
    EXPECT_EQ((std::vector<int64_t>{12, 0x34}), Values(L"12b1", Key1234));
}

TEST(KeyExpression, Functions)
{
    struct Row { const wchar_t* text; int64_t value; };
    const Row rows[] = {
        {L"rbit(1, 0x101)", 0x180}, {L"rbit(2, 1)", 0x8000}, {L"rbit(8, 1)", INT64_MIN},
        {L"rbit(1)", 0},            {L"rbit(0, 1)", 0},      {L"rbit(9, 1)", 0},
        {L"cbit(1, 0x1FF)", 8},     {L"cbit(9, 1)", 0},      {L"cbit(8, -1)", 64},
        {L"get(7)", 0},             {L"get()", 0},           {L"set(1)", 0},
        {L"ds(1)", 0},              {L"ds(8, 1)", 0},        {L"ds(0, 1)", 0},
        {L"w2(26,1,0,0,0)", 0x1},   {L"w(26,1,0,0,0)", 0x2004000001}, {L"w2(26,1,0,0,0x80)", 0x3000001},
        {L"w2(26,1,1,0,1)", 0x2020002}, {L"w(26,1)", 0},     {L"w(38,1,1)", 0},
        {L"w(26,8,1)", 0},          {L"w(0,1,1)", 0},        {L"w(37,1,0)", 1},
        {L"w2()", 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.value, Value(r.text)) << r.text;
    // Variables: set in one expression, seen by the later ones; indexes by their low 32 bits.
    EXPECT_EQ((std::vector<int64_t>{9, 9, 0}), Values(L"set(3, 9) get(3) get(4)"));
    EXPECT_EQ((std::vector<int64_t>{4, 4}), Values(L"set(0x100000003, 4) get(3)"));
    EXPECT_EQ((std::vector<int64_t>{0, 0}), Values(L"0 && set(0,5) get(0)"));
    EXPECT_EQ((std::vector<int64_t>{1, 0}), Values(L"1 || set(0,5) get(0)"));
    EXPECT_EQ((std::vector<int64_t>{0, 0}), Values(L"ds(9, set(1,5)) get(1)"));
    // Each evaluation starts without variables, however often a parse is reused.
    CZParser parser;
    parser.Parse(L"set(1, get(1) + 1)");
    EXPECT_EQ(1, parser.Evaluate(nullptr, 0)[0]);
    EXPECT_EQ(1, parser.Evaluate(nullptr, 0)[0]);
    EXPECT_EQ(1, parser.GetVariable(1));
}

TEST(KeyExpression, CodingRoutines)
{
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(0xA1, Crc8Dallas(digits, 9));
    EXPECT_EQ(0, Crc8Dallas(nullptr, 0));
    const uint8_t one[] = {0x01, 0x00, 0x00};
    EXPECT_EQ(0x2u, WiegandFrame(26, one, 3, 1));
    EXPECT_EQ(0x2u | (1ull << 26) | (1ull << 37), WiegandFrame(26, one, 3, 0));
    // Missing bytes count as zeros; bytes beyond the data bits are not read.
    EXPECT_EQ(0x1u, WiegandFrame(26, one, 0, 1));
    const uint8_t full[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    // 12 + 12 ones: both halves even, so only the low half's odd-parity bit is set.
    EXPECT_EQ(0x1FFFFFFu, WiegandFrame(26, full, 5, 1));
    // 37 bits: 18 + 18 ones around the shared bit 18; no extra bits for the 37-bit frame.
    EXPECT_EQ(0xFFFFFFFFFull, WiegandFrame(37, full, 5, 0));
}

TEST(KeyExpression, NestingAndChainsAreBounded)
{
    auto nested = [](int n) { return std::wstring(n, L'(') + L"b0" + std::wstring(n, L')'); };
    auto chain = [](int n) {
        std::wstring t = L"b0";
        for (int i = 0; i < n; ++i)
            t += L"+b0";
        return t;
    };
    EXPECT_EQ(0x12, Value(nested(KEY_EXPR_MAX_NESTING - 1).c_str(), Key1234));
    EXPECT_EQ(PE_EXPRESSION_TOO_DEEP, Failure(nested(KEY_EXPR_MAX_NESTING)).code);
    EXPECT_EQ(PE_EXPRESSION_TOO_DEEP, Failure(nested(100000)).code);
    EXPECT_EQ(PE_EXPRESSION_TOO_DEEP, Failure(std::wstring(100000, L'-') + L"1").code);
    EXPECT_EQ(0x12 * KEY_EXPR_MAX_HEIGHT, Value(chain(KEY_EXPR_MAX_HEIGHT - 1).c_str(), Key1234));
    EXPECT_EQ(PE_EXPRESSION_TOO_DEEP, Failure(chain(KEY_EXPR_MAX_HEIGHT)).code);
    EXPECT_EQ(PE_EXPRESSION_TOO_DEEP, Failure(chain(200000)).code);
    // Many expressions side by side are no depth.
    std::wstring wide;
    for (int i = 0; i < 20000; ++i)
        wide += L"b0 ";
    EXPECT_EQ(20000u, Values(wide.c_str(), Key1234).size());
    // A number of any length saturates.
    EXPECT_EQ(INT64_MAX, Value((L"0x" + std::wstring(5000, L'F')).c_str()));
}

TEST(KeyExpression, FuzzedTextsParseOrFailCleanly)
{
    const wchar_t* pieces[] = {L"(", L")", L"[", L"]", L",", L"+", L"-", L"*", L"/", L"%", L"<<", L">>",
                               L"&", L"&&", L"|", L"||", L"^", L"!", L"~", L" ", L"0", L"7", L"0x",
                               L"0b", L"99999999999999999999", L"b", L"w", L"l", L"m", L"h", L"x",
                               L"y", L"z", L"f", L"q", L"rbit(", L"cbit(", L"set(", L"get(", L"ds(",
                               L"w(", L"w2(", L"x[", L"b0", L"mh0123456789abcdef", L"<", L"$", L"\u0436"};
    std::mt19937 rng(4242);
    size_t parsed = 0;
    for (int i = 0; i < 20000; ++i) {
        std::wstring text;
        const int n = static_cast<int>(rng() % 30);
        for (int k = 0; k < n; ++k)
            text += pieces[rng() % (sizeof(pieces) / sizeof(pieces[0]))];
        std::vector<uint8_t> key(rng() % 16);
        for (uint8_t& b : key)
            b = static_cast<uint8_t>(rng());
        CZParser parser;
        try {
            parser.Parse(text.c_str());
            parser.Evaluate(key.data(), key.size());
            ++parsed;
        } catch (const CZParserException& e) {
            EXPECT_LE(e.Position(), text.size());
            EXPECT_FALSE(e.Message().empty());
        }
    }
    EXPECT_GT(parsed, 100u); // the loop reaches evaluation, not only errors
}
