// Key records, key-type names, key ordering, the Mifare type from SAK/ATQA and the key log texts.
#include "KeyData.h"
#include <gtest/gtest.h>
#include <initializer_list>

namespace {

KeyData MakeKey(std::initializer_list<uint8_t> bytes)
{
    KeyData k;
    k.Assign(bytes.begin(), bytes.size());
    return k;
}

} // namespace

TEST(KeyData, TypeNamesCoverAllNineteenTypes)
{
    const wchar_t* expected[] = {L"?",      L"EM",  L"HID",  L"IC",   L"UL",   L"M1K",  L"M4K",
                                 L"DF",     L"PX",  L"COD433F", L"COD433", L"DS", L"CAME", L"M+",
                                 L"M+1K",   L"M+2K", L"M+4K", L"MINI", L"Temic"};
    static_assert(sizeof(expected) / sizeof(expected[0]) == KEY_TYPE_COUNT, "one name per type");
    for (uint32_t t = 0; t < KEY_TYPE_COUNT; t++)
    {
        EXPECT_STREQ(expected[t], KeyTypeNames[t]) << t;
        EXPECT_STREQ(expected[t], KeyTypeName(t)) << t;
    }
    EXPECT_STREQ(L"?", KeyTypeName(KEY_TYPE_COUNT));
    EXPECT_STREQ(L"?", KeyTypeName(0xFFFFFFFF));
    EXPECT_EQ(0x7FFFFu, KEY_TYPES_ALL);
    EXPECT_EQ(KEY_TYPES_ALL, (1u << KEY_TYPE_COUNT) - 1);
}

TEST(KeyData, AssignTruncatesAndClearZeroes)
{
    uint8_t many[20];
    for (int i = 0; i < 20; i++)
        many[i] = (uint8_t)(i + 1);
    KeyData k;
    k.Assign(many, 20);
    EXPECT_EQ(15, k.Length);
    EXPECT_EQ(15, k.Bytes[14]);

    k.Assign(many, 2);
    EXPECT_EQ(2, k.Length);
    EXPECT_EQ(0, k.Bytes[2]) << "bytes past the key are zeroed";

    k.Clear();
    EXPECT_EQ(0, k.Length);
    for (uint8_t b : k.Bytes)
        EXPECT_EQ(0, b);

    k.Length = 200; // a corrupt length never reaches past the record
    EXPECT_EQ(15u, k.ByteCount());
}

TEST(KeyData, EntryStartsEmptyWithNoData)
{
    KeyEntry e;
    EXPECT_EQ(KEY_TYPE_UNKNOWN, e.KeyType);
    EXPECT_EQ(0, e.Uid.Length);
    EXPECT_EQ(0, e.Data.Length);
    EXPECT_EQ(KEY_DATA_NONE, e.DataStatus);
    EXPECT_TRUE(e.Text.empty());
}

TEST(KeyData, CompareOrdersBytesThenLength)
{
    struct Case
    {
        KeyData a, b;
        int sign;
    } cases[] = {
        {MakeKey({}), MakeKey({}), 0},
        {MakeKey({1, 2, 3}), MakeKey({1, 2, 3}), 0},
        {MakeKey({1, 2, 3}), MakeKey({1, 2, 4}), -1},
        {MakeKey({0x80}), MakeKey({0x7F}), 1}, // unsigned bytes
        {MakeKey({1, 2}), MakeKey({1, 2, 0}), -1},
        {MakeKey({2}), MakeKey({1, 9, 9}), 1},
        {MakeKey({}), MakeKey({0}), -1},
    };
    for (const auto& c : cases)
    {
        int r = CompareKeyData(c.a, c.b);
        int back = CompareKeyData(c.b, c.a);
        EXPECT_EQ(c.sign, (r > 0) - (r < 0));
        EXPECT_EQ(-c.sign, (back > 0) - (back < 0));
    }

    // Bytes past the length take no part, and a corrupt length stops at the record's end.
    KeyData a = MakeKey({5, 6}), b = MakeKey({5, 6});
    b.Bytes[5] = 0x77;
    EXPECT_EQ(0, CompareKeyData(a, b));
    KeyData full = MakeKey({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    KeyData corrupt = full;
    corrupt.Length = 255;
    EXPECT_EQ(0, CompareKeyData(full, corrupt));
}

TEST(KeyData, MifareTypeFromSakEveryBranch)
{
    struct Case
    {
        uint8_t sak;
        uint16_t atqa;
        uint32_t type;
    } cases[] = {
        {0x02, 0x0004, KEY_TYPE_UNKNOWN},     // bit 1 comes first
        {0x0A, 0x0004, KEY_TYPE_UNKNOWN},     // even with the Classic bit
        {0x08, 0x0004, KEY_TYPE_MIFARE_1K},
        {0x18, 0x0002, KEY_TYPE_MIFARE_4K},
        {0x19, 0x0002, KEY_TYPE_MIFARE_4K},   // 0x10 before 0x01
        {0x09, 0x0004, KEY_TYPE_MIFARE_MINI},
        {0x28, 0x0344, KEY_TYPE_MIFARE_1K},   // 0x08 before 0x20
        {0x10, 0x0004, KEY_TYPE_MIFARE_PLUS_2K},
        {0x11, 0x0004, KEY_TYPE_MIFARE_PLUS_4K},
        {0x30, 0x0344, KEY_TYPE_MIFARE_PLUS_2K}, // 0x10 before 0x20
        {0x00, 0x0044, KEY_TYPE_MIFARE_UL},
        {0x01, 0x0344, KEY_TYPE_MIFARE_UL},
        {0x20, 0x0002, KEY_TYPE_MIFARE_PLUS_4K},
        {0x20, 0x0042, KEY_TYPE_MIFARE_PLUS_4K},
        {0x20, 0x0004, KEY_TYPE_MIFARE_PLUS_2K},
        {0x20, 0x0044, KEY_TYPE_MIFARE_PLUS_2K},
        {0x20, 0x0344, KEY_TYPE_DESFIRE},
        {0x20, 0x0000, KEY_TYPE_MIFARE_PLUS},
        {0x24, 0x0048, KEY_TYPE_MIFARE_PLUS},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.type, MifareTypeFromSak(c.sak, c.atqa)) << std::hex << "SAK " << (int)c.sak
                                                          << " ATQA " << c.atqa;
}

TEST(KeyData, KeyToTextByType)
{
    struct Case
    {
        KeyData key;
        uint32_t type;
        const wchar_t* text;
    } cases[] = {
        // Em-Marine reproduces the reader's line "[0102] 123,45678".
        {MakeKey({0x6E, 0xB2, 0x7B, 0x02, 0x01}), KEY_TYPE_EM_MARINE, L"[0102] 123,45678"},
        {MakeKey({0x00, 0x00, 0x00, 0x00, 0x00}), KEY_TYPE_EM_MARINE, L"[0000] 000,00000"},
        {MakeKey({0x01, 0x02, 0x03}), KEY_TYPE_EM_MARINE, L"030201"}, // too short: plain form
        // HID: up to four bytes from byte 2 as a number, then bytes 0-1 in decimal.
        {MakeKey({0x39, 0x30, 0x44, 0x33, 0x22, 0x11}), KEY_TYPE_HID, L"[11223344] 12345"},
        {MakeKey({0x39, 0x30, 0x44, 0x33}), KEY_TYPE_HID, L"[3344] 12345"},
        {MakeKey({0x39, 0x30, 1, 2, 3, 4, 5, 6}), KEY_TYPE_HID, L"[04030201] 12345"},
        {MakeKey({0xFF, 0xFF}), KEY_TYPE_HID, L"[] 65535"},
        {MakeKey({0x39}), KEY_TYPE_HID, L"39"}, // shorter than two bytes: plain form
        {MakeKey({}), KEY_TYPE_HID, L""},
        // Everything else: last byte first.
        {MakeKey({0x01, 0xAB}), KEY_TYPE_MIFARE_1K, L"AB01"},
        {MakeKey({0x0F, 0xA0, 0x00}), KEY_TYPE_DALLAS, L"00A00F"},
        {MakeKey({}), KEY_TYPE_TEMIC, L""},
        {MakeKey({0x12}), 99, L"12"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::wstring(c.text), KeyToText(c.key, c.type)) << c.type;

    KeyData corrupt = MakeKey({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    corrupt.Length = 255;
    EXPECT_EQ(L"0F0E0D0C0B0A090807060504030201", KeyToText(corrupt, KEY_TYPE_DALLAS));
}
