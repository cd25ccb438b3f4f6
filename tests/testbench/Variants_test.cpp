// Variant arrays and texts: every parse and display rule, and every block of the host's memory
// manager coming back exactly once.
#include "HostFixture.h"
#include "VariantHelpers.h"
#include <cstring>
#include <ctime>

namespace {

std::wstring Shown(const tVariant& v, const CTestParvel* host = nullptr)
{
    std::wstring text = L"stale";
    FormatVariant(text, v, host);
    return text;
}

tVariant Make(TYPEVAR type)
{
    tVariant v;
    std::memset(&v, 0, sizeof(v));
    v.vt = type;
    return v;
}

} // namespace

TEST(Variants, ParseRows)
{
    struct Row { int type; const wchar_t* text; TYPEVAR stored; const wchar_t* shown; };
    const Row rows[] = {
        {VTYPE_NULL, L"ignored", VTYPE_NULL, L""},
        {VTYPE_I2, L"-12abc", VTYPE_I4, L"-12"},
        {VTYPE_I4, L"  42", VTYPE_I4, L"42"},
        {VTYPE_I4, L"x", VTYPE_I4, L"0"},
        {VTYPE_BOOL, L"0", VTYPE_BOOL, L"false"},
        {VTYPE_BOOL, L"00", VTYPE_BOOL, L"true"},
        {VTYPE_BOOL, L"1", VTYPE_BOOL, L"true"},
        {VTYPE_BOOL, L"false", VTYPE_BOOL, L"true"},
        {VTYPE_BOOL, L"", VTYPE_BOOL, L"true"},
        {VTYPE_UI2, L"65536", VTYPE_UI4, L"65536 (0x10000)"},
        {VTYPE_UI4, L"4294967295", VTYPE_UI4, L"-1 (0xFFFFFFFF)"},
        {VTYPE_I8, L"-9000000000", VTYPE_I8, L"-9000000000"},
        {VTYPE_UI8, L"18446744073709551615", VTYPE_UI8, L"-1 (0xFFFFFFFFFFFFFFFF)"},
        {VTYPE_PWSTR, L"Привет, COM3", VTYPE_PWSTR, L"Привет, COM3"},
        {VTYPE_BLOB, L"0a 1B ff", VTYPE_BLOB, L"(3){0A1BFF}"},
        {VTYPE_BLOB, L"abc", VTYPE_BLOB, L"(1){AB}"},        // an odd last digit is dropped
        {VTYPE_BLOB, L"zz", VTYPE_BLOB, L"(1){33}"},         // other characters: code - 87, low 4 bits
        {VTYPE_BLOB, L"", VTYPE_BLOB, L"(0){}"},
    };
    CountingHost host;
    for (const Row& row : rows) {
        CVariantArray items(1, &host);
        items.Parse(0, row.type, row.text);
        EXPECT_EQ(items[0].vt, row.stored) << row.type << " " << WideToAnsi(row.text);
        EXPECT_EQ(Shown(items[0]), row.shown) << row.type << " " << WideToAnsi(row.text);
    }
    CVariantArray empty(1, &host);
    empty.Parse(0, VTYPE_BLOB, L" ");
    EXPECT_EQ(empty[0].bytes.ptr, nullptr);
    EXPECT_EQ(empty[0].bytes.len, 0u);
}

TEST(Variants, ParseOfTypesWithoutATextFormLeavesTheItem)
{
    CountingHost host;
    CVariantArray items(1, &host);
    for (int type : {0, 4, 5, 6, 7, 8, 9, 10, 12, 13, 14, 19, 20, 21, 24, 25, 300}) {
        items.SetI4(0, 7);
        items.Parse(0, type, L"5");
        EXPECT_EQ(items[0].vt, VTYPE_I4) << type;
        EXPECT_EQ(items[0].i32Val, 7) << type;
    }
}

TEST(Variants, EveryStoreReleasesWhatTheItemOwned)
{
    CountingHost host;
    {
        CVariantArray items(2, &host);
        items.SetWStr(0, L"first");
        items.Parse(0, VTYPE_NULL, L"");
        EXPECT_EQ(host.Live(), 0u);
        items.Parse(0, VTYPE_BLOB, L"0102");
        items.SetWStr(0, L"second");
        items.SetWStr(1, L"abcdef", 3);
        EXPECT_EQ(std::wstring(items[1].wstr.ptr), L"abc");
        EXPECT_EQ(items[1].wstr.len, 3u);
        items.SetBool(1, 2);
        EXPECT_EQ(items[1].vt, VTYPE_BOOL);
        EXPECT_TRUE(items[1].bVal);
        items.SetWStr(1, L"kept to the end");
        EXPECT_EQ(host.Live(), 2u);
    }
    EXPECT_EQ(host.Live(), 0u);
    EXPECT_EQ(host.Allocations(), 5);
    EXPECT_EQ(host.Frees(), 5);
    EXPECT_EQ(host.ForeignFrees(), 0);
}

TEST(Variants, RefusedMemory)
{
    CountingHost host;
    CVariantArray items(1, &host);
    items.SetWStr(0, L"before");
    host.RefuseMemory(true);
    EXPECT_THROW(items.SetWStr(0, L"text"), std::bad_alloc);
    EXPECT_EQ(items[0].vt, VTYPE_EMPTY);
    items.Parse(0, VTYPE_BLOB, L"0a0b");
    EXPECT_EQ(items[0].vt, VTYPE_BLOB);
    EXPECT_EQ(items[0].bytes.ptr, nullptr);
    EXPECT_EQ(items[0].bytes.len, 0u);
    host.RefuseMemory(false);
    EXPECT_EQ(host.Live(), 0u);

    CVariantArray unbound(1, nullptr);
    EXPECT_THROW(unbound.SetWStr(0, L"text"), std::bad_alloc);
}

TEST(Variants, FormatRows)
{
    struct Row { tVariant value; const wchar_t* shown; };
    std::vector<Row> rows;
    auto add = [&](tVariant v, const wchar_t* shown) { rows.push_back(Row{v, shown}); };
    tVariant v;
    v = Make(VTYPE_I2); v.i16Val = -3; add(v, L"-3");
    v = Make(VTYPE_I4); v.i32Val = -5; add(v, L"-5");
    v = Make(VTYPE_INT); v.i32Val = 2147483647; add(v, L"2147483647");
    v = Make(VTYPE_I1); v.i8Val = -1; add(v, L"-1");
    v = Make(VTYPE_UI1); v.ui8Val = 200; add(v, L"200 (0xC8)");
    v = Make(VTYPE_UI2); v.ui16Val = 65535; add(v, L"65535 (0xFFFF)");
    v = Make(VTYPE_UI4); v.ui32Val = 0xFFFFFFFF; add(v, L"-1 (0xFFFFFFFF)");
    v = Make(VTYPE_UINT); v.ui32Val = 16; add(v, L"16 (0x10)");
    v = Make(VTYPE_I8); v.i64Val = -9000000000LL; add(v, L"-9000000000");
    v = Make(VTYPE_UI8); v.ui64Val = 0x100000000ULL; add(v, L"4294967296 (0x100000000)");
    v = Make(VTYPE_R8); v.r8Val = 1.5; add(v, L"1.5");
    v = Make(VTYPE_R4); v.r4Val = 0.25f; add(v, L"0.25");
    v = Make(VTYPE_BOOL); v.ui8Val = 2; add(v, L"true");
    v = Make(VTYPE_BOOL); add(v, L"false");
    char ansi[] = "abc";
    v = Make(VTYPE_PSTR); v.bytes.ptr = ansi; v.bytes.len = 2; add(v, L"ab");
    wchar_t wide[] = L"COM3\\2";
    v = Make(VTYPE_PWSTR); v.wstr.ptr = wide; v.wstr.len = 6; add(v, L"COM3\\2");
    v = Make(VTYPE_PWSTR); v.wstr.ptr = wide; v.wstr.len = 3; add(v, L"COM");
    char bytes[] = {0x0A, static_cast<char>(0xFF)};
    v = Make(VTYPE_BLOB); v.bytes.ptr = bytes; v.bytes.len = 2; add(v, L"(2){0AFF}");
    v = Make(VTYPE_BLOB); add(v, L"(0){}");
    // Broken values: a null pointer with a length shows no text instead of reading through null.
    v = Make(VTYPE_PSTR); v.bytes.len = 5; add(v, L"");
    v = Make(VTYPE_PWSTR); v.wstr.len = 5; add(v, L"");
    v = Make(VTYPE_BLOB); v.bytes.len = 5; add(v, L"");
    for (int type : {0, 1, 10, 12, 24, 99}) {
        v = Make(static_cast<TYPEVAR>(type)); v.i32Val = 1; add(v, L"");
    }
    for (const Row& row : rows)
        EXPECT_EQ(Shown(row.value), row.shown) << "type " << row.value.vt;
}

TEST(Variants, FormatOfDatesInterfacesAndResults)
{
    tVariant v = Make(VTYPE_DATE);
    v.dateVal = 36526.5; // 1 January 2000, noon
    struct tm day = {};
    day.tm_mday = 1;
    day.tm_year = 100;
    day.tm_wday = 6;
    wchar_t expected[64];
    wcsftime(expected, 64, L"%x", &day);
    EXPECT_EQ(Shown(v), expected);
    EXPECT_FALSE(Shown(v).empty());
    v.dateVal = 1e300; // beyond every calendar
    EXPECT_EQ(Shown(v), L"");
    v = Make(VTYPE_TM);
    v.tmVal = day;
    EXPECT_EQ(Shown(v), expected);

    v = Make(VTYPE_INTERFACE);
    v.iface.ptr = reinterpret_cast<void*>(0x1234);
    EXPECT_NE(Shown(v).find(L"1234"), std::wstring::npos);

    v = Make(VTYPE_HRESULT);
    v.hresVal = static_cast<int32_t>(0x80070002);
    EXPECT_EQ(Shown(v), L"0x80070002: \"\""); // no host: no text
    CTestParvel host;
    MessageLanguage english(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT));
    std::wstring withText = Shown(v, &host);
    EXPECT_EQ(withText.compare(0, 13, L"0x80070002: \""), 0);
    EXPECT_GT(withText.size(), 15u);
    // Codes of the interface facility come from the message table of the add-in's module.
    v.hresVal = static_cast<int32_t>(0x80040202);
    const std::wstring start = L"0x80040202: \"Invalid parameter type.";
    EXPECT_EQ(Shown(v, &host).compare(0, start.size(), start), 0) << WideToAnsi(Shown(v, &host));
}
