// The value rules of the read-keys page, apart from its controls: how many blocks a Mifare Classic
// sector offers, how a list selection becomes a stored number, and how the Mifare key text is read
// and written. The reader engine uses the stored numbers as unsigned values, so a list without a
// selection must leave its value alone rather than store -1.
#pragma once
#include <cstdint>
#include <string>

const uint32_t MIFARE_SECTORS = 40;
const uint32_t MIFARE_KEY_CELLS = 32;
const uint32_t ULTRALIGHT_PAGES = 16;
const uint32_t ULTRALIGHT_MAX_COUNT = 4;
const uint64_t MIFARE_KEY_MAX = 0xFFFFFFFFFFFFULL; // a Mifare key has 48 bits

// Sectors 0-31 of a Mifare Classic card have 4 blocks, sectors 32-39 (4K cards) have 16.
uint32_t BlocksInSector(uint32_t sector);
// The stored block when the sector has it; otherwise the block the reader reads in its place (the
// block number modulo the sector's block count), so that what is shown is what is read.
uint32_t BlockInSector(uint32_t sector, uint32_t block);

// value = selection + offset when the list has a selection (selection >= 0); unchanged otherwise.
// Returns whether the value was taken.
bool TakeSelection(int selection, uint32_t& value, uint32_t offset = 0);

// Reads the key edit's text as a Mifare key: 1 to 12 hexadecimal digits (leading zeros do not
// count), blanks around them and a "0x" in front allowed. False for anything else (no digit, any
// other character, more than 48 bits); `key` is then left as it was, for a text taken as far as it
// went would be another key, with which the reader could no longer read the sector.
bool ParseMifareKey(const std::wstring& text, uint64_t& key);
// Lower-case hexadecimal digits without leading zeros ("3c7a91e5b20d", "0").
std::wstring MifareKeyText(uint64_t key);
