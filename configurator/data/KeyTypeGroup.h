// A named set of key types; each visible group is a tab of the Formats page.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct KeyTypeGroup
{
    std::wstring Name;     // not empty, unique among the groups (exact comparison)
    uint32_t KeyTypes = 0; // bit i = key type i; 0 and 0x7FFFF both mean all key types
    uint32_t Visible = 0;  // non-zero: the group has a tab (stored as tabVisible)
};

using KeyTypeGroupList = std::vector<KeyTypeGroup>;
