// Finding library entries by name and marking entries whose formats would compete for one key.
#include "KeyFormatItem.h"

int64_t FindFormatByName(const KeyFormatLibrary& library, const std::wstring& name)
{
    for (size_t i = 0; i < library.size(); ++i)
        if (library[i].Name == name)
            return static_cast<int64_t>(i);
    return -1;
}

static bool Conflicts(const KeyFormatItem& a, const KeyFormatItem& b)
{
    return a.Enabled && b.Enabled && (a.KeyTypes & b.KeyTypes) != 0 &&
           (a.KeySize == 0 || b.KeySize == 0 || a.KeySize == b.KeySize);
}

void MarkFormatConflicts(KeyFormatLibrary& library)
{
    for (KeyFormatItem& item : library)
        item.Conflict = 0;
    for (size_t i = 0; i < library.size(); ++i) {
        if (!library[i].Enabled)
            continue;
        for (size_t j = i + 1; j < library.size(); ++j) {
            if (Conflicts(library[i], library[j])) {
                library[i].Conflict = 1;
                library[j].Conflict = 1;
            }
        }
    }
}
