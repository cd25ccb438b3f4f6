// Device identifiers: how one splits into its port and bus address, which are refused, and port
// names that differ only in case naming one port.
#include "ComponentFixture.h"
#include "CodePage.h"
#include "ModuleState.h"

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

// A converter's address whose TCP port is missing, not a number or outside 1-65535 is refused at
// once, in the message language, with the port named, and no reader is made to try it: a resolver
// may take 529691 as 5403 and reach another converter's readers.
TEST_F(ComponentTest, OpenRefusesAConverterAddressWithoutAValidTcpPort)
{
    const LCID saved = MessageLcid;
    for (const bool russian : {false, true}) {
        MessageLcid = russian ? MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT)
                              : MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
        for (const wchar_t* port : {L"127.0.0.1:529691", L"127.0.0.1:0", L"127.0.0.1:65536", L"127.0.0.1:",
                                    L"127.0.0.1", L"converter.local:telnet", L"127.0.0.1:-23", L"127.0.0.1: 23",
                                    L"127.0.0.1:0\\2", L"COM"}) {
            const std::wstring name(port);
            const std::wstring shown = name.substr(0, name.find(L'\\'));
            tVariant value = Str(port);
            ASSERT_TRUE(c.SetPropVal(1, &value));
            for (long method : {long(MOpen), long(MDeviceTest)}) {
                SCOPED_TRACE(testing::Message() << WideToUtf8(name) << " method " << method << (russian ? " ru" : " en"));
                std::vector<tVariant> params{Empty(), Empty()};
                tVariant result = Empty();
                const DWORD start = GetTickCount();
                ASSERT_TRUE(c.Func(method, result, params));
                EXPECT_LT(GetTickCount() - start, 200u);
                EXPECT_FALSE(result.bVal);
                std::wstring text;
                EXPECT_EQ(LastError(&text), static_cast<long>(0x80040210));
                EXPECT_NE(std::wstring::npos, text.find(L"\"" + shown + L"\"")) << WideToUtf8(text);
                EXPECT_NE(std::wstring::npos, text.find(L"65535")) << WideToUtf8(text);
                EXPECT_EQ(russian, text.find(L"Неверное имя порта") == 0) << WideToUtf8(text);
            }
            EXPECT_EQ(object->OpenPortCount(), 0u);
            EXPECT_EQ(object->OpenDeviceCount(), 0u);
        }
    }
    MessageLcid = saved;
}
