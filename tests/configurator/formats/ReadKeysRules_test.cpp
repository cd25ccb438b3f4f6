// The read-keys page's value rules: blocks per sector, selections, the Mifare key text.
#include "ReadKeysRules.h"
#include <gtest/gtest.h>

TEST(ReadKeysRules, BlocksPerSector)
{
    EXPECT_EQ(BlocksInSector(0), 4u);
    EXPECT_EQ(BlocksInSector(31), 4u);
    EXPECT_EQ(BlocksInSector(32), 16u);
    EXPECT_EQ(BlocksInSector(39), 16u);
    // A block beyond the sector is the one the reader reads in its place.
    EXPECT_EQ(BlockInSector(5, 10), 2u);
    EXPECT_EQ(BlockInSector(5, 3), 3u);
    EXPECT_EQ(BlockInSector(35, 15), 15u);
    EXPECT_EQ(BlockInSector(35, 17), 1u);
}

TEST(ReadKeysRules, NoSelectionLeavesTheValue)
{
    uint32_t value = 10;
    EXPECT_FALSE(TakeSelection(-1, value));
    EXPECT_EQ(value, 10u);
    EXPECT_TRUE(TakeSelection(3, value));
    EXPECT_EQ(value, 3u);
    EXPECT_TRUE(TakeSelection(3, value, 1)); // the count list starts at 1
    EXPECT_EQ(value, 4u);
}

TEST(ReadKeysRules, MifareKeyText)
{
    uint64_t key = 0x3C7A91E5B20DULL;
    EXPECT_EQ(MifareKeyText(key), L"3c7a91e5b20d");
    EXPECT_EQ(MifareKeyText(0), L"0");
    EXPECT_TRUE(ParseMifareKey(L"FFFFFFFFFFFF", key));
    EXPECT_EQ(key, 0xFFFFFFFFFFFFULL);
    EXPECT_TRUE(ParseMifareKey(L"  0x1a2B ", key));
    EXPECT_EQ(key, 0x1A2Bu);
    EXPECT_TRUE(ParseMifareKey(L"0", key));
    EXPECT_EQ(key, 0u);
    // Leading zeros do not count as digits of the key.
    EXPECT_TRUE(ParseMifareKey(L"000000FFFFFFFFFFFF", key));
    EXPECT_EQ(key, 0xFFFFFFFFFFFFULL);
    // Anything but the key's digits is refused and leaves the key: no digit at all, a letter that
    // is no hexadecimal digit anywhere (O for 0 at the end, or in front of good digits), 49 bits and
    // more (also when they would wrap around 64 bits).
    key = 5;
    for (const wchar_t* bad : {L"", L"   ", L"0x", L"xyz", L"3c7a91e5b2OD", L"xyz1234567890abc", L"12 34", L"-1",
                               L"1000000000000", L"100000000000000000000000000001"})
        EXPECT_FALSE(ParseMifareKey(bad, key)) << testing::PrintToString(std::wstring(bad));
    EXPECT_EQ(key, 5u);
}
