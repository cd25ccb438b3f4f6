// The key-number expression language: lexer, recursive-descent parser, tree evaluation and the two
// coding routines its functions use. All arithmetic is done on unsigned 64-bit values and cast
// back, so that wrap-around is defined; division by zero and the one overflowing division give 0.
#include "KeyExpression.h"
#include "CodePage.h"
#include "Messages.h"
#include "ResText.h"
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cwctype>

// ---------------------------------------------------------------------------------------------
// CZParserException

CZParserException::CZParserException(uint32_t code, uint64_t position, const wchar_t* token)
    : m_code(code), m_position(position)
{
    if (!GetErrorText(m_wideMessage, nullptr, code)) {
        wchar_t buffer[16];
        _snwprintf(buffer, 16, L"0x%08X", code);
        buffer[15] = 0;
        m_wideMessage = buffer;
    }
    if (token && *token) {
        m_wideMessage += L" \"";
        m_wideMessage += token;
        m_wideMessage += L'"';
    }
    WideToAnsi(m_message, m_wideMessage.c_str());
}

// ---------------------------------------------------------------------------------------------
// Coding routines

namespace {

inline uint8_t Crc8Step(uint8_t crc, uint8_t byte)
{
    crc ^= byte;
    for (int i = 0; i < 8; ++i)
        crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C) : static_cast<uint8_t>(crc >> 1);
    return crc;
}

// Odd number of one bits in v?
inline bool OddOnes(uint64_t v) { return __builtin_popcountll(v) & 1; }

// Bits lo..hi of v (inclusive); empty when hi < lo.
inline uint64_t BitRange(uint64_t v, int lo, int hi)
{
    if (hi < lo || lo > 63)
        return 0;
    if (hi > 63)
        hi = 63;
    int width = hi - lo + 1;
    uint64_t mask = width >= 64 ? ~0ULL : ((1ULL << width) - 1);
    return (v >> lo) & mask;
}

} // namespace

uint8_t Crc8Dallas(const uint8_t* data, int64_t length)
{
    uint8_t crc = 0;
    for (int64_t i = 0; i < length; ++i)
        crc = Crc8Step(crc, data[i]);
    return crc;
}

uint64_t WiegandFrame(uint32_t bits, const uint8_t* bytes, int64_t count, uint32_t plainFlag)
{
    const int n = static_cast<int>(bits);
    const int d = n - 2; // data bits
    uint64_t value = 0;
    if (d > 0) {
        int64_t take = std::min<int64_t>((d + 7) / 8, count);
        for (int64_t i = take - 1; i >= 0; --i)
            value = (value << 8) | bytes[i];
        value &= d >= 64 ? ~0ULL : ((1ULL << d) - 1);
    }
    value <<= 1;
    const int low = d / 2 + (n % 2); // d / 2 truncates toward zero, as for a frame of 1 bit
    if (!OddOnes(BitRange(value, 1, low)))
        value |= 1; // odd parity over the low half
    const int high = (n % 2) ? low : low + 1;
    if (OddOnes(BitRange(value, high, d)))
        value |= 1ULL << (n - 1); // even parity over the high half
    if (n != 37 && !plainFlag)
        value |= (1ULL << n) | (1ULL << 37);
    return value;
}

// ---------------------------------------------------------------------------------------------
// Tree nodes

CZOperatorNode::CZOperatorNode(uint32_t op, std::unique_ptr<CZParseNode> left,
                               std::unique_ptr<CZParseNode> right)
    : m_operator(op), m_left(std::move(left)), m_right(std::move(right))
{
    int h = m_left ? m_left->Height() : 0;
    if (m_right)
        h = std::max(h, m_right->Height());
    m_height = h + 1;
}

int64_t CZOperatorNode::Evaluate(const uint8_t* data, int64_t length) const
{
    const int64_t a = m_left->Evaluate(data, length);
    const uint64_t ua = static_cast<uint64_t>(a);
    switch (m_operator) {
    case ZOP_NOT: return static_cast<int64_t>(~ua);
    case ZOP_LNOT: return a == 0;
    case ZOP_NEG: return static_cast<int64_t>(0 - ua);
    case ZOP_LAND: return a != 0 && m_right->Evaluate(data, length) != 0;
    case ZOP_LOR: return a != 0 || m_right->Evaluate(data, length) != 0;
    default: break;
    }
    if (!m_right)
        return 0;
    const int64_t b = m_right->Evaluate(data, length);
    const uint64_t ub = static_cast<uint64_t>(b);
    switch (m_operator) {
    case ZOP_ADD: return static_cast<int64_t>(ua + ub);
    case ZOP_SUB: return static_cast<int64_t>(ua - ub);
    case ZOP_MUL: return static_cast<int64_t>(ua * ub);
    // Division by zero and INT64_MIN / -1 have no value in 64 bits; a key is formatted with 0
    // rather than the host process being brought down by a hardware exception.
    case ZOP_DIV: return (b == 0 || (b == -1 && a == INT64_MIN)) ? 0 : a / b;
    case ZOP_MOD: return (b == 0 || (b == -1 && a == INT64_MIN)) ? 0 : a % b;
    case ZOP_SHL: return static_cast<int64_t>(ua << (ub & 63));
    case ZOP_SHR: return a >> (ub & 63); // arithmetic: the sign is copied in
    case ZOP_AND: return a & b;
    case ZOP_XOR: return a ^ b;
    case ZOP_OR: return a | b;
    default: return 0;
    }
}

CZFuncNode::CZFuncNode(uint32_t id, CZParser* parser) : m_id(id), m_parser(parser) {}

void CZFuncNode::AddArgument(std::unique_ptr<CZParseNode> argument)
{
    m_height = std::max(m_height, argument->Height() + 1);
    m_args.push_back(std::move(argument));
}

void CZFuncNode::AddDigit(int8_t value)
{
    if (m_digitCount < sizeof(m_digits))
        m_digits[m_digitCount++] = value;
}

int64_t CZFuncNode::Evaluate(const uint8_t* data, int64_t length) const
{
    return m_id >= ZFN_B ? EvaluateWord(data, length) : EvaluateFunction(data, length);
}

namespace {

// The CRC byte that the digits x and y stand for (0 for an empty key).
uint8_t DigitCrc(int8_t digit, const uint8_t* data, int64_t length)
{
    if (length <= 0)
        return 0;
    uint8_t crc = Crc8Step(0, 0x01);
    const int64_t used = digit == ZDIGIT_X ? 6 : 3;
    for (int64_t i = 0; i < 6; ++i)
        crc = Crc8Step(crc, (i < used && i < length) ? data[i] : 0);
    return crc;
}

// Reverses the order of the lowest `bits` bits of v.
uint64_t ReverseLowBits(uint64_t v, int bits)
{
    uint64_t r = 0;
    for (int i = 0; i < bits; ++i)
        if ((v >> i) & 1)
            r |= 1ULL << (bits - 1 - i);
    uint64_t mask = bits >= 64 ? ~0ULL : ((1ULL << bits) - 1);
    return (v & ~mask) | r;
}

inline uint64_t LowBytesMask(int64_t n) { return n >= 8 ? ~0ULL : ((1ULL << (8 * n)) - 1); }

} // namespace

int64_t CZFuncNode::EvaluateWord(const uint8_t* data, int64_t length) const
{
    static const uint8_t room[] = {1, 2, 4, 8, 1, 2, 4, 8, 16}; // b w l m h bh wh lh mh
    const uint32_t index = m_id - ZFN_B;
    if (index >= sizeof(room))
        return 0;
    const bool nibbles = index >= 4;
    const int shift = nibbles ? 4 : 8;
    uint64_t result = 0;
    for (int k = room[index] - 1; k >= 0; --k) {
        uint64_t unit = 0;
        if (k < m_digitCount) {
            const int8_t v = m_digits[k];
            if (v >= 0) {
                if (!nibbles)
                    unit = v < length ? data[v] : 0;
                else if (v / 2 < length)
                    unit = (v & 1) ? (data[v / 2] >> 4) : (data[v / 2] & 0x0F);
            } else if (v == ZDIGIT_X || v == ZDIGIT_Y) {
                unit = DigitCrc(v, data, length);
                if (nibbles)
                    unit &= 0x0F;
            }
        }
        result = (result << shift) + unit;
    }
    return static_cast<int64_t>(result);
}

int64_t CZFuncNode::EvaluateFunction(const uint8_t* data, int64_t length) const
{
    const size_t argc = m_args.size();
    auto arg = [&](size_t i) { return m_args[i]->Evaluate(data, length); };
    switch (m_id) {
    case ZFN_RBIT:
    case ZFN_CBIT: {
        if (argc < 2)
            return 0;
        const int64_t n = arg(0);
        if (n < 1 || n > 8)
            return 0;
        const uint64_t v = static_cast<uint64_t>(arg(1));
        if (m_id == ZFN_RBIT)
            return static_cast<int64_t>(ReverseLowBits(v, static_cast<int>(8 * n)));
        return __builtin_popcountll(v & LowBytesMask(n));
    }
    case ZFN_SET: {
        if (argc < 2)
            return 0;
        const int64_t i = arg(0);
        const int64_t v = arg(1);
        m_parser->SetVariable(static_cast<int32_t>(static_cast<uint32_t>(i)), v);
        return v;
    }
    case ZFN_GET:
        if (argc < 1)
            return 0;
        return m_parser->GetVariable(static_cast<int32_t>(static_cast<uint32_t>(arg(0))));
    case ZFN_DS: {
        if (argc < 2)
            return 0;
        const int64_t n = arg(0);
        if (n < 1 || n > 7)
            return 0;
        uint8_t crc = 0;
        for (size_t i = 1; i < argc; ++i) {
            const uint64_t v = static_cast<uint64_t>(arg(i));
            for (int64_t b = 0; b < n; ++b)
                crc = Crc8Step(crc, static_cast<uint8_t>(v >> (8 * b)));
        }
        return crc;
    }
    case ZFN_W:
    case ZFN_W2: {
        if (argc < 3)
            return 0;
        const uint32_t bits = static_cast<uint32_t>(arg(0));
        if (bits < 1 || bits > 37)
            return 0;
        const int64_t n = arg(1);
        if (n < 1 || n > 7)
            return 0;
        // A frame uses at most 5 data bytes; later arguments are still evaluated for their effects.
        uint8_t bytes[8] = {};
        int64_t count = 0;
        for (size_t i = 2; i < argc; ++i) {
            const uint64_t v = static_cast<uint64_t>(arg(i));
            for (int64_t b = 0; b < n; ++b, ++count)
                if (count < 8)
                    bytes[count] = static_cast<uint8_t>(v >> (8 * b));
        }
        return static_cast<int64_t>(
            WiegandFrame(bits, bytes, std::min<int64_t>(count, 8), m_id == ZFN_W2 ? 1 : 0));
    }
    case ZFN_X: {
        if (argc < 1)
            return 0;
        const int64_t i = arg(0);
        return (i >= 0 && i < length) ? data[i] : 0;
    }
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Parser

namespace {

const wchar_t* const Symbols[] = {L"&&", L"||", L"<<", L">>", L"+", L"-", L"*", L"/", L"%", L"^",
                                  L"!",  L"~",  L"&",  L"|",  L"[", L"]", L"(", L")", L","};
const wchar_t* const FunctionNames[] = {L"rbit", L"cbit", L"set", L"get", L"ds", L"w", L"w2", L"x"};

inline bool IsDecimal(wchar_t c) { return c >= L'0' && c <= L'9'; }
inline bool IsHex(wchar_t c)
{
    return IsDecimal(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}
inline int HexValue(wchar_t c) { return IsDecimal(c) ? c - L'0' : (c | 0x20) - L'a' + 10; }
inline bool IsLetter(wchar_t c) { return !IsDecimal(c) && iswalpha(c); }

bool IsBaseDigit(wchar_t c, uint32_t base)
{
    switch (base) {
    case 2: return c == L'0' || c == L'1';
    case 8: return c >= L'0' && c <= L'7';
    case 16: return IsHex(c);
    default: return IsDecimal(c);
    }
}

// Operator tokens of the binary levels, from the lowest precedence to the highest.
struct BinaryLevel
{
    uint32_t tokens[3];
    uint32_t ops[3];
    int count;
};
const BinaryLevel BinaryLevels[] = {
    {{ZT_LOR}, {ZOP_LOR}, 1},
    {{ZT_LAND}, {ZOP_LAND}, 1},
    {{ZT_OR}, {ZOP_OR}, 1},
    {{ZT_XOR}, {ZOP_XOR}, 1},
    {{ZT_AND}, {ZOP_AND}, 1},
    {{ZT_SHL, ZT_SHR}, {ZOP_SHL, ZOP_SHR}, 2},
    {{ZT_PLUS, ZT_MINUS}, {ZOP_ADD, ZOP_SUB}, 2},
    {{ZT_MUL, ZT_DIV, ZT_MOD}, {ZOP_MUL, ZOP_DIV, ZOP_MOD}, 3},
};
const int BinaryLevelCount = sizeof(BinaryLevels) / sizeof(BinaryLevels[0]);

} // namespace

int64_t CZParser::GetVariable(int32_t index) const
{
    auto it = std::lower_bound(m_variables.begin(), m_variables.end(), index,
                               [](const std::pair<int32_t, int64_t>& p, int32_t i) { return p.first < i; });
    return (it != m_variables.end() && it->first == index) ? it->second : 0;
}

void CZParser::SetVariable(int32_t index, int64_t value)
{
    auto it = std::lower_bound(m_variables.begin(), m_variables.end(), index,
                               [](const std::pair<int32_t, int64_t>& p, int32_t i) { return p.first < i; });
    if (it != m_variables.end() && it->first == index)
        it->second = value;
    else
        m_variables.insert(it, {index, value});
}

const std::vector<int64_t>& CZParser::Evaluate(const uint8_t* data, size_t length)
{
    m_variables.clear();
    m_results.resize(m_expressions.size());
    for (size_t i = 0; i < m_expressions.size(); ++i)
        m_results[i] = m_expressions[i]->Evaluate(data, static_cast<int64_t>(length));
    return m_results;
}

void CZParser::ThrowError(uint32_t code)
{
    m_expressions.clear();
    throw CZParserException(code, m_position - m_tokenText.size(), m_tokenText.c_str());
}

void CZParser::Parse(const wchar_t* text)
{
    m_source = text ? text : L"";
    m_position = 0;
    m_tokenText.clear();
    m_expressions.clear();
    m_variables.clear();
    m_results.clear();
    m_nesting = 0;
    NextToken();
    while (m_token != ZT_END) {
        m_expressions.push_back(ParseBinary(0));
        if (m_token == ZT_COMMA)
            NextToken();
    }
}

void CZParser::NextToken()
{
    m_tokenText.clear();
    const size_t length = m_source.size();
    while (m_position < length && iswspace(m_source[m_position]))
        ++m_position;
    if (m_position >= length) {
        m_token = ZT_END;
        return;
    }
    const wchar_t c = m_source[m_position];
    if (IsDecimal(c)) {
        ReadNumber();
        return;
    }
    if (IsLetter(c)) {
        ReadName();
        return;
    }
    for (uint32_t t = 0; t <= ZT_COMMA; ++t) {
        const size_t n = wcslen(Symbols[t]);
        if (m_source.compare(m_position, n, Symbols[t]) == 0) {
            m_position += n;
            m_token = t;
            return;
        }
    }
    m_tokenText = c;
    ++m_position;
    ThrowError(PE_UNKNOWN_SYMBOL);
}

void CZParser::ReadNumber()
{
    const size_t length = m_source.size();
    m_token = ZT_NUMBER;
    m_base = 10;
    if (m_source[m_position] == L'0') {
        m_tokenText = L'0';
        ++m_position;
        m_base = 8;
        if (m_position < length) {
            const wchar_t p = m_source[m_position];
            if (p == L'b' || p == L'B' || p == L'x' || p == L'X') {
                m_tokenText.clear();
                m_base = (p == L'b' || p == L'B') ? 2 : 16;
                ++m_position;
                if (m_position >= length)
                    ThrowError(PE_UNEXPECTED_END);
                if (!IsHex(m_source[m_position])) {
                    m_tokenText = m_source[m_position];
                    ++m_position;
                    ThrowError(PE_BAD_SUFFIX);
                }
            }
        }
    }
    while (m_position < length && IsBaseDigit(m_source[m_position], m_base))
        m_tokenText += m_source[m_position++];
}

void CZParser::ReadName()
{
    const size_t length = m_source.size();
    const size_t start = m_position;
    while (m_position < length && (IsLetter(m_source[m_position]) || IsDecimal(m_source[m_position])))
        ++m_position;
    m_tokenText.assign(m_source, start, m_position - start);
    // Names are case-blind. The runtime's towlower knows only ASCII in its default locale; the
    // invariant mapping lowers every letter, so an error message shows the name the same way on
    // every system.
    LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, &m_tokenText[0], static_cast<int>(m_tokenText.size()),
                 &m_tokenText[0], static_cast<int>(m_tokenText.size()));
    if (m_position < length && (m_source[m_position] == L'(' || m_source[m_position] == L'[')) {
        for (uint32_t i = 0; i < 8; ++i) {
            if (m_tokenText == FunctionNames[i]) {
                m_token = ZT_FUNC_FIRST + i;
                return;
            }
        }
    }
    // A parameter word: one or two letters naming its size, then its digits.
    if (m_tokenText.size() < 2)
        ThrowError(PE_UNKNOWN_KEYWORD);
    size_t room;
    switch (m_tokenText[0]) {
    case L'b': m_token = 27; room = 1; break;
    case L'w': m_token = 28; room = 2; break;
    case L'i':
    case L'l': m_token = 29; room = 4; break;
    case L'm': m_token = 30; room = 8; break;
    case L'h': m_token = 31; room = 1; break;
    default: ThrowError(PE_UNKNOWN_KEYWORD);
    }
    size_t nameLength = 1;
    if (m_token != 31 && m_tokenText[1] == L'h') {
        m_token += 5;
        room *= 2;
        nameLength = 2;
    }
    const size_t digits = std::min(room, m_tokenText.size() - nameLength);
    for (size_t k = 0; k < digits; ++k) {
        const wchar_t d = m_tokenText[nameLength + k];
        if (!IsHex(d) && d != L'x' && d != L'y' && d != L'z')
            ThrowError(PE_UNKNOWN_KEYWORD);
    }
}

int64_t CZParser::NumberValue() const
{
    // Saturates at the largest value rather than wrapping: a longer number is that value.
    uint64_t value = 0;
    for (wchar_t c : m_tokenText) {
        const uint64_t digit = static_cast<uint64_t>(HexValue(c));
        if (value > (static_cast<uint64_t>(INT64_MAX) - digit) / m_base)
            return INT64_MAX;
        value = value * m_base + digit;
    }
    return static_cast<int64_t>(value);
}

std::unique_ptr<CZParseNode> CZParser::CheckHeight(std::unique_ptr<CZParseNode> node)
{
    if (node->Height() > KEY_EXPR_MAX_HEIGHT)
        ThrowError(PE_EXPRESSION_TOO_DEEP);
    return node;
}

std::unique_ptr<CZParseNode> CZParser::ParseBinary(int level)
{
    if (level >= BinaryLevelCount)
        return ParseUnary();
    const BinaryLevel& l = BinaryLevels[level];
    std::unique_ptr<CZParseNode> left = ParseBinary(level + 1);
    for (;;) {
        int i = 0;
        while (i < l.count && l.tokens[i] != m_token)
            ++i;
        if (i == l.count)
            return left;
        NextToken();
        std::unique_ptr<CZParseNode> right = ParseBinary(level + 1);
        left = CheckHeight(std::make_unique<CZOperatorNode>(l.ops[i], std::move(left), std::move(right)));
    }
}

std::unique_ptr<CZParseNode> CZParser::ParseUnary()
{
    // Every nesting (brackets, arguments, unary operators) passes through here.
    if (++m_nesting > KEY_EXPR_MAX_NESTING)
        ThrowError(PE_EXPRESSION_TOO_DEEP);
    std::unique_ptr<CZParseNode> node;
    uint32_t op = 0;
    switch (m_token) {
    case ZT_PLUS: op = ZOP_ADD; break;
    case ZT_MINUS: op = ZOP_NEG; break;
    case ZT_LNOT: op = ZOP_LNOT; break;
    case ZT_NOT: op = ZOP_NOT; break;
    default: node = ParsePrimary(); break;
    }
    if (!node) {
        NextToken();
        node = ParseUnary();
        if (op != ZOP_ADD) // a unary plus is the operand itself
            node = CheckHeight(std::make_unique<CZOperatorNode>(op, std::move(node), nullptr));
    }
    --m_nesting;
    return node;
}

std::unique_ptr<CZParseNode> CZParser::ParsePrimary()
{
    const uint32_t token = m_token;
    if (token == ZT_LPAREN) {
        NextToken();
        std::unique_ptr<CZParseNode> node = ParseBinary(0);
        if (m_token != ZT_RPAREN)
            ThrowError(PE_EXPECTED_CLOSE);
        NextToken();
        return node;
    }
    if (token >= ZT_FUNC_FIRST && token <= ZT_X)
        return ParseFunction(token - ZT_FUNC_FIRST);
    if (token == ZT_NUMBER) {
        auto node = std::make_unique<CZValueNode>(NumberValue());
        NextToken();
        return node;
    }
    if (token >= ZT_WORD_FIRST && token <= ZT_WORD_LAST) {
        std::unique_ptr<CZParseNode> node = ParseWord();
        NextToken();
        return node;
    }
    if (token == ZT_END)
        ThrowError(PE_UNEXPECTED_END);
    m_tokenText = Symbols[token]; // an operator, bracket or comma where an operand must stand
    ThrowError(PE_UNEXPECTED_OPERATOR);
}

std::unique_ptr<CZParseNode> CZParser::ParseFunction(uint32_t id)
{
    auto node = std::make_unique<CZFuncNode>(id, this);
    NextToken();
    if (id == ZFN_X) {
        if (m_token != ZT_LBRACKET)
            ThrowError(PE_EXPECTED_OPEN);
        NextToken();
        node->AddArgument(ParseBinary(0));
        if (m_token != ZT_RBRACKET)
            ThrowError(PE_EXPECTED_CLOSE);
        NextToken();
        return CheckHeight(std::move(node));
    }
    if (m_token != ZT_LPAREN)
        ThrowError(PE_EXPECTED_OPEN);
    NextToken();
    if (m_token == ZT_RPAREN) {
        NextToken();
        return node;
    }
    for (;;) {
        node->AddArgument(ParseBinary(0));
        if (m_token == ZT_COMMA) {
            NextToken();
            continue;
        }
        if (m_token != ZT_RPAREN)
            ThrowError(PE_EXPECTED_CLOSE);
        NextToken();
        return CheckHeight(std::move(node));
    }
}

std::unique_ptr<CZParseNode> CZParser::ParseWord()
{
    auto node = std::make_unique<CZFuncNode>(m_token - ZT_FUNC_FIRST, this);
    static const size_t room[] = {1, 2, 4, 8, 1, 2, 4, 8, 16};
    const uint32_t index = m_token - ZT_WORD_FIRST;
    const size_t nameLength = index >= 5 ? 2 : 1; // bh, wh, lh, mh have two letters
    const size_t digits = std::min(room[index], m_tokenText.size() - nameLength);
    for (size_t k = 0; k < digits; ++k) {
        const wchar_t d = m_tokenText[nameLength + k];
        node->AddDigit(d == L'x' ? ZDIGIT_X : d == L'y' ? ZDIGIT_Y : d == L'z' ? ZDIGIT_Z
                                                                  : static_cast<int8_t>(HexValue(d)));
    }
    return node;
}
