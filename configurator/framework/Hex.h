// Bytes as hexadecimal text.
#pragma once
#include <cstddef>
#include <cstdint>

// Upper-case hexadecimal, two characters a byte, high nibble first, cut to size - 1 characters and
// terminated; a buffer of fewer than 2 characters receives an empty text. Returns the characters
// written (without the NUL).
int BytesToHex(const uint8_t* bytes, size_t count, wchar_t* buffer, size_t size);
