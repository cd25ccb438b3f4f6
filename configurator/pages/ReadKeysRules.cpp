// The value rules of the read-keys page (see ReadKeysRules.h).
#include "ReadKeysRules.h"
#include "Numbers.h"
#include <cwctype>

uint32_t BlocksInSector(uint32_t sector)
{
    return sector < 32 ? 4 : 16;
}

uint32_t BlockInSector(uint32_t sector, uint32_t block)
{
    return block % BlocksInSector(sector);
}

bool TakeSelection(int selection, uint32_t& value, uint32_t offset)
{
    if (selection < 0)
        return false;
    value = static_cast<uint32_t>(selection) + offset;
    return true;
}

bool ParseMifareKey(const std::wstring& text, uint64_t& key)
{
    size_t at = 0, end = text.size();
    while (at < end && std::iswspace(text[at]))
        ++at;
    while (end > at && std::iswspace(text[end - 1]))
        --end;
    if (at + 2 < end && text[at] == L'0' && (text[at + 1] == L'x' || text[at + 1] == L'X'))
        at += 2;
    if (at == end)
        return false;
    uint64_t value = 0;
    for (; at < end; ++at) {
        const int digit = HexDigitValue(text[at]);
        if (digit < 0)
            return false;
        // Checked on every digit so that a long text cannot wrap around to a small key.
        value = value * 16 + static_cast<unsigned>(digit);
        if (value > MIFARE_KEY_MAX)
            return false;
    }
    key = value;
    return true;
}

std::wstring MifareKeyText(uint64_t key)
{
    static const wchar_t Digits[] = L"0123456789abcdef";
    std::wstring text;
    do {
        text.insert(text.begin(), Digits[key & 0xF]);
        key >>= 4;
    } while (key != 0);
    return text;
}
