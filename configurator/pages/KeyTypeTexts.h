// Texts of key-type masks as the library page and the key-type dialogs show them. A mask has one
// bit per key type (bits 0-18); 0 and 0x7FFFF both mean "every key type", and bits above 18 do
// not exist, so every text here ignores them.
#pragma once
#include <cstdint>
#include <string>

const unsigned KEY_TYPE_COUNT = 19;
const uint32_t ALL_KEY_TYPES = 0x7FFFF;

// "EM", "HID", ... for bit 0-18; empty past the last key type.
const wchar_t* KeyTypeShortName(unsigned bit);
// The key type's long name in the program's language (strings 150-168, loaded once for the
// program's life; "?" for a string that is missing); "?" past the last key type.
const std::wstring& KeyTypeLongName(unsigned bit);

// "%.4Xh": the mask as the key-type dialogs show it (0000h, 7FFFFh).
std::wstring MaskHexText(uint32_t mask);
// The library list's key-types column: "All" for 0 and for every type, the long name for one type,
// else the short names of the set bits joined by ", ".
std::wstring FormatKeyTypesText(uint32_t mask);
// The groups list's key-types column: like the library's, but several types read "0006h: EM, HID".
std::wstring GroupKeyTypesText(uint32_t mask);
