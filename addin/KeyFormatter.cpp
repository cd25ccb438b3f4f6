// Key formats at work: selection, formatting, the format check and the edits of a format list.
#include "KeyFormatter.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Messages.h"
#include "ResText.h"
#include "Unescape.h"
#include <algorithm>
#include <cwchar>

int64_t FindFormatForKey(const KeyFormatList& formats, uint32_t keyType, size_t keyLength)
{
    const uint32_t bit = 1u << (keyType & 31);
    for (size_t i = 0; i < formats.size(); ++i) {
        const KeyFormat& f = formats[i];
        if ((f.KeySize == 0 || f.KeySize == keyLength) && (f.KeyTypes == 0 || (f.KeyTypes & bit)))
            return static_cast<int64_t>(i);
    }
    return -1;
}

int64_t FindFormatForKey(const KeyFormatList& formats, uint32_t keyType, const KeyData& key)
{
    return FindFormatForKey(formats, keyType, static_cast<size_t>(key.Length));
}

// ---------------------------------------------------------------------------------------------
// Formatting

CCompiledKeyFormat::CCompiledKeyFormat(const wchar_t* storedTemplate, const wchar_t* params)
    : m_template(storedTemplate)
{
    m_parser.Parse(params);
}

bool CCompiledKeyFormat::Format(std::wstring& text, const uint8_t* bytes, size_t length)
{
    const std::vector<int64_t>& results = m_parser.Evaluate(bytes, length);
    return m_template.Fill(text, results.data(), results.size());
}

void FormatKey(std::wstring& text, const wchar_t* storedTemplate, const wchar_t* params,
               const uint8_t* bytes, size_t length)
{
    text.clear();
    CCompiledKeyFormat format(storedTemplate, params);
    format.Format(text, bytes, length);
}

void FormatKey(std::wstring& text, const wchar_t* storedTemplate, const wchar_t* params,
               const KeyData& key)
{
    FormatKey(text, storedTemplate, params, key.Bytes, key.ByteCount());
}

void CKeyFormatCache::FormatKey(std::wstring& text, const KeyFormatList& formats, size_t index,
                                const KeyData& key)
{
    FormatKey(text, formats, index, key.Bytes, key.ByteCount());
}

void CKeyFormatCache::FormatKey(std::wstring& text, const KeyFormatList& formats, size_t index,
                                const uint8_t* bytes, size_t length)
{
    text.clear();
    const KeyFormat& format = formats.at(index);
    if (index >= m_entries.size())
        m_entries.resize(index + 1);
    Entry& e = m_entries[index];
    if (!e.Ready || e.Template != format.Template || e.Params != format.Params) {
        e.Ready = false;
        e.Compiled.reset();
        e.Error.reset();
        e.Template = format.Template;
        e.Params = format.Params;
        try {
            e.Compiled = std::make_unique<CCompiledKeyFormat>(e.Template.c_str(), e.Params.c_str());
        } catch (const CZParserException& x) {
            e.Error = std::make_unique<CZParserException>(x);
        }
        e.Ready = true;
    }
    if (e.Error)
        throw CZParserException(*e.Error);
    e.Compiled->Format(text, bytes, length);
}

// ---------------------------------------------------------------------------------------------
// The format check

namespace {

// Where, in a stored template, the escape or character starts that yields character `target` of
// its unescaped text. Found by unescaping prefixes, so that it follows UnescapeCText whatever
// escapes that knows; used only to point at a refused conversion. A longer prefix never unescapes
// to fewer characters, so the prefix that first reaches the target is found by bisection.
size_t SourceOfUnescaped(const wchar_t* text, size_t target)
{
    const size_t n = wcslen(text);
    std::wstring prefix, out;
    auto unescapedLength = [&](size_t p) {
        prefix.assign(text, p);
        UnescapeCText(out, prefix.c_str());
        return out.size();
    };
    size_t low = 1, high = n + 1; // the answer lies in [low, high]; n + 1 = not found
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (unescapedLength(mid) > target)
            high = mid;
        else
            low = mid + 1;
    }
    const size_t p = low;
    if (p > n)
        return n;
    // Output `target` appears with source character p - 1; an escape reaching it starts at most six
    // characters earlier ("\x0025") at a backslash after which exactly `target` characters exist.
    for (size_t q = p; q-- > 0 && p - q <= 6;)
        if (text[q] == L'\\' && unescapedLength(q) == target)
            return q;
    return p - 1;
}

} // namespace

HRESULT CheckFormatText(const wchar_t* storedTemplate, const wchar_t* params, int64_t& position,
                        std::wstring& text)
{
    position = -1;
    text.clear();
    if (!storedTemplate)
        storedTemplate = L"";
    HRESULT code = S_OK;
    try {
        std::vector<TemplateConversion> given;
        AnalyzeTemplate(given, storedTemplate, nullptr);
        int64_t bad = TemplateUnprintable(given);
        if (bad >= 0) {
            code = PE_BAD_SPECIFIER;
            position = static_cast<int64_t>(given[bad].Position);
        } else {
            // Formatting expands the escapes first: "\x25n" is a "%n" by then.
            std::wstring unescaped;
            UnescapeCText(unescaped, storedTemplate);
            std::vector<TemplateConversion> expanded;
            AnalyzeTemplate(expanded, unescaped.c_str(), nullptr);
            bad = TemplateUnprintable(expanded);
            if (bad >= 0) {
                code = PE_BAD_SPECIFIER;
                position = static_cast<int64_t>(SourceOfUnescaped(storedTemplate, expanded[bad].Position));
            } else {
                CZParser parser;
                parser.Parse(params);
                if (given.size() > parser.ExpressionCount())
                    code = PE_NOT_ENOUGH_PARAMS;
            }
        }
    } catch (const CZParserException& e) {
        code = static_cast<HRESULT>(e.Code());
        position = static_cast<int64_t>(e.Position());
        text = e.Message();
    } catch (const std::exception& e) {
        code = E_FAIL;
        position = -1;
        text = ExceptionMessage(e);
    }
    if (text.empty() && FAILED(code))
        GetErrorText(text, nullptr, static_cast<DWORD>(code));
    return code;
}

// ---------------------------------------------------------------------------------------------
// Edits of a format list

HRESULT CheckFormatIndex(const KeyFormatList& formats, int32_t index)
{
    return (index >= 0 && static_cast<size_t>(index) < formats.size()) ? S_OK : PE_INDEX_OUT_OF_RANGE;
}

HRESULT SetKeyFormatFields(KeyFormatList& formats, int32_t index, const wchar_t* name,
                           const wchar_t* storedTemplate, const wchar_t* params,
                           const uint32_t* keyTypes, const uint32_t* keySize, const wchar_t* comment)
{
    HRESULT hr = CheckFormatIndex(formats, index);
    if (FAILED(hr))
        return hr;
    if (name) {
        if (!*name)
            return PE_BAD_FORMAT_NAME;
        for (size_t i = 0; i < formats.size(); ++i)
            if (i != static_cast<size_t>(index) && formats[i].Name == name)
                return PE_FORMAT_EXISTS;
    }
    KeyFormat& f = formats[static_cast<size_t>(index)];
    if (name)
        f.Name = name;
    if (storedTemplate)
        f.Template = storedTemplate;
    if (params)
        f.Params = params;
    if (keyTypes)
        f.KeyTypes = *keyTypes;
    if (keySize)
        f.KeySize = *keySize;
    if (comment)
        f.Comment = comment;
    return S_OK;
}

HRESULT InsertKeyFormat(KeyFormatList& formats, int32_t& index, const KeyFormat& format)
{
    if (format.Name.empty())
        return PE_BAD_FORMAT_NAME;
    if (FindKeyFormat(formats, format.Name) >= 0)
        return PE_FORMAT_EXISTS;
    const size_t at = index < 0 ? 0 : static_cast<size_t>(index);
    if (at >= formats.size()) {
        formats.push_back(format);
        index = static_cast<int32_t>(formats.size() - 1);
    } else {
        formats.insert(formats.begin() + static_cast<ptrdiff_t>(at), format);
        index = static_cast<int32_t>(at);
    }
    return S_OK;
}

HRESULT DeleteKeyFormat(KeyFormatList& formats, int32_t index)
{
    HRESULT hr = CheckFormatIndex(formats, index);
    if (FAILED(hr))
        return hr;
    formats.erase(formats.begin() + index);
    return S_OK;
}

HRESULT FormatKeyBlob(std::wstring& text, const wchar_t* storedTemplate, const wchar_t* params,
                      uint32_t keyType, const uint8_t* blob, size_t blobLength)
{
    text.clear();
    if (keyType >= KEY_TYPE_COUNT)
        return E_INVALIDARG;
    FormatKey(text, storedTemplate, params, blob, std::min(blobLength, KEY_DATA_MAX));
    return S_OK;
}
