// Texts of key-type masks (see KeyTypeTexts.h).
#include "KeyTypeTexts.h"
#include "KeyTypesRes.h"
#include "AppMessageBox.h"
#include "WFormat.h"
#include <array>

namespace {

const wchar_t* const ShortNames[KEY_TYPE_COUNT] = {
    L"X",      L"EM", L"HID",  L"IC", L"UL",   L"M1K",  L"M4K",  L"DF",   L"PX",   L"COD433F",
    L"COD433", L"DS", L"CAME", L"M+", L"M+1K", L"M+2K", L"M+4K", L"MINI", L"Temic",
};

uint32_t KnownBits(uint32_t mask)
{
    return mask & ALL_KEY_TYPES;
}

bool MeansAll(uint32_t mask)
{
    return KnownBits(mask) == 0 || KnownBits(mask) == ALL_KEY_TYPES;
}

// The number of the only set bit, or -1 when none or several are set.
int SingleBit(uint32_t mask)
{
    if (mask == 0 || (mask & (mask - 1)) != 0)
        return -1;
    int bit = 0;
    while (!(mask & 1)) {
        mask >>= 1;
        ++bit;
    }
    return bit;
}

std::wstring JoinShortNames(uint32_t mask)
{
    std::wstring text;
    for (unsigned bit = 0; bit < KEY_TYPE_COUNT; ++bit) {
        if (!(mask & (1u << bit)))
            continue;
        if (!text.empty())
            text += L", ";
        text += ShortNames[bit];
    }
    return text;
}

} // namespace

const wchar_t* KeyTypeShortName(unsigned bit)
{
    return bit < KEY_TYPE_COUNT ? ShortNames[bit] : L"";
}

const std::wstring& KeyTypeLongName(unsigned bit)
{
    static const std::wstring unknown = L"?";
    static const std::array<std::wstring, KEY_TYPE_COUNT> names = [] {
        std::array<std::wstring, KEY_TYPE_COUNT> table;
        for (unsigned i = 0; i < KEY_TYPE_COUNT; ++i) {
            table[i] = LoadAppString(IDS_KEY_TYPE_FIRST + i);
            if (table[i].empty())
                table[i] = unknown;
        }
        return table;
    }();
    return bit < KEY_TYPE_COUNT ? names[bit] : unknown;
}

std::wstring MaskHexText(uint32_t mask)
{
    std::wstring text;
    FormatString(text, L"%.4Xh", mask);
    return text;
}

std::wstring FormatKeyTypesText(uint32_t mask)
{
    if (MeansAll(mask))
        return LoadAppString(IDS_ALL_KEY_TYPES);
    const int single = SingleBit(KnownBits(mask));
    if (single >= 0)
        return KeyTypeLongName(static_cast<unsigned>(single));
    return JoinShortNames(KnownBits(mask));
}

std::wstring GroupKeyTypesText(uint32_t mask)
{
    if (MeansAll(mask))
        return LoadAppString(IDS_ALL_KEY_TYPES);
    const int single = SingleBit(KnownBits(mask));
    if (single >= 0)
        return KeyTypeLongName(static_cast<unsigned>(single));
    return MaskHexText(KnownBits(mask)) + L": " + JoinShortNames(KnownBits(mask));
}
