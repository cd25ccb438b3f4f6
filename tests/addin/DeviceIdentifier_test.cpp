// Device identifiers: how one splits into its port and bus address, which are refused, and port
// names that differ only in case naming one port.
#include "ComponentFixture.h"

using namespace slothost;

TEST(DeviceIdentifier, SplitsIntoPortAndBusAddress)
{
    struct Case
    {
        const wchar_t* identifier;
        bool ok;
        const wchar_t* port;
        int32_t address;
    };
    const Case cases[] = {
        {L"COM3", true, L"COM3", -1},
        {L"192.168.0.5:4001", true, L"192.168.0.5:4001", -1},
        {L"COM3\\2", true, L"COM3", 2},
        {L"COM3\\0", true, L"COM3", 0},
        {L"COM3\\99999", true, L"COM3", 99999},
        {L"COM3\\007", true, L"COM3", 7},
        {L"COM3\\abc", false, L"", 0},
        {L"COM3\\", false, L"", 0},
        {L"COM3\\1x", false, L"", 0},
        {L"COM3\\-1", false, L"", 0},
        {L"COM3\\+1", false, L"", 0},
        {L"COM3\\ 1", false, L"", 0},
        {L"COM3\\100000", false, L"", 0}, // the bus sends five digits
        {L"COM3\\1\\2", false, L"", 0},
        {L"\\1", false, L"", 0},
        {L"", false, L"", 0},
    };
    for (const Case& c : cases) {
        std::wstring port = L"(unset)";
        int32_t address = 12345;
        EXPECT_EQ(SplitDeviceIdentifier(c.identifier, port, address), c.ok) << testing::PrintToString(std::wstring(c.identifier));
        if (c.ok) {
            EXPECT_EQ(port, c.port);
            EXPECT_EQ(address, c.address);
        }
    }
}

TEST(DeviceIdentifier, PortNamesOrderWithoutCase)
{
    PortNameLess less;
    EXPECT_FALSE(less(L"com3", L"COM3"));
    EXPECT_FALSE(less(L"COM3", L"com3"));
    EXPECT_TRUE(less(L"COM3", L"com4"));
    EXPECT_TRUE(less(L"com3", L"COM3\\1"));
    EXPECT_FALSE(less(L"COM3\\1", L"com3"));
}

TEST_F(ComponentTest, OpenRefusesAnIdentifierThatDoesNotParse)
{
    for (const wchar_t* port : {L"COM3\\abc", L"COM3\\", L"\\2", L"COM3\\-2"}) {
        tVariant value = Str(port);
        ASSERT_TRUE(c.SetPropVal(1, &value));
        for (long method : {long(MOpen), long(MDeviceTest)}) {
            std::vector<tVariant> params{Empty(), Empty()};
            tVariant result = Empty();
            ASSERT_TRUE(c.Func(method, result, params));
            EXPECT_FALSE(result.bVal) << testing::PrintToString(std::wstring(port)) << " method " << method;
            EXPECT_EQ(LastError(), static_cast<long>(0x80040210)) << testing::PrintToString(std::wstring(port));
        }
        EXPECT_EQ(object->OpenPortCount(), 0u);
        EXPECT_EQ(object->OpenDeviceCount(), 0u);
    }
}
