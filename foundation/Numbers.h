// Number texts: lenient parsing with defaults, decimal texts, and packed file versions
// (byte 0 = major, then minor, build, revision).
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>

// Decimal; out receives the value in any case. True when the value is not 0, false when no digit
// was read, and for a read 0 true exactly when no range error occurred.
bool ParseUInt10(const wchar_t* text, DWORD& out);
// The parsed value when not 0; for 0 the default when no digit was read or the value overflowed.
int32_t ParseInt10(const wchar_t* text, int32_t def);
uint32_t ParseHex32(const wchar_t* text, uint32_t def);
uint64_t ParseHex64(const wchar_t* text, uint64_t def);
// The value of a hexadecimal digit (0-9, a-f, A-F), or -1 for any other character.
int HexDigitValue(wchar_t c);

void UIntToWString(std::wstring& out, int32_t value);
void Int64ToWString(std::wstring& out, int64_t value);
void ULongToWString(std::wstring& out, uint32_t value);

// The file version of a module file packed into 32 bits; 0 when it has none.
uint32_t GetFileVersion(const wchar_t* path);
// "1.7.2.1"; trailing zero parts dropped; a low byte of 255 marks a plain number shifted left by 8.
void VersionToText(std::wstring& out, uint32_t version);
