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
