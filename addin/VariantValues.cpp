// Plain values of tVariant.
#include "VariantValues.h"
#include <cmath>
#include <cstring>

void ClearVariant(tVariant* variant, TYPEVAR type)
{
    std::memset(variant, 0, sizeof(*variant));
    variant->vt = type;
}

void SetBoolVariant(tVariant* variant, bool value)
{
    ClearVariant(variant, VTYPE_BOOL);
    variant->bVal = value;
}

void SetI4Variant(tVariant* variant, int32_t value)
{
    ClearVariant(variant, VTYPE_I4);
    variant->i32Val = value;
}

void SetUI4Variant(tVariant* variant, uint32_t value)
{
    ClearVariant(variant, VTYPE_UI4);
    variant->ui32Val = value;
}

void SetUI1Variant(tVariant* variant, uint8_t value)
{
    ClearVariant(variant, VTYPE_UI1);
    variant->ui8Val = value;
}

void SetHResultVariant(tVariant* variant, int32_t value)
{
    ClearVariant(variant, VTYPE_HRESULT);
    variant->hresVal = value;
}

std::wstring VariantText(const tVariant& variant)
{
    if (!variant.wstr.ptr)
        return std::wstring();
    return std::wstring(variant.wstr.ptr, variant.wstr.len);
}

std::string VariantBytes(const tVariant& variant)
{
    if (!variant.bytes.ptr)
        return std::string();
    return std::string(variant.bytes.ptr, variant.bytes.len);
}

bool IsIntegerType(TYPEVAR type)
{
    switch (type) {
    case VTYPE_I2:
    case VTYPE_I4:
    case VTYPE_I1:
    case VTYPE_UI1:
    case VTYPE_UI2:
    case VTYPE_UI4:
    case VTYPE_I8:
    case VTYPE_UI8:
    case VTYPE_INT:
    case VTYPE_UINT:
        return true;
    default:
        return false;
    }
}

bool IsOmittedArgument(const tVariant& variant)
{
    return variant.vt == VTYPE_NULL || variant.vt == VTYPE_EMPTY;
}

bool VariantToInteger(const tVariant& variant, int64_t& out)
{
    double real;
    switch (variant.vt) {
    case VTYPE_I1: out = variant.i8Val; return true;
    case VTYPE_I2: out = variant.i16Val; return true;
    case VTYPE_I4:
    case VTYPE_INT: out = variant.i32Val; return true;
    case VTYPE_I8:
    case VTYPE_UI8: out = variant.i64Val; return true;
    case VTYPE_UI1: out = variant.ui8Val; return true;
    case VTYPE_UI2: out = variant.ui16Val; return true;
    case VTYPE_UI4:
    case VTYPE_UINT: out = variant.ui32Val; return true;
    case VTYPE_BOOL: out = variant.bVal ? 1 : 0; return true;
    case VTYPE_R4: real = variant.r4Val; break;
    case VTYPE_R8: real = variant.r8Val; break;
    default: return false;
    }
    // 2^63 is the first value beyond the range; every double below it converts exactly.
    if (!std::isfinite(real) || real != std::trunc(real) || real < -9223372036854775808.0 ||
        real >= 9223372036854775808.0)
        return false;
    out = static_cast<int64_t>(real);
    return true;
}

std::wstring MakeWString(const WCHAR_T* text, ptrdiff_t length)
{
    if (!text)
        return std::wstring();
    if (length < 0)
        return std::wstring(text);
    return std::wstring(text, static_cast<size_t>(length));
}
