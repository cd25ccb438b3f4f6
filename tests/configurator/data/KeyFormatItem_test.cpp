// Library entries: finding by name and conflict marking.
#include "KeyFormatItem.h"
#include <gtest/gtest.h>

static KeyFormatItem Item(const wchar_t* name, uint32_t enabled, uint32_t keyTypes, uint32_t keySize)
{
    KeyFormatItem item;
    item.Name = name;
    item.Enabled = enabled;
    item.KeyTypes = keyTypes;
    item.KeySize = keySize;
    return item;
}

TEST(KeyFormatItem, FindByNameIsExact)
{
    KeyFormatLibrary library;
    EXPECT_EQ(FindFormatByName(library, L""), -1);
    library = {Item(L"A", 0, 0, 0), Item(L"HelmSaaS", 0, 0, 0), Item(L"HelmSaaS", 1, 0, 0)};
    EXPECT_EQ(FindFormatByName(library, L"HelmSaaS"), 1);
    EXPECT_EQ(FindFormatByName(library, L"helmsaas"), -1);
    EXPECT_EQ(FindFormatByName(library, L"Helm"), -1);
}

static std::vector<uint32_t> Conflicts(const KeyFormatLibrary& library)
{
    std::vector<uint32_t> marks;
    for (const KeyFormatItem& item : library)
        marks.push_back(item.Conflict);
    return marks;
}

TEST(KeyFormatItem, ConflictsNeedSharedTypesAndCompatibleSizes)
{
    KeyFormatLibrary library{Item(L"A", 1, 0x6, 0), Item(L"B", 1, 0x2, 5)};
    MarkFormatConflicts(library);
    EXPECT_EQ(Conflicts(library), (std::vector<uint32_t>{1, 1}));

    library[0].KeySize = 4;
    MarkFormatConflicts(library);
    EXPECT_EQ(Conflicts(library), (std::vector<uint32_t>{0, 0}));

    library[0].KeySize = 5;
    MarkFormatConflicts(library);
    EXPECT_EQ(Conflicts(library), (std::vector<uint32_t>{1, 1}));

    // Disabling one clears the other at once.
    library[1].Enabled = 0;
    MarkFormatConflicts(library);
    EXPECT_EQ(Conflicts(library), (std::vector<uint32_t>{0, 0}));

    // No shared bit, and a mask of 0, conflict with nothing.
    library = {Item(L"A", 1, 0x2, 0), Item(L"B", 1, 0x4, 0), Item(L"C", 1, 0, 0)};
    MarkFormatConflicts(library);
    EXPECT_EQ(Conflicts(library), (std::vector<uint32_t>{0, 0, 0}));
}

TEST(KeyFormatItem, ConflictChainMarksEveryMember)
{
    // A with B and B with C, but not A with C.
    KeyFormatLibrary library{Item(L"A", 1, 0x1, 0), Item(L"B", 1, 0x3, 0), Item(L"C", 1, 0x2, 0),
                             Item(L"D", 1, 0x8, 0)};
    library[3].Conflict = 1; // stale mark from an earlier run
    MarkFormatConflicts(library);
    EXPECT_EQ(Conflicts(library), (std::vector<uint32_t>{1, 1, 1, 0}));
}
