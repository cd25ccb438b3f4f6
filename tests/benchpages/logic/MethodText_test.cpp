// Default argument texts, the methods list's default-parameters column and Execute's output.
#include "MethodText.h"
#include "ModuleState.h"
#include "VariantHelpers.h"
#include <gtest/gtest.h>

namespace {

tVariant UI4(uint32_t v) { tVariant t{}; t.vt = VTYPE_UI4; t.ui32Val = v; return t; }
tVariant I4(int32_t v) { tVariant t{}; t.vt = VTYPE_I4; t.i32Val = v; return t; }
tVariant Bool(bool v) { tVariant t{}; t.vt = VTYPE_BOOL; t.bVal = v; return t; }
tVariant Null() { tVariant t{}; t.vt = VTYPE_NULL; return t; }
tVariant Str(const wchar_t* s)
{
    tVariant t{};
    t.vt = VTYPE_PWSTR;
    t.wstr.ptr = const_cast<wchar_t*>(s);
    t.wstr.len = static_cast<uint32_t>(wcslen(s));
    return t;
}

// The defaults of ReadMifareC's parameters 5-10 as the add-in gives them.
std::vector<std::pair<int, tVariant>> ReadMifareCDefaults()
{
    return {{5, UI4(0)}, {6, Str(L"0x3C7A91E5B20D")}, {7, Bool(false)}, {8, Bool(false)}, {9, UI4(0xFFFFFFFF)},
            {10, Null()}};
}

bool English() { return PRIMARYLANGID(LANGIDFROMLCID(MessageLcid)) == LANG_ENGLISH; }

} // namespace

TEST(MethodText, ReadMifareCDefaultParametersText)
{
    std::vector<ParamDefault> defaults;
    for (const auto& d : ReadMifareCDefaults()) {
        ParamDefault p;
        p.index = d.first;
        p.type = d.second.vt;
        FormatVariant(p.text, d.second, nullptr);
        defaults.push_back(p);
    }
    EXPECT_EQ(L"5=0 (0x0)(UI4), 6=0x3C7A91E5B20D(PWSTR), 7=false(BOOL), 8=false(BOOL), 9=-1 (0xFFFFFFFF)(UI4), "
              L"10=(NULL)",
              DefaultParamsText(defaults));
    EXPECT_EQ(L"", DefaultParamsText({}));
    ParamDefault odd;
    odd.type = 30;
    EXPECT_EQ(L"0=(?)", DefaultParamsText({odd}));
}

TEST(MethodText, ReadMifareCDefaultArgumentTexts)
{
    const wchar_t* const expected[] = {L"0", L"0x3C7A91E5B20D", L"0", L"0", L"-1", L""};
    size_t i = 0;
    for (const auto& d : ReadMifareCDefaults()) {
        uint16_t type = 99;
        std::wstring text = L"old";
        DefaultArgumentText(d.second, type, text);
        EXPECT_EQ(d.second.vt, type);
        EXPECT_EQ(expected[i++], text) << d.first;
    }
    // The texts parse back into the same values.
    CVariantArray args(2, nullptr);
    args.Parse(0, VTYPE_UI4, L"-1");
    EXPECT_EQ(VTYPE_UI4, args[0].vt);
    EXPECT_EQ(0xFFFFFFFFu, args[0].ui32Val);
    args.Parse(1, VTYPE_BOOL, L"0");
    EXPECT_FALSE(args[1].bVal);

    uint16_t type;
    std::wstring text;
    char bytes[3] = {0x0A, 0x1B, static_cast<char>(0xFF)};
    tVariant blob{};
    blob.vt = VTYPE_BLOB;
    blob.bytes.ptr = bytes;
    blob.bytes.len = 3;
    DefaultArgumentText(blob, type, text);
    EXPECT_EQ(L"0A1BFF", text);
    tVariant i8{};
    i8.vt = VTYPE_UI8;
    i8.ui64Val = ~0ull;
    DefaultArgumentText(i8, type, text);
    EXPECT_EQ(L"-1", text);
    DefaultArgumentText(I4(-5), type, text);
    EXPECT_EQ(L"-5", text);
    tVariant r8{};
    r8.vt = VTYPE_R8;
    r8.r8Val = 1.5;
    DefaultArgumentText(r8, type, text);
    EXPECT_EQ(VTYPE_R8, type);
    EXPECT_EQ(L"", text);
}

TEST(MethodText, OutputLineTimeStamp)
{
    SYSTEMTIME t{};
    t.wHour = 9;
    t.wMinute = 5;
    t.wSecond = 3;
    t.wMilliseconds = 7;
    EXPECT_EQ(L"09:05:03.  7 Call...\r\n", OutputLine(t, L"Call..."));
    t.wMilliseconds = 123;
    EXPECT_EQ(L"09:05:03.123 x\r\n", OutputLine(t, L"x"));
}

TEST(MethodText, ExecuteLinesOfAFunctionWithTwoParameters)
{
    if (!English())
        GTEST_SKIP() << "English texts";
    tVariant result = Bool(true);
    tVariant params[2] = {Str(L"COM41"), I4(3)};
    std::vector<std::wstring> lines = ExecuteResultLines(true, result, params, 2, nullptr);
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ(L"Successfully.", lines[0]);
    EXPECT_EQ(L"Result: (BOOL) \"true\"", lines[1]);
    EXPECT_EQ(L"Argument Output values:", lines[2]);
    EXPECT_EQ(L"[0] (PWSTR): \"COM41\"", lines[3]);
    EXPECT_EQ(L"[1] (I4): \"3\"", lines[4]);
    // An error text handed out keeps no line break before its closing quote.
    tVariant error = Str(L"Port busy.\r\n");
    lines = ExecuteResultLines(false, result, &error, 1, nullptr);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(L"[0] (PWSTR): \"Port busy.\"", lines[2]);

    // A procedure without parameters writes only "Successfully.".
    lines = ExecuteResultLines(false, result, nullptr, 0, nullptr);
    ASSERT_EQ(1u, lines.size());
    // A type code beyond the table has an empty name.
    tVariant odd{};
    odd.vt = 40;
    lines = ExecuteResultLines(true, odd, nullptr, 0, nullptr);
    EXPECT_EQ(L"Result: () \"\"", lines[1]);
}

TEST(MethodText, RussianExecuteLines)
{
    if (PRIMARYLANGID(LANGIDFROMLCID(MessageLcid)) != LANG_RUSSIAN)
        GTEST_SKIP() << "Russian texts";
    tVariant result = I4(1);
    std::vector<std::wstring> lines = ExecuteResultLines(true, result, nullptr, 0, nullptr);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(L"Результат: (I4) \"1\"", lines[1]);
}

TEST(MethodText, BlobTextIsHexadecimalPairsOnly)
{
    for (const wchar_t* text : {L"", L"0A", L"0aff", L"0A FF", L" 01 02 03 ", L"DEADbeef"})
        EXPECT_TRUE(IsBlobText(text)) << text;
    // What would otherwise be sent as bytes nobody wrote.
    for (const wchar_t* text : {L"zz-not-hex", L"0", L"0A F", L"0x0A", L"0A,FF", L"\x0410\x0411"})
        EXPECT_FALSE(IsBlobText(text)) << text;
}
