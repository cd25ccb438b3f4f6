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

TEST(KeyFormatItem, ConflictMarksMatchThePairRule)
{
    // Random small libraries against the rule applied to every pair.
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % range;
    };
    for (int round = 0; round < 200; ++round) {
        KeyFormatLibrary library;
        const uint32_t count = next(8);
        for (uint32_t i = 0; i < count; ++i)
            library.push_back(Item(L"F", next(3) != 0, next(2) ? (1u << next(4)) | (1u << next(4)) : 0, next(3) * 2));
        MarkFormatConflicts(library);
        for (size_t i = 0; i < library.size(); ++i) {
            uint32_t expected = 0;
            for (size_t j = 0; j < library.size(); ++j) {
                const KeyFormatItem& a = library[i];
                const KeyFormatItem& b = library[j];
                if (i != j && a.Enabled && b.Enabled && (a.KeyTypes & b.KeyTypes) &&
                    (a.KeySize == 0 || b.KeySize == 0 || a.KeySize == b.KeySize))
                    expected = 1;
            }
            ASSERT_EQ(library[i].Conflict, expected) << "round " << round << " entry " << i;
        }
    }
}
