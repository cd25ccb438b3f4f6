// The format methods: finding, reading, editing, checking and trying the component's key formats.
// The list order is the selection priority; reader threads select and read formats under the
// component lock, so every change of the list is made under it. Reads on the platform's thread,
// the only thread that changes the list, need no lock.
#include "Component.h"
#include "ComponentTables.h"
#include "KeyFormatter.h"
#include "Messages.h"

namespace {

bool EnoughParams(CParvel& self, tVariant* result, tVariant* params, long count, long needed)
{
    if (!result || (needed > 0 && !params) || count < needed) {
        self.SetLastError(E_INVALIDARG);
        return false;
    }
    return true;
}

int32_t IntParam(const tVariant& v)
{
    uint32_t value = 0;
    CParvel::VariantToUInt(&v, value);
    return static_cast<int32_t>(value);
}

// A text parameter that may be left out ("keep the field"): null then, else its text.
const wchar_t* OptionalText(const tVariant& v, std::wstring& holder)
{
    if (IsOmittedArgument(v))
        return nullptr;
    holder = VariantText(v);
    return holder.c_str();
}

} // namespace

int64_t CParvel::FindFormatForKey(uint32_t keyType, const KeyData* key) const
{
    return key ? ::FindFormatForKey(m_formats, keyType, *key) : -1;
}

HRESULT CParvel::CheckFormatText(const wchar_t* templ, const wchar_t* params, uint64_t& position,
                                 std::wstring& text)
{
    int64_t pos = -1;
    HRESULT hr = ::CheckFormatText(templ, params, pos, text);
    position = static_cast<uint64_t>(pos);
    return hr;
}

bool CParvel::MethodFindFormat(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 1))
        return false;
    if (params[0].vt != VTYPE_PWSTR) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    SetI4Variant(result, FindKeyFormat(m_formats, VariantText(params[0])));
    return true;
}

bool CParvel::MethodGetFormat(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 7))
        return false;
    SetBoolVariant(result, false);
    if (!CheckParams(params, CheckGetFormat))
        return true;
    const int32_t index = IntParam(params[0]);
    HRESULT hr = CheckFormatIndex(m_formats, index);
    if (FAILED(hr)) {
        SetLastError(hr);
        return true;
    }
    const KeyFormat& f = m_formats[static_cast<size_t>(index)];
    MakeStringVariant(&params[1], f.Name.c_str(), static_cast<ptrdiff_t>(f.Name.size()));
    MakeStringVariant(&params[2], f.Template.c_str(), static_cast<ptrdiff_t>(f.Template.size()));
    MakeStringVariant(&params[3], f.Params.c_str(), static_cast<ptrdiff_t>(f.Params.size()));
    SetUI4Variant(&params[4], f.KeyTypes);
    SetI4Variant(&params[5], static_cast<int32_t>(f.KeySize));
    MakeStringVariant(&params[6], f.Comment.c_str(), static_cast<ptrdiff_t>(f.Comment.size()));
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodSetFormat(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 7))
        return false;
    SetBoolVariant(result, false);
    if (!CheckParams(params, CheckSetFormat))
        return true;
    std::wstring name, templ, expr, comment;
    uint32_t keyTypes = 0, keySize = 0;
    const bool hasTypes = !IsOmittedArgument(params[4]) && VariantToUInt(&params[4], keyTypes);
    const bool hasSize = !IsOmittedArgument(params[5]) && VariantToUInt(&params[5], keySize);
    HRESULT hr;
    {
        CritSecLock lock(m_lock);
        hr = SetKeyFormatFields(m_formats, IntParam(params[0]), OptionalText(params[1], name),
                                OptionalText(params[2], templ), OptionalText(params[3], expr),
                                hasTypes ? &keyTypes : nullptr, hasSize ? &keySize : nullptr,
                                OptionalText(params[6], comment));
    }
    if (FAILED(hr)) {
        SetLastError(hr);
        return true;
    }
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodInsertFormat(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 7))
        return false;
    SetBoolVariant(result, false);
    if (!CheckParams(params, CheckInsertFormat))
        return true;
    KeyFormat format;
    format.Name = VariantText(params[1]);
    format.Template = VariantText(params[2]);
    format.Params = VariantText(params[3]);
    VariantToUInt(&params[4], format.KeyTypes);
    VariantToUInt(&params[5], format.KeySize);
    if (!IsOmittedArgument(params[6]))
        format.Comment = VariantText(params[6]);
    int32_t index = IntParam(params[0]);
    HRESULT hr;
    {
        CritSecLock lock(m_lock);
        hr = InsertKeyFormat(m_formats, index, format);
    }
    if (FAILED(hr)) {
        SetLastError(hr);
        return true;
    }
    SetI4Variant(&params[0], index);
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodDeleteFormat(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 1))
        return false;
    SetBoolVariant(result, false);
    if (!CheckParams(params, CheckDeleteFormat))
        return true;
    HRESULT hr;
    {
        CritSecLock lock(m_lock);
        hr = DeleteKeyFormat(m_formats, IntParam(params[0]));
    }
    if (FAILED(hr)) {
        SetLastError(hr);
        return true;
    }
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodClearFormats(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 0))
        return false;
    {
        CritSecLock lock(m_lock);
        ClearKeyFormats(m_formats);
    }
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodCheckFormat(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 3))
        return false;
    SetBoolVariant(result, false);
    if (!CheckParams(params, CheckCheckFormat))
        return true;
    const std::wstring templ = VariantText(params[0]);
    const std::wstring expr = VariantText(params[1]);
    uint64_t position = 0;
    std::wstring text;
    HRESULT hr = CheckFormatText(templ.c_str(), expr.c_str(), position, text);
    SetI4Variant(&params[2], static_cast<int32_t>(static_cast<int64_t>(position)));
    if (FAILED(hr)) {
        SetLastError(hr, text.empty() ? nullptr : text.c_str());
        return true;
    }
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodFormat(tVariant* result, tVariant* params, long count)
{
    if (!EnoughParams(*this, result, params, count, 5))
        return false;
    SetBoolVariant(result, false);
    if (!CheckParams(params, CheckFormatCall))
        return true;
    const std::wstring templ = VariantText(params[1]);
    const std::wstring expr = VariantText(params[2]);
    uint32_t keyType = 0;
    VariantToUInt(&params[3], keyType);
    const std::string blob = VariantBytes(params[4]);
    std::wstring text;
    // A parameter text that does not parse leaves here by its exception (the call's boundary
    // turns it into the last error and a false result).
    HRESULT hr = FormatKeyBlob(text, templ.c_str(), expr.c_str(), keyType,
                               reinterpret_cast<const uint8_t*>(blob.data()), blob.size());
    if (FAILED(hr)) {
        SetLastError(hr);
        return true;
    }
    MakeStringVariant(&params[0], text.c_str(), static_cast<ptrdiff_t>(text.size()));
    SetLastError(S_OK);
    SetBoolVariant(result, true);
    return true;
}
