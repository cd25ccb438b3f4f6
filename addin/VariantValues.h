// Reading and writing plain values of the Native API's tVariant. Texts and byte arrays that go back
// to the host need its memory manager and are made by the component (CParvel::MakeStringVariant).
//
// Rule: a text or byte array that arrives with a null pointer is empty, whatever its length says.
#pragma once
#include "NativeApi.h"
#include <cstdint>
#include <string>

// The variant as 48 zero bytes of the given type.
void ClearVariant(tVariant* variant, TYPEVAR type = VTYPE_EMPTY);
void SetBoolVariant(tVariant* variant, bool value);
void SetI4Variant(tVariant* variant, int32_t value);
void SetUI4Variant(tVariant* variant, uint32_t value);
void SetUI1Variant(tVariant* variant, uint8_t value);
void SetHResultVariant(tVariant* variant, int32_t value);

// The text of a VTYPE_PWSTR variant by its stored length; empty for a null pointer.
std::wstring VariantText(const tVariant& variant);
// The bytes of a VTYPE_BLOB or VTYPE_PSTR variant by its stored length; empty for a null pointer.
std::string VariantBytes(const tVariant& variant);

// Whether the type is one of the ten integer types.
bool IsIntegerType(TYPEVAR type);

// Whether an argument was left out: VTYPE_NULL, or VTYPE_EMPTY, which is what the platform passes
// for an undefined value. Only for parameters that take input; an out parameter arrives empty and
// is to be filled.
bool IsOmittedArgument(const tVariant& variant);

// The whole number that a numeric variant holds: an integer type sign- or zero-extended as its type
// says, a boolean as 0 or 1, a floating-point value (VTYPE_R4, VTYPE_R8) when it is a whole number
// within the 64-bit range (a UI8 above that range comes back as its two's-complement bits). False,
// with out unchanged, for every other type and for fractions, infinities and NaN.
bool VariantToInteger(const tVariant& variant, int64_t& out);

// A wide string from a WCHAR_T text; length -1 takes the text up to its terminator; null is empty.
std::wstring MakeWString(const WCHAR_T* text, ptrdiff_t length = -1);
