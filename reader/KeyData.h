// The key record that every reader protocol produces and the key formats consume, the record of one
// key present on a reader, the 19 key-type numbers with their short log names, and the small texts
// made from keys for the log.
// Rule: only the first Length bytes of a KeyData are the key; every reader of a KeyData goes through
// ByteCount(), which never exceeds the 15 bytes the record holds, whatever the length byte says.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <string>

// Key-type numbers; a key-type mask has bit n for key type n.
const uint32_t KEY_TYPE_UNKNOWN = 0;
const uint32_t KEY_TYPE_EM_MARINE = 1;
const uint32_t KEY_TYPE_HID = 2;
const uint32_t KEY_TYPE_ICODE = 3;
const uint32_t KEY_TYPE_MIFARE_UL = 4;
const uint32_t KEY_TYPE_MIFARE_1K = 5;
const uint32_t KEY_TYPE_MIFARE_4K = 6;
const uint32_t KEY_TYPE_DESFIRE = 7;
const uint32_t KEY_TYPE_PROX = 8;
const uint32_t KEY_TYPE_COD433_FIX = 9;
const uint32_t KEY_TYPE_COD433 = 10;
const uint32_t KEY_TYPE_DALLAS = 11;
const uint32_t KEY_TYPE_CAME = 12;
const uint32_t KEY_TYPE_MIFARE_PLUS = 13;
const uint32_t KEY_TYPE_MIFARE_PLUS_1K = 14;
const uint32_t KEY_TYPE_MIFARE_PLUS_2K = 15;
const uint32_t KEY_TYPE_MIFARE_PLUS_4K = 16;
const uint32_t KEY_TYPE_MIFARE_MINI = 17;
const uint32_t KEY_TYPE_TEMIC = 18;
const uint32_t KEY_TYPE_COUNT = 19;
const uint32_t KEY_TYPES_ALL = 0x7FFFF; // mask of all 19 key types

// Short names of the key types for log lines, indexed by key type ("?" for 0).
extern const wchar_t* const KeyTypeNames[KEY_TYPE_COUNT];
// KeyTypeNames[keyType], or "?" for a number outside the table.
const wchar_t* KeyTypeName(uint32_t keyType);

const size_t KEY_DATA_MAX = 15;

// One key: a length byte and up to 15 bytes in the key type's layout. 16 bytes, copied by value.
struct KeyData
{
    uint8_t Length = 0;
    uint8_t Bytes[KEY_DATA_MAX] = {};

    // The number of meaningful bytes: Length, but never more than the record holds.
    size_t ByteCount() const { return Length < KEY_DATA_MAX ? Length : KEY_DATA_MAX; }
    // Empties the key and zeroes every byte.
    void Clear();
    // Replaces the key by the first min(count, 15) of the given bytes; the rest is zeroed.
    void Assign(const uint8_t* bytes, size_t count);
};
static_assert(sizeof(KeyData) == 16, "KeyData is a 16-byte record");

// Data status values of a KeyEntry besides the HRESULT of a failed data read.
const uint32_t KEY_DATA_READ = 0;    // Data holds what was read after the key was detected
const uint32_t KEY_DATA_NONE = 1;    // no data read

// One key present on a reader.
struct KeyEntry
{
    uint32_t KeyType = KEY_TYPE_UNKNOWN;
    KeyData Uid;
    KeyData Data;                        // Mifare block or Ultralight pages read after detection
    uint32_t DataStatus = KEY_DATA_NONE; // KEY_DATA_READ, KEY_DATA_NONE or the failed read's HRESULT
    std::wstring Text;                   // the formatted text the component returned for this key
};

// Orders keys by their bytes (unsigned), a shorter key before a longer one with the same start.
int CompareKeyData(const KeyData& a, const KeyData& b);

// The Mifare key type that a card's SAK and ATQA announce (0 when it cannot be told).
uint32_t MifareTypeFromSak(uint8_t sak, uint16_t atqa);

// The key's display text for the log: Em-Marine and HID as the reader prints them, other types
// as hexadecimal from the last byte to the first.
void KeyToText(std::wstring& out, const KeyData& key, uint32_t keyType);
inline std::wstring KeyToText(const KeyData& key, uint32_t keyType)
{
    std::wstring s;
    KeyToText(s, key, keyType);
    return s;
}
