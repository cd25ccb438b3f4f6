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
    EXPECT_EQ(ParseMifareKey(L"FFFFFFFFFFFF", key), KeyTextResult::Taken);
    EXPECT_EQ(key, 0xFFFFFFFFFFFFULL);
    EXPECT_EQ(ParseMifareKey(L"  0x1a2B", key), KeyTextResult::Taken);
    EXPECT_EQ(key, 0x1A2Bu);
    EXPECT_EQ(ParseMifareKey(L"0", key), KeyTextResult::Taken);
    EXPECT_EQ(key, 0u);
    key = 5;
    EXPECT_EQ(ParseMifareKey(L"", key), KeyTextResult::Unchanged);
    EXPECT_EQ(ParseMifareKey(L"xyz", key), KeyTextResult::Unchanged);
    EXPECT_EQ(key, 5u);
    // 49 bits and more are refused, also when they would wrap around 64 bits.
    EXPECT_EQ(ParseMifareKey(L"1000000000000", key), KeyTextResult::TooLong);
    EXPECT_EQ(ParseMifareKey(L"100000000000000000000000000001", key), KeyTextResult::TooLong);
    EXPECT_EQ(key, 5u);
    // Leading zeros do not count as bits.
    EXPECT_EQ(ParseMifareKey(L"000000FFFFFFFFFFFF", key), KeyTextResult::Taken);
    EXPECT_EQ(key, 0xFFFFFFFFFFFFULL);
}
