// Numbers typed into the property and method-argument editors, in decimal or hexadecimal mode.
// The text decides the mode ("0x" in front means hexadecimal); a text that is not a number in
// that mode, or lies outside the editor's width, is refused, so the value stays as it was.
#pragma once
#include <cstdint>
#include <string>

// Whether the text (after leading blanks) starts with "0x" or "0X".
bool NumberTextIsHex(const std::wstring& text);

// A 32-bit editor: decimal -2147483648..4294967295, hexadecimal up to 8 digits; the value is the
// 32 bits (so 0xFFFFFFFF and -1 are one value). False when the text holds no number.
bool ParseNumber32(const std::wstring& text, bool hex, uint32_t& value);
// The 32-bit editor of a property of type I4 (`isSigned`) or UI4: as ParseNumber32, except that a
// decimal I4 must lie within -2147483648..2147483647. A UI4 keeps the whole range, for the editor
// shows its value as the signed decimal of its bits (-1 for 0xFFFFFFFF) and must take that back.
bool ParseTypedNumber32(const std::wstring& text, bool hex, bool isSigned, uint32_t& value);
// A 64-bit editor: decimal within the signed or unsigned 64-bit range, hexadecimal up to 16
// digits; the value is the 64 bits.
bool ParseNumber64(const std::wstring& text, bool hex, uint64_t& value);

// "0x0000001F" in hexadecimal mode, else the signed decimal "31".
std::wstring FormatNumber32(uint32_t value, bool hex);
std::wstring FormatNumber64(uint64_t value, bool hex);
