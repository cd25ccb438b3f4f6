// Numbers typed into the property and method-argument editors, in decimal or hexadecimal mode.
// The text decides the mode ("0x" in front means hexadecimal); a text that is not a number in
// that mode, or lies outside the range of the value's type, is refused, so the value stays as it was.
#pragma once
#include "NativeApi.h"
#include <cstdint>
#include <string>

// Whether the text (after leading blanks) starts with "0x" or "0X".
bool NumberTextIsHex(const std::wstring& text);

// How an editor reads a number of a variant type: its width and whether its decimal is bounded by
// the signed range. I4 and I8 are signed; UI4, HRESULT and UI8 take their whole unsigned range and
// also the signed decimal of their bits, which is how the editors show them (-1 for 0xFFFFFFFF).
struct NumberType
{
    unsigned bits; // 32 or 64
    bool isSigned;
};
NumberType NumberTypeOf(uint16_t variantType);

// A number typed for `type`: decimal within its range (above), hexadecimal of up to bits / 4
// digits; the value is its bits (so 0xFFFFFFFF and -1 are one 32-bit value). False, the value
// untouched, when the text holds no number of the type: letters, or a number past its range, which
// taken as far as it went or cut to its width would be another value than the user typed.
bool ParseTypedNumber(const std::wstring& text, bool hex, NumberType type, uint64_t& value);
// The decimal range a refusal names for the type: "-2147483648" to "2147483647" for I4, "0" to
// "4294967295" for UI4, and so on.
void NumberTypeRange(NumberType type, std::wstring& min, std::wstring& max);

// "0x0000001F" in hexadecimal mode, else the signed decimal "31".
std::wstring FormatNumber32(uint32_t value, bool hex);
std::wstring FormatNumber64(uint64_t value, bool hex);
