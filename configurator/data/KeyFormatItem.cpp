// Finding library entries by name and marking entries whose formats would compete for one key.
#include "KeyFormatItem.h"
#include <unordered_map>

int64_t FindFormatByName(const KeyFormatLibrary& library, const std::wstring& name)
{
    for (size_t i = 0; i < library.size(); ++i)
        if (library[i].Name == name)
            return static_cast<int64_t>(i);
    return -1;
}

// Two enabled entries conflict when their masks share a bit and their sizes are equal or either is
// 0. Looked at one key-type bit at a time, an entry of that bit conflicts with another one exactly
// when the bit has at least two entries and the entry's size is 0, or another entry's size is 0,
// or another entry has the same size; so a pass per bit replaces comparing every pair, which a
// library of thousands of enabled formats would feel.
void MarkFormatConflicts(KeyFormatLibrary& library)
{
    for (KeyFormatItem& item : library)
        item.Conflict = 0;
    std::vector<size_t> members;
    std::unordered_map<uint32_t, size_t> sizes; // key size -> entries of the bit with that size
    for (int bit = 0; bit < 32; ++bit) {
        const uint32_t mask = 1u << bit;
        members.clear();
        sizes.clear();
        for (size_t i = 0; i < library.size(); ++i) {
            if (library[i].Enabled && (library[i].KeyTypes & mask)) {
                members.push_back(i);
                ++sizes[library[i].KeySize];
            }
        }
        if (members.size() < 2)
            continue;
        const bool anyZero = sizes.count(0) != 0;
        for (size_t i : members) {
            const uint32_t size = library[i].KeySize;
            if (size == 0 || anyZero || sizes[size] >= 2)
                library[i].Conflict = 1;
        }
    }
}
