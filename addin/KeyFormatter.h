// Key formats at work: choosing the format for a key from the ordered format list, turning key
// bytes into text with a format's expressions and template, checking a template and parameter
// text, and the edits that the format methods make to a format list with their error codes.
// Everything here works on the values it is given; the caller holds whatever lock guards the list.
#pragma once
#include "KeyData.h"
#include "KeyExpression.h"
#include "KeyTemplate.h"
#include "Settings.h"
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Index of the first format whose KeySize is 0 or the key's length and whose KeyTypes is 0 or has
// bit keyType (taken modulo 32); -1 when no format accepts the key.
int64_t FindFormatForKey(const KeyFormatList& formats, uint32_t keyType, const KeyData& key);
int64_t FindFormatForKey(const KeyFormatList& formats, uint32_t keyType, size_t keyLength);

// A format's template and parameters prepared once: the template unescaped and analysed, the
// parameters parsed. Formatting with it gives what FormatKey gives. One thread at a time.
class CCompiledKeyFormat
{
public:
    // Throws CZParserException when params does not parse.
    CCompiledKeyFormat(const wchar_t* storedTemplate, const wchar_t* params);

    // text = the formatted key; false and an empty text when the template cannot be printed.
    bool Format(std::wstring& text, const uint8_t* bytes, size_t length);

    const CKeyTemplate& Template() const { return m_template; }
    size_t ExpressionCount() const { return m_parser.ExpressionCount(); }

private:
    CKeyTemplate m_template;
    CZParser m_parser;
};

// Formats a key with a stored template and a parameter text: the expressions are evaluated over
// the key's bytes and the template is filled with their results (0 for a conversion without an
// expression). An empty text means that printing failed or the template is refused (see
// KeyTemplate.h). Throws CZParserException when params does not parse.
void FormatKey(std::wstring& text, const wchar_t* storedTemplate, const wchar_t* params,
               const uint8_t* bytes, size_t length);
void FormatKey(std::wstring& text, const wchar_t* storedTemplate, const wchar_t* params,
               const KeyData& key);

// The compiled formats of one format list, so that a key costs no parsing. An entry is compiled
// on first use and again whenever the format's Template or Params no longer match what it was
// compiled from, so edits of the list need no notice. One thread at a time (the component lock).
class CKeyFormatCache
{
public:
    // FormatKey with formats[index]; a parameter text that does not parse throws
    // CZParserException on every call, as FormatKey does.
    void FormatKey(std::wstring& text, const KeyFormatList& formats, size_t index, const KeyData& key);
    void FormatKey(std::wstring& text, const KeyFormatList& formats, size_t index,
                   const uint8_t* bytes, size_t length);
    void Clear() { m_entries.clear(); }

private:
    struct Entry
    {
        bool Ready = false;
        std::wstring Template;
        std::wstring Params;
        std::unique_ptr<CCompiledKeyFormat> Compiled; // null when Params did not parse
        std::unique_ptr<CZParserException> Error;
    };
    std::vector<Entry> m_entries; // by format index
};

// The check behind CheckFormat: S_OK, or the error code with its position (in the template for
// PE_BAD_SPECIFIER, in the parameter text for the parser's codes, -1 otherwise) and its text.
// A template is refused when it, or the template it becomes once its escapes are expanded, holds
// a conversion that cannot be printed; the position then is where that conversion starts in the
// template as given.
HRESULT CheckFormatText(const wchar_t* storedTemplate, const wchar_t* params, int64_t& position,
                        std::wstring& text);

// PE_INDEX_OUT_OF_RANGE unless 0 <= index < the list's size.
HRESULT CheckFormatIndex(const KeyFormatList& formats, int32_t index);
// SetFormat: each non-null argument replaces its field of formats[index]. A name must be non-empty
// (PE_BAD_FORMAT_NAME) and carried by no other format (PE_FORMAT_EXISTS); on any error nothing
// changes.
HRESULT SetKeyFormatFields(KeyFormatList& formats, int32_t index, const wchar_t* name,
                           const wchar_t* storedTemplate, const wchar_t* params,
                           const uint32_t* keyTypes, const uint32_t* keySize, const wchar_t* comment);
// InsertFormat: inserts before formats[index] (at the top for a negative index, at the end for an
// index at or beyond it); index becomes the index used. Name rules as for SetKeyFormatFields.
HRESULT InsertKeyFormat(KeyFormatList& formats, int32_t& index, const KeyFormat& format);
// DeleteFormat: PE_INDEX_OUT_OF_RANGE or removes formats[index].
HRESULT DeleteKeyFormat(KeyFormatList& formats, int32_t index);

// The core of Format: the key is the first (at most 15) bytes of the blob; a key type outside
// 0-18 gives E_INVALIDARG and no text. Throws CZParserException when params does not parse.
HRESULT FormatKeyBlob(std::wstring& text, const wchar_t* storedTemplate, const wchar_t* params,
                      uint32_t keyType, const uint8_t* blob, size_t blobLength);
