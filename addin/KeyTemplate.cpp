// Analysis and filling of key-format templates. Printing goes through the C runtime's printf
// (msvcrt: Microsoft conventions, %s wide in the wide printf), not MinGW's C99 one, because stored
// templates are written for the Microsoft conventions. Integer and pointer conversions go through
// the narrow printf and are widened: their output is ASCII, and Wine's wide printf corrupts the
// heap for an integer conversion with a width or precision of 23 or more.
#include "KeyTemplate.h"
#include "Unescape.h"
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

struct PrefixText
{
    const wchar_t* text;
    size_t length;
    uint8_t id;
};
// Tried in this order: "ll" before "l", "I32" and "I64" before "I".
const PrefixText Prefixes[] = {
    {L"ll", 2, TEMPLATE_PREFIX_LL}, {L"I32", 3, TEMPLATE_PREFIX_I32}, {L"I64", 3, TEMPLATE_PREFIX_I64},
    {L"h", 1, TEMPLATE_PREFIX_H},   {L"l", 1, TEMPLATE_PREFIX_L},     {L"w", 1, TEMPLATE_PREFIX_W},
    {L"I", 1, TEMPLATE_PREFIX_I},
};

uint32_t KindOf(wchar_t c, uint8_t prefix)
{
    const bool h = prefix == TEMPLATE_PREFIX_H;
    const bool lw = prefix == TEMPLATE_PREFIX_L || prefix == TEMPLATE_PREFIX_W;
    switch (c) {
    case L'd': case L'i': case L'o': case L'u': case L'x': case L'X':
        if (h)
            return TEMPLATE_ARG_INT16;
        if (prefix == TEMPLATE_PREFIX_L || prefix == TEMPLATE_PREFIX_I32)
            return TEMPLATE_ARG_INT32;
        return TEMPLATE_ARG_INT64;
    case L'e': case L'E': case L'f': case L'g': case L'G': case L'a': case L'A':
        return TEMPLATE_ARG_DOUBLE;
    case L'c': return h ? TEMPLATE_ARG_NARROW_CHAR : TEMPLATE_ARG_WIDE_CHAR;
    case L'C': return lw ? TEMPLATE_ARG_WIDE_CHAR : TEMPLATE_ARG_NARROW_CHAR;
    case L's': return h ? TEMPLATE_ARG_NARROW_TEXT : TEMPLATE_ARG_WIDE_TEXT;
    case L'S': return lw ? TEMPLATE_ARG_WIDE_TEXT : TEMPLATE_ARG_NARROW_TEXT;
    case L'n': return TEMPLATE_ARG_COUNT_OUT;
    case L'p': return TEMPLATE_ARG_POINTER;
    default: return TEMPLATE_ARG_NONE;
    }
}

inline bool IsDecimal(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Reads decimal digits at text[k], saturating just above the largest field accepted.
uint32_t ReadField(const wchar_t* text, size_t& k)
{
    uint32_t value = 0;
    while (IsDecimal(text[k])) {
        value = value * 10 + static_cast<uint32_t>(text[k] - L'0');
        if (value > TEMPLATE_MAX_FIELD)
            value = TEMPLATE_MAX_FIELD + 1;
        ++k;
    }
    return value;
}

} // namespace

void AnalyzeTemplate(std::vector<TemplateConversion>& conversions, const wchar_t* text,
                     std::wstring* rewritten)
{
    conversions.clear();
    if (rewritten)
        rewritten->clear();
    if (!text)
        return;
    const size_t n = wcslen(text);
    size_t i = 0;
    for (;;) {
        const wchar_t* percent = wcschr(text + i, L'%');
        const size_t j = percent ? static_cast<size_t>(percent - text) : n;
        if (rewritten)
            rewritten->append(text + i, j - i);
        if (j >= n)
            return;
        if (text[j + 1] == L'%') {
            if (rewritten)
                rewritten->append(L"%%");
            i = j + 2;
            continue;
        }
        TemplateConversion conv;
        conv.Position = j;
        size_t k = j + 1;
        for (;; ++k) {
            const wchar_t c = text[k];
            if (c == L'-') conv.Flags |= TEMPLATE_FLAG_MINUS;
            else if (c == L'+') conv.Flags |= TEMPLATE_FLAG_PLUS;
            else if (c == L'0') conv.Flags |= TEMPLATE_FLAG_ZERO;
            else if (c == L' ') conv.Flags |= TEMPLATE_FLAG_SPACE;
            else if (c == L'#') conv.Flags |= TEMPLATE_FLAG_HASH;
            else break;
        }
        conv.Width = ReadField(text, k); // "*" is no width: it becomes the conversion character
        if (text[k] == L'.') {
            ++k;
            conv.HasPrecision = true;
            conv.Precision = ReadField(text, k);
        }
        for (const PrefixText& p : Prefixes) {
            if (wcsncmp(text + k, p.text, p.length) == 0) {
                conv.Prefix = p.id;
                k += p.length;
                break;
            }
        }
        if (k >= n) { // cut off by the end of the text
            conv.End = n;
            conversions.push_back(conv);
            if (rewritten)
                rewritten->append(text + j, n - j);
            return;
        }
        conv.Conversion = text[k];
        conv.Kind = KindOf(conv.Conversion, conv.Prefix);
        conv.End = k + 1;
        conversions.push_back(conv);
        if (rewritten) {
            rewritten->append(text + j, k - j);
            if (conv.Prefix == TEMPLATE_PREFIX_NONE && conv.Kind == TEMPLATE_ARG_INT64)
                rewritten->append(L"ll");
            rewritten->push_back(conv.Conversion);
        }
        i = k + 1;
    }
}

void AnalyzeTemplate(std::vector<uint32_t>& kinds, const wchar_t* text, std::wstring* rewritten,
                     std::vector<int64_t>* positions)
{
    std::vector<TemplateConversion> conversions;
    AnalyzeTemplate(conversions, text, rewritten);
    kinds.clear();
    if (positions)
        positions->clear();
    for (const TemplateConversion& c : conversions) {
        kinds.push_back(c.Kind);
        if (positions)
            positions->push_back(static_cast<int64_t>(c.Position));
    }
}

int64_t TemplateUnprintable(const std::vector<TemplateConversion>& conversions)
{
    for (size_t i = 0; i < conversions.size(); ++i) {
        const TemplateConversion& c = conversions[i];
        if (c.Kind == TEMPLATE_ARG_NONE || c.Width > TEMPLATE_MAX_FIELD || c.Precision > TEMPLATE_MAX_FIELD)
            return static_cast<int64_t>(i);
    }
    for (size_t i = 0; i < conversions.size(); ++i)
        if (conversions[i].Kind == TEMPLATE_ARG_COUNT_OUT)
            return static_cast<int64_t>(i);
    return -1;
}

// ---------------------------------------------------------------------------------------------
// CKeyTemplate

void CKeyTemplate::Assign(const wchar_t* storedTemplate)
{
    std::wstring text;
    UnescapeCText(text, storedTemplate);
    // An escape that yields NUL ends the template here exactly as it would end it for printf.
    AnalyzeTemplate(m_conversions, text.c_str(), &m_rewritten);
    m_printable = TemplateUnprintable(m_conversions) < 0;
    m_pieces.clear();
    if (!m_printable)
        return;
    size_t from = 0;
    size_t inserted = 0; // characters the rewrite added before the current conversion
    auto literal = [&](size_t end) {
        std::wstring text;
        for (size_t k = from; k < end; ++k) {
            text.push_back(m_rewritten[k]);
            if (m_rewritten[k] == L'%')
                ++k; // between conversions a "%" only stands doubled
        }
        return text;
    };
    for (const TemplateConversion& c : m_conversions) {
        const size_t start = c.Position + inserted;
        if (c.Prefix == TEMPLATE_PREFIX_NONE && c.Kind == TEMPLATE_ARG_INT64)
            inserted += 2;
        const size_t end = c.End + inserted;
        Piece piece;
        piece.Literal = literal(start);
        piece.Conversion = m_rewritten.substr(start, end - start);
        switch (c.Kind) {
        case TEMPLATE_ARG_INT16: case TEMPLATE_ARG_INT32: case TEMPLATE_ARG_INT64: case TEMPLATE_ARG_POINTER:
            // Flags, digits, prefixes and the conversion character are all ASCII.
            for (wchar_t ch : piece.Conversion)
                piece.Narrow.push_back(static_cast<char>(ch));
            break;
        default:
            break;
        }
        m_pieces.push_back(std::move(piece));
        from = end;
    }
    Piece last;
    last.Literal = literal(m_rewritten.size());
    m_pieces.push_back(std::move(last));
}

bool CKeyTemplate::Fill(std::wstring& text, const int64_t* values, size_t count) const
{
    if (m_printable && FillByRuntime(text, values, count)) {
        // A character conversion given 0 prints a NUL, which ends the text as it would end a C string.
        const size_t nul = text.find(L'\0');
        if (nul != std::wstring::npos)
            text.resize(nul);
        return true;
    }
    text.clear();
    return false;
}

namespace {

// The signed decimal text of v into a zero-filled buffer of at least 24 characters. The zeros left
// after it let the runtime read the text as narrow or as wide without running off its end, whatever
// it makes of an unusual size prefix on "%s".
template <typename Char>
void DecimalText(Char* buffer, int64_t v)
{
    char digits[24];
    size_t n = 0;
    uint64_t m = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    do {
        digits[n++] = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m);
    size_t k = 0;
    if (v < 0)
        buffer[k++] = '-';
    while (n)
        buffer[k++] = static_cast<Char>(digits[--n]);
}

// On x64 Windows every variadic argument occupies one 8-byte slot and a va_list is a plain
// pointer to the first slot, so a slot in memory is an argument list the runtime can walk.
static_assert(sizeof(va_list) == sizeof(void*) && sizeof(void*) == 8, "x64 argument slots");

// Appends the narrow runtime's printing of a conversion that reads the one argument slot given,
// widened character by character (the conversions printed this way give ASCII only).
bool AppendNarrowPiece(std::wstring& out, const char* format, uint64_t* slot)
{
    va_list args = reinterpret_cast<va_list>(slot);
    char buffer[256];
    int written = _vsnprintf(buffer, sizeof buffer, format, args);
    std::string large;
    const char* printed = buffer;
    if (written < 0 || written >= static_cast<int>(sizeof buffer)) {
        const int needed = _vscprintf(format, args);
        if (needed < 0)
            return false;
        large.resize(static_cast<size_t>(needed));
        // The string's own terminator slot takes the NUL the runtime writes.
        written = _vsnprintf(&large[0], static_cast<size_t>(needed) + 1, format, args);
        if (written != needed)
            return false;
        printed = large.data();
    }
    for (int k = 0; k < written; ++k)
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(printed[k])));
    return true;
}

// Appends the wide runtime's printing of a conversion that reads the one argument slot given.
bool AppendPiece(std::wstring& out, const wchar_t* format, uint64_t* slot)
{
    if (!*format)
        return true;
    va_list args = reinterpret_cast<va_list>(slot);
    wchar_t buffer[256];
    int written = _vsnwprintf(buffer, 256, format, args);
    if (written >= 0 && written < 256) {
        out.append(buffer, static_cast<size_t>(written));
        return true;
    }
    const int needed = _vscwprintf(format, args);
    if (needed < 0)
        return false;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(needed));
    // The string's own terminator slot takes the NUL the runtime writes.
    written = _vsnwprintf(&out[at], static_cast<size_t>(needed) + 1, format, args);
    return written == needed;
}

struct TextArgument
{
    char narrow[32];
    wchar_t wide[32];
};

} // namespace

bool CKeyTemplate::FillByRuntime(std::wstring& text, const int64_t* values, size_t count) const
{
    // Only templates whose every conversion reads one 8-byte slot get here (TemplateUnprintable).
    text.clear();
    for (size_t i = 0; i < m_pieces.size(); ++i) {
        uint64_t slot = 0; // the last piece holds no conversion and reads nothing
        TextArgument argument = {};
        if (i < m_conversions.size()) {
            const int64_t v = i < count ? values[i] : 0;
            switch (m_conversions[i].Kind) {
            case TEMPLATE_ARG_INT16: case TEMPLATE_ARG_INT32: case TEMPLATE_ARG_INT64:
            case TEMPLATE_ARG_NARROW_CHAR: case TEMPLATE_ARG_WIDE_CHAR:
                slot = static_cast<uint64_t>(v);
                break;
            case TEMPLATE_ARG_DOUBLE: {
                const double d = static_cast<double>(v);
                memcpy(&slot, &d, sizeof d);
                break;
            }
            case TEMPLATE_ARG_NARROW_TEXT:
                DecimalText(argument.narrow, v);
                slot = reinterpret_cast<uintptr_t>(argument.narrow);
                break;
            case TEMPLATE_ARG_WIDE_TEXT:
                DecimalText(argument.wide, v);
                slot = reinterpret_cast<uintptr_t>(argument.wide);
                break;
            default:
                break; // "%p" prints a null pointer
            }
        }
        const Piece& piece = m_pieces[i];
        text += piece.Literal;
        const bool printed = piece.Narrow.empty() ? AppendPiece(text, piece.Conversion.c_str(), &slot)
                                                  : AppendNarrowPiece(text, piece.Narrow.c_str(), &slot);
        if (!printed)
            return false;
    }
    return true;
}
