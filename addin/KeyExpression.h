// The key-number expression language of key formats: the parameter text of a format holds one
// expression per template conversion, and each expression turns the bytes of a read key into a
// signed 64-bit number ("b2 w01", "w2(26,1,b0,b1,b2)", "ds(1,1,b0,b1,b2,0,0,0)").
// CZParser reads the whole text into expression trees once; the trees are then evaluated over any
// number of keys. Evaluation never fails: every out-of-range index, missing argument or undefined
// arithmetic gives a defined value, so a parsed format can be applied to any key a reader sends.
// Rule: a parser and its trees are used by one thread at a time (evaluation writes the parser's
// variables).
#pragma once
#include "Exceptions.h"
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// A syntax error in a parameter text: the HRESULT (0x80040238-0x8004023E), the character index in
// the text where the offending token starts, and a finished message in the message language.
class CZParserException : public std::exception, public IExceptionMessage
{
public:
    // token: the text of the offending token, quoted after the code's text; null or empty for none.
    CZParserException(uint32_t code, uint64_t position, const wchar_t* token);
    CZParserException(const CZParserException& other) = default;
    CZParserException& operator=(const CZParserException& other) = default;

    // The message in the ANSI code page.
    const char* what() const noexcept override { return m_message.c_str(); }
    uint32_t Code() const { return m_code; }
    uint64_t Position() const { return m_position; }
    // The same message before its conversion to the ANSI code page (nothing lost to the code page).
    const std::wstring& Message() const override { return m_wideMessage; }

private:
    uint32_t m_code;
    uint64_t m_position;
    std::string m_message;
    std::wstring m_wideMessage;
};

// Parse errors beyond the language's own codes: an expression nested or chained so deeply that
// evaluating it could exhaust the stack of the thread that formats keys.
const uint32_t PE_EXPRESSION_TOO_DEEP = 0x800703E9; // HRESULT_FROM_WIN32(ERROR_STACK_OVERFLOW)
// Limits that keep every parse and evaluation well inside a reader thread's stack.
const int KEY_EXPR_MAX_NESTING = 100; // unary operators, brackets and function arguments
const int KEY_EXPR_MAX_HEIGHT = 1000; // operator and function nodes on one path of a tree

// The Dallas/Maxim 1-Wire CRC-8 (reflected polynomial 0x8C, initial value 0, no final xor).
uint8_t Crc8Dallas(const uint8_t* data, int64_t length);
// A Wiegand frame of `bits` bits (1-37) around bits - 2 data bits taken little-endian from the
// bytes, with the odd parity of the low half in bit 0 and the even parity of the high half on top;
// unless plainFlag is set or bits is 37, bits `bits` and 37 are set as well.
uint64_t WiegandFrame(uint32_t bits, const uint8_t* bytes, int64_t count, uint32_t plainFlag);

class CZParser;

// A node of an expression tree. Each node owns its children.
class CZParseNode
{
public:
    virtual ~CZParseNode() = default;
    // The node's value over the key bytes data[0 .. length-1].
    virtual int64_t Evaluate(const uint8_t* data, int64_t length) const = 0;

    // Operator and function nodes on the longest path down from this node (1 for a leaf).
    int Height() const { return m_height; }

protected:
    int m_height = 1;
};

// A number.
class CZValueNode : public CZParseNode
{
public:
    explicit CZValueNode(int64_t value) : m_value(value) {}
    int64_t Evaluate(const uint8_t*, int64_t) const override { return m_value; }
    int64_t Value() const { return m_value; }

private:
    int64_t m_value;
};

// Operator codes of CZOperatorNode.
enum : uint32_t
{
    ZOP_ADD = 0, ZOP_SUB = 1, ZOP_MUL = 2, ZOP_DIV = 3, ZOP_MOD = 4, ZOP_NOT = 5, ZOP_LNOT = 6,
    ZOP_NEG = 7, ZOP_SHL = 8, ZOP_SHR = 9, ZOP_AND = 10, ZOP_XOR = 11, ZOP_OR = 12, ZOP_LAND = 13,
    ZOP_LOR = 14,
};

// A unary (right operand null) or binary operator.
class CZOperatorNode : public CZParseNode
{
public:
    CZOperatorNode(uint32_t op, std::unique_ptr<CZParseNode> left, std::unique_ptr<CZParseNode> right);
    int64_t Evaluate(const uint8_t* data, int64_t length) const override;

private:
    uint32_t m_operator;
    std::unique_ptr<CZParseNode> m_left;
    std::unique_ptr<CZParseNode> m_right;
};

// Function ids of CZFuncNode (a function's or word's token code minus 19).
enum : uint32_t
{
    ZFN_RBIT = 0, ZFN_CBIT = 1, ZFN_SET = 2, ZFN_GET = 3, ZFN_DS = 4, ZFN_W = 5, ZFN_W2 = 6, ZFN_X = 7,
    ZFN_B = 8, ZFN_WORD = 9, ZFN_L = 10, ZFN_M = 11, ZFN_H = 12, ZFN_BH = 13, ZFN_WH = 14, ZFN_LH = 15,
    ZFN_MH = 16,
};

// Digit values of a parameter word besides 0-15.
const int8_t ZDIGIT_X = -1; // CRC-8 of a 1-Wire serial number: 0x01 and key bytes 0-5
const int8_t ZDIGIT_Y = -2; // CRC-8 of 0x01, key bytes 0-2 and three zeros
const int8_t ZDIGIT_Z = -3; // always 0

// A function call (arguments are trees) or a parameter word (arguments are digit values).
class CZFuncNode : public CZParseNode
{
public:
    CZFuncNode(uint32_t id, CZParser* parser);
    int64_t Evaluate(const uint8_t* data, int64_t length) const override;

    void AddArgument(std::unique_ptr<CZParseNode> argument);
    void AddDigit(int8_t value);
    size_t ArgumentCount() const { return m_args.size(); }

private:
    int64_t EvaluateWord(const uint8_t* data, int64_t length) const;
    int64_t EvaluateFunction(const uint8_t* data, int64_t length) const;

    uint32_t m_id;
    std::vector<std::unique_ptr<CZParseNode>> m_args;
    int8_t m_digits[16] = {}; // a word holds at most 16 digits (mh)
    uint8_t m_digitCount = 0;
    CZParser* m_parser;
};

// Token codes of the lexer.
enum : uint32_t
{
    ZT_LAND = 0, ZT_LOR = 1, ZT_SHL = 2, ZT_SHR = 3, ZT_PLUS = 4, ZT_MINUS = 5, ZT_MUL = 6,
    ZT_DIV = 7, ZT_MOD = 8, ZT_XOR = 9, ZT_LNOT = 10, ZT_NOT = 11, ZT_AND = 12, ZT_OR = 13,
    ZT_LBRACKET = 14, ZT_RBRACKET = 15, ZT_LPAREN = 16, ZT_RPAREN = 17, ZT_COMMA = 18,
    ZT_FUNC_FIRST = 19, ZT_X = 26, ZT_WORD_FIRST = 27, ZT_WORD_LAST = 35, ZT_NUMBER = 36, ZT_END = 37,
};

// Parses a parameter text into expression trees and evaluates them over key bytes.
class CZParser
{
public:
    CZParser() = default;
    CZParser(const CZParser&) = delete;
    CZParser& operator=(const CZParser&) = delete;

    // Replaces every expression by those of `text` (null = empty). Throws CZParserException on the
    // first error, leaving no expression; an empty or blank text gives none.
    void Parse(const wchar_t* text);
    // Evaluates every expression in list order over the key bytes, starting from no variables, so
    // that `set` in one expression is seen by the later ones. Returns the results (one per
    // expression); they stay readable through Results() until the next call.
    const std::vector<int64_t>& Evaluate(const uint8_t* data, size_t length);

    size_t ExpressionCount() const { return m_expressions.size(); }
    const std::vector<int64_t>& Results() const { return m_results; }

    // The variables of `set` and `get`; a variable never set reads 0.
    int64_t GetVariable(int32_t index) const;
    void SetVariable(int32_t index, int64_t value);

private:
    void NextToken();
    void ReadNumber();
    void ReadName();
    [[noreturn]] void ThrowError(uint32_t code);

    std::unique_ptr<CZParseNode> ParseBinary(int level);
    std::unique_ptr<CZParseNode> ParseUnary();
    std::unique_ptr<CZParseNode> ParsePrimary();
    std::unique_ptr<CZParseNode> ParseFunction(uint32_t id);
    std::unique_ptr<CZParseNode> ParseWord();
    std::unique_ptr<CZParseNode> CheckHeight(std::unique_ptr<CZParseNode> node);
    int64_t NumberValue() const;

    std::wstring m_source;
    uint32_t m_token = ZT_END;
    std::wstring m_tokenText;
    uint32_t m_base = 10;
    size_t m_position = 0;
    int m_nesting = 0;
    // Few variables are ever used; a sorted flat list keeps its memory from key to key.
    std::vector<std::pair<int32_t, int64_t>> m_variables;
    std::vector<int64_t> m_results;
    std::vector<std::unique_ptr<CZParseNode>> m_expressions;
};
