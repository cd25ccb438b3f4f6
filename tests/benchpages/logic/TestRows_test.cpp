// Cell texts and order of the properties and methods lists.
#include "TestRows.h"
#include <gtest/gtest.h>
#include <cstdint>

namespace {

std::vector<MethodRow> Methods()
{
    std::vector<MethodRow> rows(4);
    const wchar_t* names[] = {L"GetVersion", L"Open", L"ReadMifareC", L"Close"};
    const int32_t counts[] = {0, 1, 11, 1};
    for (uint32_t i = 0; i < 4; ++i) {
        rows[i].index = i;
        rows[i].number = std::to_wstring(i + 1);
        rows[i].english = names[i];
        rows[i].paramCount = counts[i];
        rows[i].paramCountText = std::to_wstring(counts[i]);
        rows[i].hasReturn = i != 3;
    }
    return rows;
}

std::vector<uint32_t> Order(const std::vector<MethodRow>& rows)
{
    std::vector<uint32_t> out;
    for (const MethodRow& r : rows)
        out.push_back(r.index);
    return out;
}

} // namespace

TEST(TestRows, HeaderClicksAndSortOrders)
{
    EXPECT_EQ(1, NextSortColumn(0, 1));
    EXPECT_EQ(-1, NextSortColumn(1, 1));
    EXPECT_EQ(1, NextSortColumn(-1, 1));
    EXPECT_EQ(5, NextSortColumn(1, 5));

    std::vector<MethodRow> rows = Methods();
    SortMethodRows(rows, 1);
    EXPECT_EQ((std::vector<uint32_t>{0, 1, 2, 3}), Order(rows));
    SortMethodRows(rows, -1);
    EXPECT_EQ((std::vector<uint32_t>{3, 2, 1, 0}), Order(rows));
    rows = Methods();
    SortMethodRows(rows, -5); // most parameters first
    EXPECT_EQ(2u, rows[0].index);
    EXPECT_EQ(0u, rows[3].index);
    rows = Methods();
    SortMethodRows(rows, 2);
    EXPECT_EQ((std::vector<uint32_t>{3, 0, 1, 2}), Order(rows));
    rows = Methods();
    SortMethodRows(rows, 0);
    EXPECT_EQ((std::vector<uint32_t>{0, 1, 2, 3}), Order(rows));
    for (int32_t none : {7, -7, INT32_MIN}) { // a column the list does not have
        SortMethodRows(rows, none);
        EXPECT_EQ((std::vector<uint32_t>{0, 1, 2, 3}), Order(rows)) << none;
    }
    EXPECT_EQ(L"+", MethodCellText(Methods()[0], 4));
    EXPECT_EQ(L"", MethodCellText(Methods()[3], 4));
    EXPECT_EQ(L"11", MethodCellText(Methods()[2], 5));

    std::vector<PropertyRow> props(3);
    const wchar_t* values[] = {L"b", L"a", L"B"}; // code units: "B" < "a" < "b"
    for (uint32_t i = 0; i < 3; ++i) {
        props[i].index = i;
        props[i].value = values[i];
        props[i].attributes = i;
    }
    props[0].type = 0xFFFF;
    props[1].type = 16;
    SortPropertyRows(props, 5);
    EXPECT_EQ(2u, props[0].index);
    EXPECT_EQ(1u, props[1].index);
    SortPropertyRows(props, -6);
    EXPECT_EQ(2u, props[0].index);
    EXPECT_EQ(L"?", PropertyCellText(props[2], 4)); // 0xFFFF: could not be read
    EXPECT_EQ(L"UI4", PropertyCellText(props[1], 4));
    EXPECT_EQ(L"R", PropertyCellText(props[1], 6));
    EXPECT_EQ(L"", PropertyCellText(props[2], 6));
    EXPECT_EQ(L"", PropertyCellText(props[2], 7));
    EXPECT_STREQ(L"RW", AttributesText(3));
    EXPECT_TRUE(PropertyTypeEditable(3));
    EXPECT_TRUE(PropertyTypeEditable(22));
    EXPECT_FALSE(PropertyTypeEditable(17));
    EXPECT_FALSE(PropertyTypeEditable(0xFFFF));
}
