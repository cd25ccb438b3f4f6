// The printf template of a key format: its analysis into conversions (each with the kind of argument
// it takes) and its filling with the values of the format's expressions.
// Rule: a template reaches the C runtime's printf only when every conversion in it takes exactly one
// 8-byte argument that is safe to read: "%n", "*" widths or precisions, unknown conversions and
// absurd field sizes are never printed (see TemplateUnprintable).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Argument kinds of a conversion.
enum : uint32_t
{
    TEMPLATE_ARG_NONE = 0,        // unsupported conversion (also "Z" and one cut off by the end)
    TEMPLATE_ARG_INT16 = 1,       // d i o u x X with "h"
    TEMPLATE_ARG_INT32 = 2,       // the same with "l" or "I32"
    TEMPLATE_ARG_INT64 = 3,       // the same with "ll", "I64", "I", "w" or no prefix
    TEMPLATE_ARG_DOUBLE = 4,      // e E f g G a A
    TEMPLATE_ARG_NARROW_CHAR = 5, // "c" with "h"; "C" without "l" or "w"
    TEMPLATE_ARG_WIDE_CHAR = 6,   // "c" without "h"; "C" with "l" or "w"
    TEMPLATE_ARG_NARROW_TEXT = 7, // "s" with "h"; "S" without "l" or "w"
    TEMPLATE_ARG_WIDE_TEXT = 8,   // "s" without "h"; "S" with "l" or "w"
    TEMPLATE_ARG_COUNT_OUT = 9,   // "n": never printed
    TEMPLATE_ARG_POINTER = 10,    // "p": printed as a null pointer
};

// Size prefixes, in the order in which they are tried.
enum : uint8_t
{
    TEMPLATE_PREFIX_NONE, TEMPLATE_PREFIX_LL, TEMPLATE_PREFIX_I32, TEMPLATE_PREFIX_I64,
    TEMPLATE_PREFIX_H, TEMPLATE_PREFIX_L, TEMPLATE_PREFIX_W, TEMPLATE_PREFIX_I,
};

// Flag bits of a conversion.
enum : uint8_t
{
    TEMPLATE_FLAG_MINUS = 1, TEMPLATE_FLAG_PLUS = 2, TEMPLATE_FLAG_ZERO = 4, TEMPLATE_FLAG_SPACE = 8,
    TEMPLATE_FLAG_HASH = 16,
};

// Widths and precisions above this are refused: no key text needs them, and the runtime's own
// handling of huge fields (overflowing counts, gigabytes of padding) is not something to rely on.
const uint32_t TEMPLATE_MAX_FIELD = 1024;

// One conversion of a template.
struct TemplateConversion
{
    size_t Position = 0;         // index of its "%" in the analysed text
    size_t End = 0;              // index after its conversion character (or the text's length)
    uint32_t Kind = TEMPLATE_ARG_NONE;
    wchar_t Conversion = 0;      // the conversion character; 0 when the text ended first
    uint8_t Prefix = TEMPLATE_PREFIX_NONE;
    uint8_t Flags = 0;
    uint32_t Width = 0;          // saturated at TEMPLATE_MAX_FIELD + 1
    bool HasPrecision = false;
    uint32_t Precision = 0;      // saturated at TEMPLATE_MAX_FIELD + 1
};

// Analyses a template (as given: escapes are not expanded). One entry per conversion in text
// order; "%%" is no conversion. rewritten (optional) receives the template with "ll" inserted into
// every integer conversion that has no size prefix, so that each takes the whole 64-bit value.
void AnalyzeTemplate(std::vector<TemplateConversion>& conversions, const wchar_t* text,
                     std::wstring* rewritten);
// The same reduced to the kinds and the positions of the "%" characters (each optional).
void AnalyzeTemplate(std::vector<uint32_t>& kinds, const wchar_t* text, std::wstring* rewritten,
                     std::vector<int64_t>* positions);

// Index of the conversion that keeps the template from being printed: the first one of kind 0 or
// with a field above TEMPLATE_MAX_FIELD, else the first "%n"; -1 when the template is printable.
int64_t TemplateUnprintable(const std::vector<TemplateConversion>& conversions);

// A stored template prepared once for filling many times: unescaped, analysed and checked.
class CKeyTemplate
{
public:
    CKeyTemplate() = default;
    explicit CKeyTemplate(const wchar_t* storedTemplate) { Assign(storedTemplate); }

    // Takes a template as stored in a key format (with backslash escapes).
    void Assign(const wchar_t* storedTemplate);

    bool Printable() const { return m_printable; }
    size_t ConversionCount() const { return m_conversions.size(); }
    const std::vector<TemplateConversion>& Conversions() const { return m_conversions; }
    // The unescaped template with "ll" inserted, as handed to the runtime.
    const std::wstring& Rewritten() const { return m_rewritten; }

    // text = the template filled with values[i] for conversion i (0 beyond count), ending at the
    // first NUL that a character conversion printed. False with an empty text when the template is
    // not printable or the runtime cannot print it.
    bool Fill(std::wstring& text, const int64_t* values, size_t count) const;

private:
    bool FillByRuntime(std::wstring& text, const int64_t* values, size_t count) const;

    // The rewritten template cut before and after each conversion: the literal text before it
    // ("%%" already made "%") and the conversion itself. Each conversion is printed with its own
    // one-slot argument list, so that a conversion the runtime does not know (an old msvcrt.dll
    // without "%a") cannot shift the arguments of the conversions after it, and no "%s" can ever
    // read a number as a pointer. The last piece holds the text after the last conversion.
    struct Piece
    {
        std::wstring Literal;
        std::wstring Conversion; // empty in the last piece
        std::string Narrow;      // the conversion for the narrow printf (integers and pointers)
    };

    std::wstring m_rewritten;
    std::vector<TemplateConversion> m_conversions;
    bool m_printable = true;
    std::vector<Piece> m_pieces;
};
