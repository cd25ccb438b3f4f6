// The connection and advanced pages' data exchange: what the controls show for the settings and
// what they give back, including "Auto", values outside the lists and the bits the page owns.
#include "AdvancedPageExchange.h"
#include "MainPageExchange.h"
#include "Settings.h"
#include <gtest/gtest.h>

namespace {

void ExpectSameConnectionValues(const CParvelSettings& a, const CParvelSettings& b)
{
    EXPECT_EQ(a.Model, b.Model);
    EXPECT_EQ(a.Portname, b.Portname);
    EXPECT_EQ(a.Speed, b.Speed);
    EXPECT_EQ(a.StopBits, b.StopBits);
    EXPECT_EQ(a.Flags, b.Flags);
    EXPECT_EQ(a.Log, b.Log);
    EXPECT_EQ(a.LogFlags, b.LogFlags);
    EXPECT_EQ(a.ConnectTimeout, b.ConnectTimeout);
    EXPECT_EQ(a.ReqTimeout, b.ReqTimeout);
    EXPECT_EQ(a.ReqTries, b.ReqTries);
    EXPECT_EQ(a.ConnectPeriod, b.ConnectPeriod);
    EXPECT_EQ(a.RxPeriod, b.RxPeriod);
    EXPECT_EQ(a.LoadAtStartup, b.LoadAtStartup);
    EXPECT_EQ(a.SearchFlags, b.SearchFlags);
    EXPECT_EQ(a.FindIpTimeout, b.FindIpTimeout);
    EXPECT_EQ(a.FindIpTries, b.FindIpTries);
}

CParvelSettings RoundTrip(const CParvelSettings& in)
{
    MainPageControls c;
    LoadMainPage(in, c);
    CParvelSettings out; // defaults: every field must come from the controls
    out.Flags = in.Flags; // except the Flags bits the page does not own
    StoreMainPage(c, out);
    return out;
}

TEST(MainPageExchange, DefaultsShowAsTheDesignedControlsAndComeBack)
{
    CParvelSettings s;
    MainPageControls c;
    LoadMainPage(s, c);
    EXPECT_EQ(c.Model, 0);
    EXPECT_EQ(c.PortSel, 0);
    EXPECT_EQ(c.SpeedSel, 0);
    EXPECT_EQ(c.StopBitsSel, 0);
    EXPECT_EQ(c.ConnectTimeout, L"10000");
    EXPECT_EQ(c.RxPeriod, L"-1");
    EXPECT_EQ(c.ReqTries, L"2");
    EXPECT_FALSE(c.Wiegand);
    EXPECT_TRUE(c.Binary);
    EXPECT_TRUE(c.CorrectVm100);
    EXPECT_FALSE(c.LogEnabled);
    EXPECT_TRUE(c.LogPort && c.LogReader && c.LogKeys);
    EXPECT_FALSE(c.SearchRs232);
    EXPECT_TRUE(c.SearchUsb && c.SearchVidPid && c.SearchDescription);
    EXPECT_FALSE(c.SearchIp);
    ExpectSameConnectionValues(RoundTrip(s), s);
}

TEST(MainPageExchange, EveryFieldRoundTripsAcrossItsRange)
{
    CParvelSettings s;
    for (int32_t n : {-1, 0, 1, 9999, 10000, 65535, 65536, 1000000, 2147483647})
    {
        s.ConnectTimeout = s.ReqTimeout = s.RxPeriod = s.ConnectPeriod = n;
        s.FindIpTimeout = static_cast<uint32_t>(n);
        if (n >= 1)
            s.ReqTries = n, s.FindIpTries = static_cast<uint32_t>(n);
        for (uint32_t model = 0; model < 10; ++model)
        {
            s.Model = model;
            s.Speed = model < 7 ? (model == 0 ? 0 : MAIN_PAGE_SPEEDS[model - 1]) : 115200;
            s.StopBits = model % 3;
            s.Flags = model & 7;
            s.Log = model & 1;
            s.LogFlags = model & 7;
            s.SearchFlags = (model * 3) & 31;
            s.LoadAtStartup = (model >> 1) & 1;
            s.Portname = model % 2 ? L"COM3" : L"Auto";
            SCOPED_TRACE(testing::Message() << "n=" << n << " model=" << model);
            ExpectSameConnectionValues(RoundTrip(s), s);
        }
    }
}

TEST(MainPageExchange, AutoPortInEitherLanguageIsItemZeroAndSavedAsAuto)
{
    for (const wchar_t* name : {L"Auto", L"AUTO", L"auto", L"\x0430\x0432\x0442\x043E", L"\x0410\x0412\x0422\x041E"})
    {
        CParvelSettings s;
        s.Portname = name;
        MainPageControls c;
        LoadMainPage(s, c);
        EXPECT_EQ(c.PortSel, 0) << name;
        StoreMainPage(c, s);
        EXPECT_EQ(s.Portname, L"Auto");
    }
    EXPECT_FALSE(IsAutoPortName(L"Automatic"));
    EXPECT_FALSE(IsAutoPortName(L""));
}

TEST(MainPageExchange, PortsTheMachineLacksOrTypedTextsStandAsTheyAre)
{
    CParvelSettings s;
    s.Portname = L"COM17";
    MainPageControls c;
    LoadMainPage(s, c);
    EXPECT_EQ(c.PortSel, -1);
    EXPECT_EQ(c.PortText, L"COM17");
    StoreMainPage(c, s);
    EXPECT_EQ(s.Portname, L"COM17");

    c.PortSel = 2; // a listed port picked: the box's text is that port
    c.PortText = L"COM4";
    StoreMainPage(c, s);
    EXPECT_EQ(s.Portname, L"COM4");
    c.PortSel = -1;
    c.PortText = L"192.168.0.5:1000";
    StoreMainPage(c, s);
    EXPECT_EQ(s.Portname, L"192.168.0.5:1000");
}

TEST(MainPageExchange, SelectionsOutsideTheListsLeaveTheValueAlone)
{
    CParvelSettings s;
    s.Speed = 4800;
    s.Model = 12;
    s.StopBits = 5;
    MainPageControls c;
    LoadMainPage(s, c);
    EXPECT_EQ(c.SpeedSel, -1);
    EXPECT_EQ(c.Model, -1);
    EXPECT_EQ(c.StopBitsSel, -1);
    StoreMainPage(c, s);
    EXPECT_EQ(s.Speed, 4800u);
    EXPECT_EQ(s.Model, 12u);
    EXPECT_EQ(s.StopBits, 5u);

    c.SpeedSel = 7;
    c.Model = 10;
    StoreMainPage(c, s);
    EXPECT_EQ(s.Speed, 4800u);
    EXPECT_EQ(s.Model, 12u);
    c.SpeedSel = 6;
    StoreMainPage(c, s);
    EXPECT_EQ(s.Speed, 230400u);
    c.SpeedSel = 0;
    StoreMainPage(c, s);
    EXPECT_EQ(s.Speed, 0u);
}

TEST(MainPageExchange, CheckBoxesOwnTheirBitsOnly)
{
    CParvelSettings s;
    s.Flags = 0xF0 | 2;
    s.LogFlags = 0xF0;
    s.SearchFlags = 0xE0;
    MainPageControls c;
    LoadMainPage(s, c);
    c.CorrectVm100 = true;
    c.Wiegand = true;
    c.Binary = false;
    StoreMainPage(c, s);
    EXPECT_EQ(s.Flags, 0xF0u | 1u); // bit 2 clear for a checked "Correct VM-100", others kept
    EXPECT_EQ(s.LogFlags, 0u);      // rebuilt: bits with no box become 0
    EXPECT_EQ(s.SearchFlags, 0u);
    c.CorrectVm100 = false;
    c.SearchIp = c.SearchDescription = true;
    c.LogKeys = true;
    StoreMainPage(c, s);
    EXPECT_EQ(s.Flags, 0xF0u | 1u | 4u);
    EXPECT_EQ(s.SearchFlags, 24u);
    EXPECT_EQ(s.LogFlags, 4u);
}

TEST(MainPageExchange, NumbersWithSeparatorsOrNoNumberAtAll)
{
    CParvelSettings s;
    MainPageControls c;
    LoadMainPage(s, c);
    c.ConnectTimeout = L"10,000";
    c.ReqTimeout = L"1 500";
    c.ReqTries = L"x";
    c.FindIpTries = L"-3";
    StoreMainPage(c, s);
    EXPECT_EQ(s.ConnectTimeout, 10000);
    EXPECT_EQ(s.ReqTimeout, 1500);
    EXPECT_EQ(s.ReqTries, 0);
    EXPECT_EQ(s.FindIpTries, 0u);
}

TEST(MainPageExchange, DependentControlsFollowTheirSwitches)
{
    MainPageControls c;
    MainPageEnables e = MainPageEnablesFor(c);
    EXPECT_FALSE(e.LogOptions || e.UsbFilters || e.IpSearch);
    c.LogEnabled = true;
    e = MainPageEnablesFor(c);
    EXPECT_TRUE(e.LogOptions);
    EXPECT_FALSE(e.UsbFilters || e.IpSearch);
    c.SearchUsb = true;
    c.SearchIp = true;
    c.LogEnabled = false;
    e = MainPageEnablesFor(c);
    EXPECT_FALSE(e.LogOptions);
    EXPECT_TRUE(e.UsbFilters && e.IpSearch);
}

TEST(AdvancedPageExchange, ThreeBitsBothWaysOthersDropped)
{
    for (uint32_t flags = 0; flags < 8; ++flags)
        EXPECT_EQ(StoreAdvancedPage(LoadAdvancedPage(flags)), flags);
    EXPECT_EQ(StoreAdvancedPage(LoadAdvancedPage(0xFF)), 7u);
    AdvancedPageControls c = LoadAdvancedPage(2);
    EXPECT_FALSE(c.ConfirmDelete);
    EXPECT_TRUE(c.ConfirmLoad);
    EXPECT_FALSE(c.ConfirmSave);
}

} // namespace

TEST(MainPageExchange, NumberBoxesOutsideTheirRangesAreRefusedInPageOrder)
{
    CParvelSettings s;
    MainPageControls c;
    LoadMainPage(s, c);
    EXPECT_EQ(FirstRefusedMainPageNumber(c), -1) << "the defaults are all in range";
    c.RxPeriod = L"-1";
    c.ConnectPeriod = L"2147483647";
    EXPECT_EQ(FirstRefusedMainPageNumber(c), -1);

    // What a user may leave in the boxes; the first refused box is the one the user is sent to.
    struct Case
    {
        std::wstring MainPageControls::*box;
        const wchar_t* text;
        int index;
    };
    const Case cases[] = {
        {&MainPageControls::ConnectTimeout, L"abc", 0}, {&MainPageControls::ReqTimeout, L"99999999999", 1},
        {&MainPageControls::ReqTries, L"-5", 2},        {&MainPageControls::ReqTries, L"0", 2},
        {&MainPageControls::RxPeriod, L"", 3},          {&MainPageControls::ConnectPeriod, L"12a", 4},
        {&MainPageControls::FindIpTimeout, L"-2", 5},   {&MainPageControls::FindIpTries, L"0", 6},
    };
    for (const Case& k : cases) {
        MainPageControls bad = c;
        bad.*k.box = k.text;
        EXPECT_EQ(FirstRefusedMainPageNumber(bad), k.index) << k.text;
    }
    MainPageControls two = c;
    two.ConnectPeriod = L"x";
    two.ReqTries = L"-5";
    EXPECT_EQ(FirstRefusedMainPageNumber(two), 2);
}
