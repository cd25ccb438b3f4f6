// The connection page's rules that need code of their own: the "Auto" port, the speed list and
// the number boxes' ranges.
#include "MainPageExchange.h"
#include <windows.h>

bool IsAutoPortName(const std::wstring& name)
{
    for (const wchar_t* autoName : {L"Auto", L"\x0410\x0432\x0442\x043E"}) // "Авто"
    {
        if (CompareStringOrdinal(name.c_str(), static_cast<int>(name.size()), autoName, -1, TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

int SpeedToItem(uint32_t speed)
{
    if (speed == 0)
        return 0;
    for (int i = 0; i < MAIN_PAGE_SPEED_COUNT; ++i)
    {
        if (MAIN_PAGE_SPEEDS[i] == speed)
            return i + 1;
    }
    return -1;
}

int FirstRefusedMainPageNumber(const MainPageControls& c)
{
    for (int i = 0; i < MAIN_PAGE_NUMBER_COUNT; ++i) {
        const MainPageNumberField& field = MAIN_PAGE_NUMBER_FIELDS[i];
        int64_t value = 0;
        if (!ReadControlNumber(c.*field.Text, field.Min, field.Max, value))
            return i;
    }
    return -1;
}
