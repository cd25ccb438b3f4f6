// The library list's rules without windows: filter, sort, delete under a group tab, conflicts,
// finding by name, and the duplicate collapse of the named-entry dialogs.
#include "EntryCollapse.h"
#include "FormatListLogic.h"
#include "KeyTypeTexts.h"
#include <gtest/gtest.h>

namespace {

KeyFormatItem Item(const wchar_t* name, uint32_t keyTypes, uint32_t keySize = 0, uint32_t enabled = 0,
                   const wchar_t* templ = L"%u")
{
    KeyFormatItem item;
    item.Name = name;
    item.Template = templ;
    item.KeyTypes = keyTypes;
    item.KeySize = keySize;
    item.Enabled = enabled;
    return item;
}

std::vector<std::wstring> Names(const std::vector<KeyFormatItem>& library, const std::vector<int64_t>& index)
{
    std::vector<std::wstring> names;
    for (int64_t i : index)
        names.push_back(library[static_cast<size_t>(i)].Name);
    return names;
}

using V = std::vector<std::wstring>;

} // namespace

TEST(FormatList, GroupFilterAndOnlyEnabled)
{
    // EM = bit 1 (2), HID = bit 2 (4).
    std::vector<KeyFormatItem> lib = {Item(L"any", 0), Item(L"all", ALL_KEY_TYPES, 0, 1), Item(L"em", 2),
                                      Item(L"hid", 4, 0, 1), Item(L"emhid", 6)};
    std::vector<int64_t> index;
    BuildFormatIndex(lib, 0, false, 0, index);
    EXPECT_EQ(Names(lib, index), (V{L"any", L"all", L"em", L"hid", L"emhid"}));
    // A group of every type shows the whole library, like "All".
    BuildFormatIndex(lib, ALL_KEY_TYPES, false, 0, index);
    EXPECT_EQ(index.size(), 5u);
    // Mask 0 is listed under "All" only; 0x7FFFF under every group.
    BuildFormatIndex(lib, 4, false, 0, index);
    EXPECT_EQ(Names(lib, index), (V{L"all", L"hid", L"emhid"}));
    BuildFormatIndex(lib, 4, true, 0, index);
    EXPECT_EQ(Names(lib, index), (V{L"all", L"hid"}));
    BuildFormatIndex(lib, 0, true, 0, index);
    EXPECT_EQ(Names(lib, index), (V{L"all", L"hid"}));
}

TEST(FormatList, SortIsOrdinalAndSigned)
{
    std::vector<KeyFormatItem> lib = {Item(L"b", 4, 5), Item(L"B", 2, 10), Item(L"a", 1, 0), Item(L"ab", 8, 2),
                                      Item(L"\u0430", 16, 1)}; // Cyrillic a sorts after every Latin letter
    std::vector<int64_t> index;
    BuildFormatIndex(lib, 0, false, 2, index);
    EXPECT_EQ(Names(lib, index), (V{L"B", L"a", L"ab", L"b", L"\u0430"}));
    BuildFormatIndex(lib, 0, false, -2, index);
    EXPECT_EQ(Names(lib, index), (V{L"\u0430", L"b", L"ab", L"a", L"B"}));
    // Numbers as numbers: 10 after 5 and 2.
    BuildFormatIndex(lib, 0, false, 6, index);
    EXPECT_EQ(Names(lib, index), (V{L"a", L"\u0430", L"ab", L"b", L"B"}));
    BuildFormatIndex(lib, 0, false, -5, index);
    EXPECT_EQ(Names(lib, index), (V{L"\u0430", L"ab", L"b", L"B", L"a"}));
    // "#" and unknown columns keep library order.
    for (int32_t column : {0, 1, -1, 8, -9}) {
        BuildFormatIndex(lib, 0, false, column, index);
        EXPECT_EQ(index, (std::vector<int64_t>{0, 1, 2, 3, 4})) << column;
    }
}

TEST(FormatList, HeaderClickFlipsOnlyTheSameColumn)
{
    EXPECT_EQ(NextSortColumn(0, 2), 2);
    EXPECT_EQ(NextSortColumn(2, 2), -2);
    EXPECT_EQ(NextSortColumn(-2, 2), 2);
    EXPECT_EQ(NextSortColumn(-2, 3), 3);
    EXPECT_EQ(NextSortColumn(3, 2), 2);
    EXPECT_EQ(NextSortColumn(1, 1), -1);
}

TEST(FormatList, DeleteUnderGroupStripsOnlyThatGroup)
{
    // HID tab (4): "hid+em" keeps EM, "hid" goes, "any" (0 = every type) keeps every other type.
    std::vector<KeyFormatItem> lib = {Item(L"hid+em", 6), Item(L"hid", 4, 0, 1), Item(L"any", 0), Item(L"em", 2)};
    EXPECT_TRUE(DeleteFormats(lib, {2, 0, 1}, 4));
    ASSERT_EQ(lib.size(), 3u);
    EXPECT_EQ(lib[0].Name, L"hid+em");
    EXPECT_EQ(lib[0].KeyTypes, 2u);
    EXPECT_EQ(lib[1].Name, L"any");
    EXPECT_EQ(lib[1].KeyTypes, ALL_KEY_TYPES & ~4u);
    EXPECT_EQ(lib[2].Name, L"em");
    // Without a group the selected formats go whole; no enabled one was touched.
    EXPECT_FALSE(DeleteFormats(lib, {0, 2}, 0));
    ASSERT_EQ(lib.size(), 1u);
    EXPECT_EQ(lib[0].Name, L"any");
    // Indices past the end are ignored, not erased.
    EXPECT_FALSE(DeleteFormats(lib, {7}, 0));
    EXPECT_EQ(lib.size(), 1u);
}

TEST(FormatList, Conflicts)
{
    std::vector<KeyFormatItem> lib = {Item(L"a", 2, 0, 1), Item(L"b", 2, 5, 1), Item(L"c", 6, 4, 1),
                                      Item(L"d", 0, 0, 1), Item(L"e", 4, 4, 0)};
    MarkFormatConflicts(lib);
    EXPECT_EQ(lib[0].Conflict, 1u); // size 0 against 5
    EXPECT_EQ(lib[1].Conflict, 1u);
    EXPECT_EQ(lib[2].Conflict, 1u); // shares EM with "a" (size 0)
    EXPECT_EQ(lib[3].Conflict, 0u); // mask 0 conflicts with nothing
    EXPECT_EQ(lib[4].Conflict, 0u); // disabled
    lib[0].Enabled = 0;
    MarkFormatConflicts(lib);
    EXPECT_EQ(lib[1].Conflict, 0u); // 5 against 4
    EXPECT_EQ(lib[2].Conflict, 0u);
    EXPECT_EQ(FindFormatByName(lib, L"c"), 2);
    EXPECT_EQ(FindFormatByName(lib, L"C"), -1);
    EXPECT_EQ(FindFormatByName({}, L"c"), -1);
}

TEST(EntryCollapse, NewEntryOverwritesTheExistingOne)
{
    std::vector<KeyFormatItem> lib = {Item(L"a", 1), Item(L"b", 2), Item(L"c", 4)};
    int64_t at = CollapseEntries(lib, -1, 1);
    EXPECT_EQ(at, 1);
    at = StoreEntry(lib, at, Item(L"b", 8));
    EXPECT_EQ(at, 1);
    ASSERT_EQ(lib.size(), 3u);
    EXPECT_EQ(lib[1].KeyTypes, 8u);
    // No duplicate: a new entry without collapse is appended.
    EXPECT_EQ(StoreEntry(lib, -1, Item(L"d", 1)), 3);
}

TEST(EntryCollapse, AFollowedEntryStaysOnItsEntry)
{
    // Erasing before it moves it up; erasing it loses it (or hands it to the entry that stands in).
    EXPECT_EQ(FollowErase(3, 1, -1), 2);
    EXPECT_EQ(FollowErase(3, 3, -1), -1);
    EXPECT_EQ(FollowErase(3, 3, 0), 0);
    EXPECT_EQ(FollowErase(1, 3, -1), 1);
    EXPECT_EQ(FollowErase(-1, 0, -1), -1);
    // A collapse of 1 and 2 (entries a b c d, followed d): d moves to 2; a followed "c" goes with
    // the collapse to 1; a new entry overwriting another moves nothing.
    std::vector<KeyFormatItem> lib = {Item(L"a", 1), Item(L"b", 2), Item(L"c", 4), Item(L"d", 8)};
    int64_t followed = 3;
    EXPECT_EQ(CollapseEntries(lib, 2, 1, followed), 1);
    EXPECT_EQ(followed, 2);
    EXPECT_EQ(lib[static_cast<size_t>(followed)].Name, L"d");
    lib = {Item(L"a", 1), Item(L"b", 2), Item(L"c", 4)};
    followed = 2;
    EXPECT_EQ(CollapseEntries(lib, 2, 1, followed), 1);
    EXPECT_EQ(followed, 1);
    followed = 1;
    EXPECT_EQ(CollapseEntries(lib, -1, 0, followed), 0);
    EXPECT_EQ(followed, 1);
}

TEST(EntryCollapse, RenamedEntryEndsAtTheLowerIndex)
{
    // Renaming "c" (2) to "a" (0): "c" disappears and entry 0 carries the new values.
    std::vector<KeyFormatItem> lib = {Item(L"a", 1), Item(L"b", 2), Item(L"c", 4)};
    int64_t at = CollapseEntries(lib, 2, 0);
    EXPECT_EQ(at, 0);
    StoreEntry(lib, at, Item(L"a", 4));
    ASSERT_EQ(lib.size(), 2u);
    EXPECT_EQ(lib[0].KeyTypes, 4u);
    EXPECT_EQ(lib[1].Name, L"b");
    // Renaming "a" (0) to "b" (1): the higher entry is erased, the edited one keeps its place.
    at = CollapseEntries(lib, 0, 1);
    EXPECT_EQ(at, 0);
    StoreEntry(lib, at, Item(L"b", 16));
    ASSERT_EQ(lib.size(), 1u);
    EXPECT_EQ(lib[0].Name, L"b");
    EXPECT_EQ(lib[0].KeyTypes, 16u);
}
