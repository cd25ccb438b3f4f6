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

KeyTextResult ParseMifareKey(const std::wstring& text, uint64_t& key)
{
    size_t at = 0;
    while (at < text.size() && std::iswspace(text[at]))
        ++at;
    if (at + 1 < text.size() && text[at] == L'0' && (text[at + 1] == L'x' || text[at + 1] == L'X') &&
        at + 2 < text.size() && HexDigitValue(text[at + 2]) >= 0)
        at += 2;
    uint64_t value = 0;
    bool digits = false;
    for (; at < text.size(); ++at) {
        const int digit = HexDigitValue(text[at]);
        if (digit < 0)
            break;
        digits = true;
        // Checked on every digit so that a long text cannot wrap around to a small key.
        value = value * 16 + static_cast<unsigned>(digit);
        if (value > MIFARE_KEY_MAX)
            return KeyTextResult::TooLong;
    }
    if (!digits)
        return KeyTextResult::Unchanged;
    key = value;
    return KeyTextResult::Taken;
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
