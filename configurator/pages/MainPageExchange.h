// What the connection page shows for the add-in's connection, log, search and start-up values,
// and how that state is turned back into values. The page copies between these records and its
// controls; the rules (the "Auto" entries, the speed list, which bits the check boxes own, the
// number ranges) live here, free of windows, so both directions are tested together.
//
// `Values` is any record with the settings' field names (the application's settings copy, or a
// CParvelSettings in tests); fields the page has no control for are never touched.
#pragma once
#include "ControlNumbers.h"
#include <cstdint>
#include <string>

// The speed list after its "Auto" entry.
const uint32_t MAIN_PAGE_SPEEDS[] = {9600, 19200, 38400, 57600, 115200, 230400};
const int MAIN_PAGE_SPEED_COUNT = 6;
// Model box: "Auto" and the nine reader models, the item index being the model index.
const int MAIN_PAGE_MODEL_ITEMS = 10;
const int MAIN_PAGE_STOP_BITS_ITEMS = 3; // "1", "1.5", "2"

// Ranges of the number boxes (and of their up-down controls).
const int32_t MAIN_PAGE_SIGNED_MIN = -1;
const int32_t MAIN_PAGE_TRIES_MIN = 1;
const int32_t MAIN_PAGE_NUMBER_MAX = 2147483647;

// "Auto", or its Russian form, in any letter case: the port is looked for.
bool IsAutoPortName(const std::wstring& name);

// State of the page's controls. A selection of -1 means none.
struct MainPageControls
{
    int Model = -1;
    int PortSel = -1;          // 0 = "Auto"; other items are the machine's ports
    std::wstring PortText;     // the box's text (shown when no item is selected)
    int SpeedSel = -1;
    int StopBitsSel = -1;
    std::wstring ConnectTimeout, ReqTimeout, ReqTries, RxPeriod, ConnectPeriod;
    std::wstring FindIpTimeout, FindIpTries;
    bool Wiegand = false, Binary = false, CorrectVm100 = false;
    bool LogEnabled = false, LogPort = false, LogReader = false, LogKeys = false;
    bool SearchRs232 = false, SearchUsb = false, SearchVidPid = false, SearchDescription = false;
    bool SearchIp = false;
    bool LoadAtStartup = false;
};

// Which dependent controls are enabled for the given check-box state.
struct MainPageEnables
{
    bool LogOptions;    // port events, reader events, key transfer
    bool UsbFilters;    // filter by VID/PID and by device description
    bool IpSearch;      // the IP-converter search group, its labels, boxes and spins
};

inline MainPageEnables MainPageEnablesFor(const MainPageControls& c)
{
    return MainPageEnables{c.LogEnabled, c.SearchUsb, c.SearchIp};
}

// The number boxes in the page's order, each with its range.
struct MainPageNumberField
{
    std::wstring MainPageControls::*Text;
    int32_t Min;
    int32_t Max;
};
const MainPageNumberField MAIN_PAGE_NUMBER_FIELDS[] = {
    {&MainPageControls::ConnectTimeout, MAIN_PAGE_SIGNED_MIN, MAIN_PAGE_NUMBER_MAX},
    {&MainPageControls::ReqTimeout, MAIN_PAGE_SIGNED_MIN, MAIN_PAGE_NUMBER_MAX},
    {&MainPageControls::ReqTries, MAIN_PAGE_TRIES_MIN, MAIN_PAGE_NUMBER_MAX},
    {&MainPageControls::RxPeriod, MAIN_PAGE_SIGNED_MIN, MAIN_PAGE_NUMBER_MAX},
    {&MainPageControls::ConnectPeriod, MAIN_PAGE_SIGNED_MIN, MAIN_PAGE_NUMBER_MAX},
    {&MainPageControls::FindIpTimeout, MAIN_PAGE_SIGNED_MIN, MAIN_PAGE_NUMBER_MAX},
    {&MainPageControls::FindIpTries, MAIN_PAGE_TRIES_MIN, MAIN_PAGE_NUMBER_MAX},
};
const int MAIN_PAGE_NUMBER_COUNT = 7;

// The first number box (index into MAIN_PAGE_NUMBER_FIELDS) whose text is no number of its range,
// -1 when every box holds one. Such a text is refused: stored, it would become 0.
int FirstRefusedMainPageNumber(const MainPageControls& c);

// Item index of a speed: 0 for "Auto" (0), -1 for a rate the list does not have.
int SpeedToItem(uint32_t speed);

template <typename Values>
void LoadMainPage(const Values& v, MainPageControls& c)
{
    c.Model = v.Model < static_cast<uint32_t>(MAIN_PAGE_MODEL_ITEMS) ? static_cast<int>(v.Model) : -1;
    if (IsAutoPortName(v.Portname))
    {
        c.PortSel = 0;
        c.PortText.clear();
    }
    else
    {
        c.PortSel = -1;
        c.PortText = v.Portname;
    }
    c.SpeedSel = SpeedToItem(v.Speed);
    c.StopBitsSel = v.StopBits < static_cast<uint32_t>(MAIN_PAGE_STOP_BITS_ITEMS) ? static_cast<int>(v.StopBits) : -1;
    c.ConnectTimeout = ControlNumberText(static_cast<int32_t>(v.ConnectTimeout));
    c.ReqTimeout = ControlNumberText(static_cast<int32_t>(v.ReqTimeout));
    c.ReqTries = ControlNumberText(static_cast<uint32_t>(v.ReqTries));
    c.RxPeriod = ControlNumberText(static_cast<int32_t>(v.RxPeriod));
    c.ConnectPeriod = ControlNumberText(static_cast<int32_t>(v.ConnectPeriod));
    c.FindIpTimeout = ControlNumberText(static_cast<int32_t>(v.FindIpTimeout));
    c.FindIpTries = ControlNumberText(static_cast<uint32_t>(v.FindIpTries));
    c.Wiegand = (v.Flags & 1) != 0;
    c.Binary = (v.Flags & 2) != 0;
    c.CorrectVm100 = (v.Flags & 4) == 0;
    c.LogEnabled = v.Log == 1;
    c.LogPort = (v.LogFlags & 1) != 0;
    c.LogReader = (v.LogFlags & 2) != 0;
    c.LogKeys = (v.LogFlags & 4) != 0;
    c.SearchRs232 = (v.SearchFlags & 1) != 0;
    c.SearchUsb = (v.SearchFlags & 2) != 0;
    c.SearchVidPid = (v.SearchFlags & 4) != 0;
    c.SearchDescription = (v.SearchFlags & 8) != 0;
    c.SearchIp = (v.SearchFlags & 16) != 0;
    c.LoadAtStartup = v.LoadAtStartup == 1;
}

template <typename Values>
void StoreMainPage(const MainPageControls& c, Values& v)
{
    using ModelT = decltype(v.Model);
    if (c.Model >= 0 && c.Model < MAIN_PAGE_MODEL_ITEMS)
        v.Model = static_cast<ModelT>(c.Model);
    v.Portname = c.PortSel == 0 ? std::wstring(L"Auto") : c.PortText;
    if (c.SpeedSel == 0)
        v.Speed = 0;
    else if (c.SpeedSel >= 1 && c.SpeedSel <= MAIN_PAGE_SPEED_COUNT)
        v.Speed = MAIN_PAGE_SPEEDS[c.SpeedSel - 1];
    if (c.StopBitsSel >= 0)
        v.StopBits = static_cast<decltype(v.StopBits)>(c.StopBitsSel);

    v.Log = c.LogEnabled ? 1 : 0;
    v.LogFlags = (c.LogPort ? 1 : 0) | (c.LogReader ? 2 : 0) | (c.LogKeys ? 4 : 0);
    v.SearchFlags = (c.SearchRs232 ? 1 : 0) | (c.SearchUsb ? 2 : 0) | (c.SearchVidPid ? 4 : 0)
                    | (c.SearchDescription ? 8 : 0) | (c.SearchIp ? 16 : 0);
    v.Flags = (v.Flags & ~7u) | (c.Wiegand ? 1 : 0) | (c.Binary ? 2 : 0) | (c.CorrectVm100 ? 0 : 4);

    v.ConnectTimeout = static_cast<decltype(v.ConnectTimeout)>(ParseControlNumber(c.ConnectTimeout, true));
    v.ReqTimeout = static_cast<decltype(v.ReqTimeout)>(ParseControlNumber(c.ReqTimeout, true));
    v.ReqTries = static_cast<decltype(v.ReqTries)>(ParseControlNumber(c.ReqTries, false));
    v.RxPeriod = static_cast<decltype(v.RxPeriod)>(ParseControlNumber(c.RxPeriod, true));
    v.ConnectPeriod = static_cast<decltype(v.ConnectPeriod)>(ParseControlNumber(c.ConnectPeriod, true));
    v.FindIpTimeout = static_cast<decltype(v.FindIpTimeout)>(ParseControlNumber(c.FindIpTimeout, true));
    v.FindIpTries = static_cast<decltype(v.FindIpTries)>(ParseControlNumber(c.FindIpTries, false));
    v.LoadAtStartup = c.LoadAtStartup ? 1 : 0;
}
