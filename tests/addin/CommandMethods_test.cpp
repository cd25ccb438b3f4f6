// The command methods without a reader: hexadecimal text to bytes, the data and the Mifare key of
// a card command as the methods convert them, and the argument checks that come before the device
// (too few parameters, parameter types, an identifier that Open did not return).
#include "ComponentFixture.h"
#include "AddinStrings.h"
#include "Messages.h"
#include <cstring>

using namespace slothost;

namespace {

const long NotOpened = static_cast<long>(0x80040233);

std::vector<uint8_t> V(std::initializer_list<int> bytes)
{
    std::vector<uint8_t> out;
    for (int b : bytes)
        out.push_back(static_cast<uint8_t>(b));
    return out;
}

} // namespace

TEST(HexToBytes, TakesCharactersInPairs)
{
    struct Case
    {
        const wchar_t* text;
        int64_t length;
        int64_t maximum;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {L"0102FF", -1, 16, V({0x01, 0x02, 0xFF})},
        {L"aBcD", -1, 16, V({0xAB, 0xCD})},
        {L"123", -1, 16, V({0x12})},              // a last unpaired digit is left out
        {L"010203", -1, 2, V({0x01, 0x02})},      // stops at the maximum
        {L"010203", 4, 16, V({0x01, 0x02})},      // only the given length
        {L"", -1, 16, V({})},
        {L"0102", -1, 0, V({})},
        // Nothing is refused: any other character counts as (c - 87) modulo 16.
        {L"g1G0zz", -1, 16, V({0x01, 0x00, 0x33})},
    };
    for (const Case& c : cases) {
        uint8_t out[16];
        std::memset(out, 0xEE, sizeof(out));
        const int64_t n = HexToBytes(c.text, c.length, out, c.maximum);
        EXPECT_EQ(std::vector<uint8_t>(out, out + n), c.expected) << testing::PrintToString(std::wstring(c.text));
        EXPECT_EQ(out[n], 0xEE) << "wrote past its count";
    }
    EXPECT_EQ(HexToBytes(nullptr, -1, nullptr, 4), 0);
}

TEST(CommandData, FillsThePagesAndLeavesOutWhatGoesBeyond)
{
    const char blob[] = {1, 2, 3, 4, 5};
    struct Case
    {
        const char* name;
        tVariant data;
        size_t size;
        HRESULT code;
        UINT textId;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {"hex text with blanks, padded", Str(L"01 02 03 04 05"), 8, S_OK, 0, V({1, 2, 3, 4, 5, 0, 0, 0})},
        {"hex text, lower case", Str(L"a0B1"), 4, S_OK, 0, V({0xA0, 0xB1, 0, 0})},
        {"empty text writes zeros", Str(L""), 4, S_OK, 0, V({0, 0, 0, 0})},
        {"ui4 low byte first", UI4(0x04030201), 4, S_OK, 0, V({1, 2, 3, 4})},
        {"i4", I4(-2), 4, S_OK, 0, V({0xFE, 0xFF, 0xFF, 0xFF})},
        {"i2 widened to four bytes", I2(-1), 4, S_OK, 0, V({0xFF, 0xFF, 0xFF, 0xFF})},
        {"i1 widened", I1(-2), 8, S_OK, 0, V({0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0})},
        {"ui2 widened", UI2(0x8001), 4, S_OK, 0, V({0x01, 0x80, 0, 0})},
        {"ui1", UI1(0x7A), 4, S_OK, 0, V({0x7A, 0, 0, 0})},
        {"int", Int(0x11223344), 16, S_OK, 0, V({0x44, 0x33, 0x22, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"blob", Blob(blob, 5), 8, S_OK, 0, V({1, 2, 3, 4, 5, 0, 0, 0})},
        {"odd number of digits", Str(L"01 020"), 8, E_INVALIDARG, IDS_BAD_HEX_DATA, {}},
        {"not a hex digit", Str(L"0g"), 8, E_INVALIDARG, IDS_BAD_HEX_DATA, {}},
        {"a tab is not a blank", Str(L"01\t02"), 8, E_INVALIDARG, IDS_BAD_HEX_DATA, {}},
        {"longer text: its first bytes", Str(L"01 02 03 04 05"), 4, S_OK, 0, V({1, 2, 3, 4})},
        {"longer blob: its first bytes", Blob(blob, 5), 4, S_OK, 0, V({1, 2, 3, 4})},
        {"bad hex beyond the count is still refused", Str(L"01020304zz"), 4, E_INVALIDARG, IDS_BAD_HEX_DATA, {}},
        {"i8 is not a data type", I8(1), 4, PE_INVALID_PARAM_TYPE, 0, {}},
        {"bool", Bool(true), 4, PE_INVALID_PARAM_TYPE, 0, {}},
        {"null", Null(), 4, PE_INVALID_PARAM_TYPE, 0, {}},
        {"r8", R8(1.0), 4, PE_INVALID_PARAM_TYPE, 0, {}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out{0xEE};
        UINT textId = 99;
        EXPECT_EQ(CParvel::CommandData(c.data, c.size, out, textId), c.code) << c.name;
        EXPECT_EQ(textId, c.textId) << c.name;
        if (c.code == S_OK)
            EXPECT_EQ(out, c.expected) << c.name;
        else
            EXPECT_EQ(out, V({0xEE})) << c.name << ": a refused conversion leaves the output alone";
    }
}

TEST(MifareKey, ReadsTheWholeTextInTheBaseOfItsPrefix)
{
    struct Case
    {
        tVariant key;
        HRESULT code;
        uint64_t value;
    };
    const Case cases[] = {
        {Null(), S_OK, 0x3C7A91E5B20DULL},
        {Empty(), S_OK, 0x3C7A91E5B20DULL},
        {Str(L"0x3C7A91E5B20D"), S_OK, 0x3C7A91E5B20DULL},
        {Str(L"0xffffffffffff"), S_OK, 0xFFFFFFFFFFFFULL},
        {Str(L"0b101"), S_OK, 5},
        {Str(L"017"), S_OK, 15},
        {Str(L"15"), S_OK, 15},
        {Str(L"0"), S_OK, 0},
        {UI8(0xA0A1A2A3A4A5ULL), S_OK, 0xA0A1A2A3A4A5ULL},
        {Str(L"zz"), E_INVALIDARG, 0},
        {Str(L""), E_INVALIDARG, 0},
        {Str(L"0x"), E_INVALIDARG, 0},
        {Str(L"0X12"), E_INVALIDARG, 0},  // the prefixes are lower case only
        {Str(L"0b102"), E_INVALIDARG, 0},
        {Str(L"09"), E_INVALIDARG, 0},    // octal
        {Str(L"12abc"), E_INVALIDARG, 0}, // not cut short at the stray character
        {Str(L" 15"), E_INVALIDARG, 0},
        {Str(L"-1"), E_INVALIDARG, 0},
        {Str(L"0x1000000000000"), E_INVALIDARG, 0}, // beyond 48 bits
        {Str(L"99999999999999999999999"), E_INVALIDARG, 0},
        {UI8(0x1000000000000ULL), E_INVALIDARG, 0},
        {I4(15), E_INVALIDARG, 0},
        {Bool(true), E_INVALIDARG, 0},
    };
    for (const Case& c : cases) {
        uint64_t value = 0x77;
        const std::string name = c.key.vt == VTYPE_PWSTR ? testing::PrintToString(Text(c.key))
                                                         : "type " + std::to_string(c.key.vt);
        EXPECT_EQ(CParvel::MifareKey(c.key, value), c.code) << name;
        EXPECT_EQ(value, c.code == S_OK ? c.value : 0x77u) << name;
    }
}

// Method numbers of the command methods.
enum CommandMethod : long
{
    MReadMifareUL = 26,
    MWriteMifareUL = 27,
    MReadMifareC = 28,
    MWriteMifareC = 29,
    MGetCommandStatus = 30,
    MBreakCommand = 31,
    MGetCommandResult = 32,
    MGetKeyInfo = 33,
    MSignal = 34,
};

TEST_F(ComponentTest, CommandMethodsWithTooFewParametersFailTheCall)
{
    const std::pair<long, long> needed[] = {{MReadMifareUL, 5}, {MWriteMifareUL, 5}, {MReadMifareC, 11},
                                            {MWriteMifareC, 11}, {MGetCommandStatus, 3}, {MBreakCommand, 1},
                                            {MGetCommandResult, 4}, {MGetKeyInfo, 3}, {MSignal, 3}};
    for (const auto& m : needed) {
        std::vector<tVariant> params(static_cast<size_t>(m.second - 1), Str(L"COM1"));
        tVariant result = Empty();
        EXPECT_FALSE(c.Func(m.first, result, params)) << "method " << m.first;
        EXPECT_EQ(LastError(), E_INVALIDARG_CODE) << "method " << m.first;
        EXPECT_FALSE(c.CallAsFunc(m.first, &result, nullptr, m.second)) << "method " << m.first;
        std::vector<tVariant> enough(static_cast<size_t>(m.second), Str(L"COM1"));
        EXPECT_FALSE(c.CallAsFunc(m.first, nullptr, enough.data(), m.second)) << "method " << m.first;
    }
}

TEST_F(ComponentTest, CommandMethodsCheckTypesBeforeTheDevice)
{
    const tVariant dev = Str(L"COM199");
    const tVariant key = Str(L"0x3C7A91E5B20D");
    struct Case
    {
        const char* name;
        long method;
        std::vector<tVariant> params;
        long code;
    };
    const Case cases[] = {
        {"ReadMifareUL", MReadMifareUL, {dev, UI4(4), Empty(), UI4(1), UI4(0)}, NotOpened},
        {"ReadMifareUL device not text", MReadMifareUL, {I4(1), UI4(4), Empty(), UI4(1), UI4(0)}, PE_INVALID_PARAM_TYPE_CODE},
        {"ReadMifareUL page as text", MReadMifareUL, {dev, Str(L"4"), Empty(), UI4(1), UI4(0)}, PE_INVALID_PARAM_TYPE_CODE},
        {"ReadMifareUL time-out NULL", MReadMifareUL, {dev, UI4(4), Empty(), UI4(1), Null()}, PE_INVALID_PARAM_TYPE_CODE},
        {"WriteMifareUL count as bool", MWriteMifareUL, {dev, UI4(4), Str(L"00"), Bool(true), UI4(0)}, PE_INVALID_PARAM_TYPE_CODE},
        {"WriteMifareUL any data type", MWriteMifareUL, {dev, I2(4), R8(1), I8(1), UI1(0)}, NotOpened},
        {"ReadMifareC", MReadMifareC,
         {dev, UI4(1), UI4(0), Empty(), UI4(1), UI4(0), key, Bool(false), Bool(false), UI4(0), Empty()}, NotOpened},
        {"ReadMifareC options NULL", MReadMifareC,
         {dev, UI4(1), UI4(0), Null(), UI4(1), Null(), Null(), Null(), Null(), Null(), Null()}, NotOpened},
        {"ReadMifareC options empty", MReadMifareC,
         {dev, UI4(1), UI4(0), Empty(), UI4(1), Empty(), Empty(), Empty(), Empty(), Empty(), Empty()}, NotOpened},
        {"ReadMifareC key B as integer", MReadMifareC,
         {dev, UI4(1), UI4(0), Empty(), UI4(1), UI4(0), key, I4(1), Bool(false), UI4(0), Empty()},
         PE_INVALID_PARAM_TYPE_CODE},
        {"WriteMifareC block count NULL", MWriteMifareC,
         {dev, UI4(1), UI4(0), Str(L"00"), Null(), UI4(0), key, Bool(false), Bool(false), UI4(0), Empty()},
         PE_INVALID_PARAM_TYPE_CODE},
        {"WriteMifareC sector empty", MWriteMifareC,
         {dev, Empty(), UI4(0), Str(L"00"), UI4(1), UI4(0), key, Bool(false), Bool(false), UI4(0), Empty()},
         PE_INVALID_PARAM_TYPE_CODE},
        {"GetCommandStatus", MGetCommandStatus, {dev, Null(), Null(), I4(1), R8(2)}, NotOpened},
        {"GetCommandStatus device NULL", MGetCommandStatus, {Null(), Null(), Null()}, PE_INVALID_PARAM_TYPE_CODE},
        {"BreakCommand", MBreakCommand, {dev}, NotOpened},
        {"BreakCommand device integer", MBreakCommand, {UI4(1)}, PE_INVALID_PARAM_TYPE_CODE},
        {"GetCommandResult", MGetCommandResult, {dev, UI4(1), Null(), Null()}, NotOpened},
        {"GetCommandResult code NULL", MGetCommandResult, {dev, Null(), Null(), Null()}, PE_INVALID_PARAM_TYPE_CODE},
        {"GetKeyInfo", MGetKeyInfo, {dev, I4(0), Empty()}, NotOpened},
        {"GetKeyInfo index as text", MGetKeyInfo, {dev, Str(L"0"), Empty()}, PE_INVALID_PARAM_TYPE_CODE},
        {"Signal", MSignal, {dev, Str(L"1 500"), Bool(true)}, NotOpened},
        {"Signal without pattern", MSignal, {dev, Null(), Bool(true)}, NotOpened},
        {"Signal pattern empty", MSignal, {dev, Empty(), Bool(true)}, NotOpened},
        {"Signal flag empty", MSignal, {dev, Empty(), Empty()}, PE_INVALID_PARAM_TYPE_CODE},
        {"Signal pattern integer", MSignal, {dev, I4(1), Bool(true)}, PE_INVALID_PARAM_TYPE_CODE},
        {"Signal flag integer", MSignal, {dev, Null(), I4(1)}, PE_INVALID_PARAM_TYPE_CODE},
    };
    for (const Case& k : cases) {
        std::vector<tVariant> params = k.params;
        tVariant result = Empty();
        ASSERT_TRUE(c.Func(k.method, result, params)) << k.name;
        EXPECT_EQ(result.vt, VTYPE_BOOL) << k.name;
        EXPECT_FALSE(result.bVal) << k.name;
        EXPECT_EQ(LastError(), k.code) << k.name;
    }
}
