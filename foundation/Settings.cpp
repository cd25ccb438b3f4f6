// The key-format list operations.
#include "Settings.h"

int32_t FindKeyFormat(const KeyFormatList& list, const std::wstring& name)
{
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].Name == name)
            return static_cast<int32_t>(i);
    return -1;
}

void ClearKeyFormats(KeyFormatList& list)
{
    list.clear();
}

void AddKeyFormat(KeyFormatList& list, const KeyFormat& format)
{
    list.push_back(format);
}
