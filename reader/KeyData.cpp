// Key records, key-type names, the Mifare type from SAK and ATQA, and the key texts of the log.
#include "KeyData.h"
#include "WFormat.h"
#include <cstring>

const wchar_t* const KeyTypeNames[KEY_TYPE_COUNT] = {
    L"?",  L"EM",     L"HID", L"IC", L"UL",   L"M1K",  L"M4K",  L"DF",   L"PX",   L"COD433F",
    L"COD433", L"DS", L"CAME", L"M+", L"M+1K", L"M+2K", L"M+4K", L"MINI", L"Temic",
};

const wchar_t* KeyTypeName(uint32_t keyType)
{
    return keyType < KEY_TYPE_COUNT ? KeyTypeNames[keyType] : KeyTypeNames[KEY_TYPE_UNKNOWN];
}

void KeyData::Clear()
{
    Length = 0;
    memset(Bytes, 0, sizeof(Bytes));
}

void KeyData::Assign(const uint8_t* bytes, size_t count)
{
    Clear();
    if (count > KEY_DATA_MAX)
        count = KEY_DATA_MAX;
    if (count != 0)
        memcpy(Bytes, bytes, count);
    Length = (uint8_t)count;
}

int CompareKeyData(const KeyData& a, const KeyData& b)
{
    const size_t na = a.ByteCount(), nb = b.ByteCount();
    const size_t common = na < nb ? na : nb;
    for (size_t i = 0; i < common; i++)
    {
        if (a.Bytes[i] != b.Bytes[i])
            return a.Bytes[i] < b.Bytes[i] ? -1 : 1;
    }
    if (na == nb)
        return 0;
    return na < nb ? -1 : 1;
}

uint32_t MifareTypeFromSak(uint8_t sak, uint16_t atqa)
{
    if (sak & 0x02)
        return KEY_TYPE_UNKNOWN;
    if (sak & 0x08)
    {
        if (sak & 0x10)
            return KEY_TYPE_MIFARE_4K;
        return (sak & 0x01) ? KEY_TYPE_MIFARE_MINI : KEY_TYPE_MIFARE_1K;
    }
    if (sak & 0x10)
        return (sak & 0x01) ? KEY_TYPE_MIFARE_PLUS_4K : KEY_TYPE_MIFARE_PLUS_2K;
    if (!(sak & 0x20))
        return KEY_TYPE_MIFARE_UL;
    switch (atqa)
    {
    case 0x0002:
    case 0x0042:
        return KEY_TYPE_MIFARE_PLUS_4K;
    case 0x0004:
    case 0x0044:
        return KEY_TYPE_MIFARE_PLUS_2K;
    case 0x0344:
        return KEY_TYPE_DESFIRE;
    default:
        return KEY_TYPE_MIFARE_PLUS;
    }
}

static void AppendHexReversed(std::wstring& out, const uint8_t* bytes, size_t count)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    for (size_t i = count; i-- > 0;)
    {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
}

void KeyToText(std::wstring& out, const KeyData& key, uint32_t keyType)
{
    out.clear();
    const size_t n = key.ByteCount();
    const unsigned low16 = n >= 2 ? (unsigned)(key.Bytes[0] | (key.Bytes[1] << 8)) : 0;

    // The Em-Marine and HID forms read fixed positions; a key too short for them would show bytes
    // that are not part of it, so such a key falls back to the plain hexadecimal form.
    if (keyType == KEY_TYPE_EM_MARINE && n >= 5)
    {
        FormatString(out, L"[%.2X%.2X] %.3d,%.5d", key.Bytes[4], key.Bytes[3], key.Bytes[2], low16);
        return;
    }
    if (keyType == KEY_TYPE_HID && n >= 2)
    {
        const size_t count = (n - 2) < 4 ? (n - 2) : 4;
        out = L"[";
        AppendHexReversed(out, key.Bytes + 2, count); // little-endian number, most significant first
        AppendFormat(out, L"] %d", low16);
        return;
    }
    AppendHexReversed(out, key.Bytes, n);
}
