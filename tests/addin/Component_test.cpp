// The component's tables and its error convention, all through the slots: names in both languages,
// parameter counts, default values, properties with their type and range checks, the argument-type
// checks of every method, which failures fail the call, and exceptions inside a method.
#include "ComponentFixture.h"
#include "ModuleState.h"
#include <cstring>

using namespace slothost;

namespace {

struct MethodRow
{
    long Number;
    const wchar_t* English;
    const wchar_t* Russian;
    long Params;
    bool Returns;
};

const MethodRow MethodTable[] = {
    {0, L"GetVersion", L"ПолучитьНомерВерсии", 0, true},
    {1, L"GetDescription", L"ПолучитьОписание", 7, true},
    {2, L"GetLastError", L"ПолучитьОшибку", 1, true},
    {3, L"GetParameters", L"ПолучитьПараметры", 1, true},
    {4, L"SetParameter", L"УстановитьПараметр", 2, true},
    {5, L"Open", L"Подключить", 1, true},
    {6, L"Close", L"Отключить", 1, true},
    {7, L"DeviceTest", L"ТестУстройства", 2, true},
    {8, L"GetAdditionalActions", L"ПолучитьДополнительныеДействия", 1, true},
    {9, L"DoAdditionalAction", L"ВыполнитьДополнительноеДействие", 1, true},
    {10, L"GetStatus", L"ПолучитьСостояние", 1, true},
    {11, L"Reconnect", L"Переподключиться", 1, true},
    {12, L"GetReaderInfo", L"ПолучитьИнфоСчитывателя", 5, true},
    {13, L"LoadSettings", L"ЗагрузитьНастройки", 1, false},
    {14, L"SaveSettings", L"СохранитьНастройки", 1, false},
    {15, L"FindFormat", L"НайтиФормат", 1, true},
    {16, L"GetFormat", L"ПолучитьФормат", 7, true},
    {17, L"SetFormat", L"УстановитьФормат", 7, true},
    {18, L"InsertFormat", L"ВставитьФормат", 7, true},
    {19, L"DeleteFormat", L"УдалитьФормат", 1, true},
    {20, L"ClearFormats", L"ОчиститьФорматы", 0, true},
    {21, L"CheckFormat", L"ПроверитьФормат", 3, true},
    {22, L"Format", L"Форматировать", 5, true},
    {23, L"ClearLog", L"ОчиститьЛог", 0, true},
    {24, L"FindNext", L"НайтиСледующий", 6, true},
    {25, L"FindClose", L"ЗавершитьПоиск", 0, true},
    {26, L"ReadMifareUL", L"ЧитатьMifareUL", 5, true},
    {27, L"WriteMifareUL", L"ПисатьMifareUL", 5, true},
    {28, L"ReadMifareC", L"ЧитатьMifareC", 11, true},
    {29, L"WriteMifareC", L"ПисатьMifareC", 11, true},
    {30, L"GetCommandStatus", L"ПолучитьСостояниеКоманды", 5, true},
    {31, L"BreakCommand", L"ПрерватьКоманду", 1, true},
    {32, L"GetCommandResult", L"ПолучитьРезультатКоманды", 4, true},
    {33, L"GetKeyInfo", L"ПолучитьИнфоКлюча", 3, true},
    {34, L"Signal", L"Сигнализировать", 3, true},
};

struct PropRow
{
    long Number;
    const wchar_t* English;
    const wchar_t* Russian;
    bool Writable;
};

const PropRow PropTable[] = {
    {0, L"Model", L"Модель", true},
    {1, L"Port", L"Порт", true},
    {2, L"Speed", L"Скорость", true},
    {3, L"StopBits", L"СтоповыеБиты", true},
    {4, L"ConnectTimeout", L"ТаймаутПодключения", true},
    {5, L"ConnectPeriod", L"ПериодПодключения", true},
    {6, L"RxPeriod", L"ПериодПроверкиПорта", true},
    {7, L"ReqTimeout", L"ТаймаутЗапроса", true},
    {8, L"ReqTries", L"ПопытокЗапроса", true},
    {9, L"Wiegand", L"Виганд", true},
    {10, L"BinaryMode", L"БинарныйРежим", true},
    {11, L"CorrectVM100", L"КорректировкаVM100", true},
    {12, L"Prefix", L"Префикс", true},
    {13, L"Suffix", L"Суффикс", true},
    {14, L"Log", L"Лог", true},
    {15, L"LogFlags", L"ФлагиЛога", true},
    {16, L"SearchFlags", L"ФлагиПоиска", true},
    {17, L"FindIpTimeout", L"ТаймаутПоискаIP", true},
    {18, L"FindIpTries", L"ПопытокПоискаIP", true},
    {19, L"FormatCount", L"КоличествоФорматов", false},
    {20, L"LastKeyType", L"ТипПоследнегоКлюча", false},
    {21, L"LastKeyNum", L"НомерПоследнегоКлюча", false},
    {22, L"SoundEnabled", L"ЗвукВключен", true},
    {23, L"SoundTransfer", L"ЗвукПередачи", true},
    {24, L"SoundTransferError", L"ЗвукОшибкиПередачи", true},
    {25, L"SoundConnections", L"ЗвукПодключения", true},
    {26, L"SoundDisconnections", L"ЗвукОтключения", true},
};

std::wstring Name(const WCHAR_T* s)
{
    return s ? std::wstring(s) : std::wstring(L"<null>");
}

} // namespace

TEST_F(ComponentTest, MethodTableInBothLanguages)
{
    ASSERT_EQ(c.GetNMethods(), 35);
    for (const MethodRow& row : MethodTable) {
        SCOPED_TRACE(testing::Message() << "method " << row.Number);
        EXPECT_EQ(c.FindMethod(row.English), row.Number);
        EXPECT_EQ(c.FindMethod(row.Russian), row.Number);
        EXPECT_EQ(Name(c.GetMethodName(row.Number, 0)), row.English);
        EXPECT_EQ(Name(c.GetMethodName(row.Number, 1)), row.Russian);
        EXPECT_EQ(c.GetNParams(row.Number), row.Params);
        EXPECT_EQ(c.HasRetVal(row.Number), row.Returns);
    }
    // Names compare exactly; numbers and aliases outside the tables give nothing.
    EXPECT_EQ(c.FindMethod(L"open"), -1);
    EXPECT_EQ(c.FindMethod(L"Open "), -1);
    EXPECT_EQ(c.FindMethod(L""), -1);
    for (long n : {-1L, 35L, 1000L}) {
        EXPECT_EQ(c.GetMethodName(n, 0), nullptr);
        EXPECT_EQ(c.GetNParams(n), 0);
        EXPECT_FALSE(c.HasRetVal(n));
    }
    EXPECT_EQ(c.GetMethodName(5, 2), nullptr);
    EXPECT_EQ(c.GetMethodName(5, -1), nullptr);
}

TEST_F(ComponentTest, PropertyTableInBothLanguages)
{
    ASSERT_EQ(c.GetNProps(), 27);
    for (const PropRow& row : PropTable) {
        SCOPED_TRACE(testing::Message() << "property " << row.Number);
        EXPECT_EQ(c.FindProp(row.English), row.Number);
        EXPECT_EQ(c.FindProp(row.Russian), row.Number);
        EXPECT_EQ(Name(c.GetPropName(row.Number, 0)), row.English);
        EXPECT_EQ(Name(c.GetPropName(row.Number, 1)), row.Russian);
        EXPECT_TRUE(c.IsPropReadable(row.Number));
        EXPECT_EQ(c.IsPropWritable(row.Number), row.Writable);
    }
    EXPECT_EQ(c.FindProp(L"model"), -1);
    for (long n : {-1L, 27L}) {
        EXPECT_EQ(c.GetPropName(n, 0), nullptr);
        EXPECT_FALSE(c.IsPropReadable(n));
        EXPECT_FALSE(c.IsPropWritable(n));
        tVariant v = I4(5);
        EXPECT_FALSE(c.GetPropVal(n, &v));
        EXPECT_FALSE(c.SetPropVal(n, &v));
    }
    EXPECT_EQ(c.GetPropName(0, 2), nullptr);
}

TEST_F(ComponentTest, NamesNeedTheMemoryManager)
{
    memory.Refuse = true;
    EXPECT_EQ(c.GetMethodName(0, 0), nullptr);
    EXPECT_EQ(c.GetPropName(0, 0), nullptr);
    WCHAR_T* name = nullptr;
    EXPECT_FALSE(c.RegisterExtensionAs(&name));
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0].Status, E_FAIL_CODE);
    memory.Refuse = false;
    EXPECT_TRUE(c.RegisterExtensionAs(&name));
    EXPECT_EQ(Name(name), L"ParvelExtension");
    EXPECT_FALSE(c.RegisterExtensionAs(nullptr));
}

TEST_F(ComponentTest, DefaultValuesOfParameters)
{
    struct Default
    {
        long Method;
        long Param;
        tVariant Value;
    };
    const Default defaults[] = {
        {13, 0, UI4(3)},           {14, 0, UI4(3)},
        {16, 1, Null()},           {16, 2, Null()},          {16, 3, Null()},
        {16, 4, Null()},           {16, 5, Null()},          {16, 6, Null()},
        {17, 1, Null()},           {17, 2, Null()},          {17, 3, Null()},
        {17, 4, Null()},           {17, 5, Null()},          {17, 6, Null()},
        {18, 4, UI4(0)},           {18, 5, I4(0)},           {18, 6, Null()},
        {21, 2, Null()},           {24, 5, UI4(0xFFFFFFFF)},
        {26, 4, UI4(0xFFFFFFFF)},  {27, 4, UI4(0xFFFFFFFF)},
        {28, 5, UI4(0)},           {28, 6, Str(L"0x3C7A91E5B20D")},
        {28, 7, Bool(false)},      {28, 8, Bool(false)},     {28, 9, UI4(0xFFFFFFFF)}, {28, 10, Null()},
        {29, 5, UI4(0)},           {29, 6, Str(L"0x3C7A91E5B20D")},
        {29, 7, Bool(false)},      {29, 8, Bool(false)},     {29, 9, UI4(0xFFFFFFFF)}, {29, 10, Null()},
        {30, 1, Null()},           {30, 2, Null()},          {30, 3, Null()},          {30, 4, Null()},
        {32, 2, Null()},           {32, 3, Null()},
        {34, 1, Null()},           {34, 2, Bool(true)},
    };
    for (long method = -1; method <= 35; ++method) {
        for (long param = -1; param <= 12; ++param) {
            SCOPED_TRACE(testing::Message() << "method " << method << " parameter " << param);
            const Default* expected = nullptr;
            for (const Default& d : defaults)
                if (d.Method == method && d.Param == param)
                    expected = &d;
            tVariant v = I4(77);
            bool has = c.GetParamDefValue(method, param, &v);
            if (!expected) {
                EXPECT_FALSE(has);
                EXPECT_EQ(v.vt, VTYPE_EMPTY);
                continue;
            }
            EXPECT_TRUE(has);
            ASSERT_EQ(v.vt, expected->Value.vt);
            if (v.vt == VTYPE_PWSTR) {
                EXPECT_EQ(Text(v), Text(expected->Value));
            } else if (v.vt == VTYPE_BOOL) {
                EXPECT_EQ(v.bVal, expected->Value.bVal);
            } else if (v.vt != VTYPE_NULL) {
                EXPECT_EQ(v.ui32Val, expected->Value.ui32Val);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Properties

TEST_F(ComponentTest, PropertiesOfAFreshComponent)
{
    struct Expect
    {
        long Number;
        TYPEVAR Type;
        uint32_t Value;
    };
    const Expect values[] = {
        {0, VTYPE_I4, 0},       {2, VTYPE_UI4, 0},         {3, VTYPE_UI1, 0},      {4, VTYPE_UI4, 10000},
        {5, VTYPE_UI4, 3000},   {6, VTYPE_UI4, 0xFFFFFFFF}, {7, VTYPE_UI4, 3000},  {8, VTYPE_I4, 2},
        {9, VTYPE_BOOL, 0},     {10, VTYPE_BOOL, 1},       {11, VTYPE_BOOL, 1},    {12, VTYPE_I4, 0xFFFFFFFF},
        {13, VTYPE_I4, 13},     {14, VTYPE_BOOL, 0},       {15, VTYPE_UI4, 7},     {16, VTYPE_UI4, 14},
        {17, VTYPE_UI4, 3000},  {18, VTYPE_I4, 1},         {19, VTYPE_I4, 1},      {20, VTYPE_UI4, 0},
        {22, VTYPE_BOOL, 0},
    };
    for (const Expect& e : values) {
        SCOPED_TRACE(testing::Message() << "property " << e.Number);
        tVariant v = Prop(e.Number);
        ASSERT_EQ(v.vt, e.Type);
        uint32_t got = e.Type == VTYPE_BOOL ? v.bVal : e.Type == VTYPE_UI1 ? v.ui8Val : v.ui32Val;
        EXPECT_EQ(got, e.Value);
    }
    tVariant port = Prop(1);
    ASSERT_EQ(port.vt, VTYPE_PWSTR);
    EXPECT_EQ(Text(port), L"Auto");
    EXPECT_EQ(port.wstr.ptr[port.wstr.len], L'\0');
    tVariant key = Prop(21); // no key read yet: an empty byte array
    EXPECT_EQ(key.vt, VTYPE_BLOB);
    EXPECT_EQ(key.bytes.len, 0u);
    for (long n = 23; n <= 26; ++n) {
        tVariant s = Prop(n);
        EXPECT_EQ(s.vt, VTYPE_PWSTR);
        EXPECT_EQ(Text(s), L"");
    }
}

TEST_F(ComponentTest, PropertiesTakeTheirTypesAndRanges)
{
    struct Case
    {
        long Number;
        tVariant Value;
        bool Accepted;
        long Error;      // last error after a refusal (0: none)
        uint32_t ReadBack; // for accepted integers and booleans
    };
    const Case cases[] = {
        {0, Bool(true), false, 0, 0},           // wrong type: silent
        {0, I4(10), false, PE_INDEX_OUT_OF_RANGE_CODE, 0},
        {0, I4(9), true, 0, 9},
        {0, UI8(0x100000003ULL), true, 0, 3},   // the low 32 bits
        {0, R8(1.0), false, 0, 0},
        {2, UI2(57600), true, 0, 57600},
        {3, I4(258), true, 0, 2},                // stored whole, read as its low byte
        {4, I2(-1), true, 0, 0xFFFFFFFF},        // sign-extended
        {5, I1(-2), true, 0, 0xFFFFFFFE},
        {6, UI1(200), true, 0, 200},
        {7, Int(1500), true, 0, 1500},
        {8, UInt(5), true, 0, 5},
        {8, Str(L"5"), false, 0, 0},
        {9, Bool(true), true, 0, 1},
        {9, I4(1), false, 0, 0},                 // booleans take exactly VTYPE_BOOL
        {10, Bool(false), true, 0, 0},
        {11, Bool(false), true, 0, 0},
        {12, I4(-1), true, 0, 0xFFFFFFFF},
        {12, I4(127), true, 0, 127},
        {12, I4(128), false, PE_INDEX_OUT_OF_RANGE_CODE, 0},
        {13, I4(-2), false, PE_INDEX_OUT_OF_RANGE_CODE, 0},
        {13, I8(10), true, 0, 10},
        {14, UI4(1), false, 0, 0},
        {15, UI4(0), true, 0, 0},
        {16, UI4(0x1F), true, 0, 0x1F},
        {17, UI4(500), true, 0, 500},
        {18, I4(3), true, 0, 3},
        {19, I4(3), false, 0, 0},                // read-only: no error
        {20, UI4(3), false, 0, 0},
        {21, Bool(true), false, 0, 0},
        {22, Bool(true), true, 0, 1},
        {22, I4(1), false, 0, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "property " << k.Number << " type " << k.Value.vt);
        object->SetLastError(S_OK);
        host.Errors.clear();
        tVariant before = Prop(k.Number);
        tVariant v = k.Value;
        EXPECT_EQ(c.SetPropVal(k.Number, &v), k.Accepted);
        EXPECT_EQ(LastError(), k.Error);
        if (k.Error) {
            ASSERT_EQ(host.Errors.size(), 1u);
            EXPECT_EQ(host.Errors[0].Code, 1004);
            EXPECT_EQ(host.Errors[0].Source, L"Parvel");
            EXPECT_EQ(host.Errors[0].Status, k.Error);
        } else {
            EXPECT_TRUE(host.Errors.empty());
        }
        tVariant after = Prop(k.Number);
        EXPECT_EQ(after.vt, before.vt);
        if (!k.Accepted) {
            EXPECT_EQ(after.ui64Val, before.ui64Val) << "a refused value changed the property";
        } else {
            uint32_t got = after.vt == VTYPE_BOOL ? after.bVal : after.vt == VTYPE_UI1 ? after.ui8Val : after.ui32Val;
            EXPECT_EQ(got, k.ReadBack);
        }
    }
}

TEST_F(ComponentTest, ConnectionFlagsThroughProperties)
{
    tVariant on = Bool(true), off = Bool(false);
    ASSERT_TRUE(c.SetPropVal(11, &on)); // CorrectVM100 on clears bit 2
    EXPECT_EQ(object->WorkingConnection().Flags & SETTINGS_FLAG_NO_CORRECT_VM100, 0u);
    ASSERT_TRUE(c.SetPropVal(11, &off));
    EXPECT_NE(object->WorkingConnection().Flags & SETTINGS_FLAG_NO_CORRECT_VM100, 0u);
    EXPECT_FALSE(Prop(11).bVal);
    ASSERT_TRUE(c.SetPropVal(9, &on));
    ASSERT_TRUE(c.SetPropVal(10, &off));
    EXPECT_EQ(object->WorkingConnection().Flags, SETTINGS_FLAG_WIEGAND | SETTINGS_FLAG_NO_CORRECT_VM100);
    // The working record changes; the loaded one stays as loaded.
    EXPECT_EQ(object->LoadedConnection().Flags, SETTINGS_FLAG_BINARY);
}

TEST_F(ComponentTest, TextPropertiesTakeOnlyWideText)
{
    tVariant port = Str(L"COM12");
    ASSERT_TRUE(c.SetPropVal(1, &port));
    EXPECT_EQ(Text(Prop(1)), L"COM12");
    tVariant number = I4(3);
    EXPECT_FALSE(c.SetPropVal(1, &number));
    EXPECT_EQ(Text(Prop(1)), L"COM12");
    // A text with a null pointer is empty, whatever its length says.
    tVariant broken = Var(VTYPE_PWSTR);
    broken.wstr.len = 5;
    ASSERT_TRUE(c.SetPropVal(1, &broken));
    EXPECT_EQ(Text(Prop(1)), L"");
    tVariant sound = Str(L"C:\\sounds\\ok.wav");
    ASSERT_TRUE(c.SetPropVal(23, &sound));
    EXPECT_EQ(Text(Prop(23)), L"C:\\sounds\\ok.wav");
    EXPECT_EQ(Text(Prop(24)), L"");
}

TEST_F(ComponentTest, PropertyTextsNeedTheMemoryManager)
{
    memory.Refuse = true;
    tVariant v = Empty();
    EXPECT_FALSE(c.GetPropVal(1, &v));
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0].Status, E_FAIL_CODE);
    memory.Refuse = false;
    EXPECT_EQ(LastError(), E_FAIL_CODE);
}

// ---------------------------------------------------------------------------------------------
// Argument checks

namespace {

struct CheckRow
{
    long Method;
    std::vector<tVariant> Valid; // arguments of the right types
    long ValidError;             // the last error with them (0: the result is true)
    std::vector<std::pair<long, tVariant>> Wrong; // index and a value of a wrong type
    std::vector<std::pair<long, tVariant>> Fine;  // index and another value that passes the check
};

const wchar_t* const Dev = L"COM3";
const uint8_t KeyBytes[] = {0x39, 0x30, 0x7B};
const char NarrowBytes[] = "\x39\x30\x7B";

std::vector<CheckRow> CheckRows()
{
    const long NotOpened = static_cast<long>(0x80040233);
    const long NoMoreReaders = static_cast<long>(0x80040231);
    tVariant pstr = Var(VTYPE_PSTR);
    pstr.bytes.ptr = const_cast<char*>(NarrowBytes);
    pstr.bytes.len = 3;
    return {
        {11, {Str(Dev)}, NotOpened, {{0, I4(1)}, {0, Null()}}, {}},
        {31, {Str(Dev)}, NotOpened, {{0, Bool(true)}}, {}},
        {12, {Str(Dev), Empty(), Empty(), Empty(), Empty()}, NotOpened, {{0, UI4(1)}}, {{1, R8(1)}}},
        {16, {I4(0), Empty(), Empty(), Empty(), Empty(), Empty(), Empty()}, 0,
         {{0, R8(0)}, {0, Str(L"0")}, {0, Empty()}, {0, Null()}}, {{0, UI8(0)}, {0, I1(0)}, {3, R8(1)}}},
        {17, {I4(0), Null(), Null(), Null(), Null(), Null(), Null()}, 0,
         {{0, R8(0)}, {0, Null()}, {1, I4(1)}, {2, I4(1)}, {3, I4(1)}, {4, R8(1)}, {5, Bool(true)}, {6, I4(1)}},
         {{4, UI8(1)}, {5, I2(1)}}},
        {18, {I4(0), Str(L"New"), Str(L"%u"), Str(L"b0"), UI4(0), I4(0), Null()}, 0,
         {{0, R8(0)}, {1, Null()}, {2, Null()}, {3, Null()}, {4, Null()}, {5, Null()}, {6, I4(1)}},
         {{6, Str(L"comment")}}},
        {19, {I4(5)}, PE_INDEX_OUT_OF_RANGE_CODE, {{0, Empty()}, {0, Bool(true)}, {0, R8(0)}}, {{0, UI8(5)}}},
        {21, {Str(L"%u"), Str(L"b0"), Empty()}, 0, {{0, I4(1)}, {1, I4(1)}, {0, Null()}}, {{2, Bool(true)}}},
        {22, {Empty(), Str(L"%u"), Str(L"b0"), UI4(1), Blob(KeyBytes, 3)}, 0,
         {{1, I4(1)}, {2, I4(1)}, {3, R8(1)}, {4, I4(1)}, {4, Str(L"39")}}, {{4, pstr}, {0, R8(1)}}},
        // No reader to find here (no adapters, no network search): the search ends at once.
        {24, {Empty(), Empty(), Empty(), Empty(), Empty(), UI4(0)}, NoMoreReaders, {{5, R8(1)}, {5, Empty()}},
         {{0, R8(1)}}},
        {26, {Str(Dev), UI4(4), Empty(), UI4(1), UI4(0)}, NotOpened,
         {{0, I4(1)}, {1, R8(1)}, {3, R8(1)}, {4, R8(1)}, {4, Null()}}, {{2, R8(1)}}},
        {27, {Str(Dev), UI4(4), Empty(), UI4(1), UI4(0)}, NotOpened,
         {{0, I4(1)}, {1, R8(1)}, {3, Str(L"1")}, {4, R8(1)}}, {{2, Str(L"01 02")}}},
        {28, {Str(Dev), UI4(0), UI4(1), Empty(), UI4(1), UI4(0), Empty(), Bool(false), Bool(false), UI4(0), Empty()},
         NotOpened,
         {{0, I4(1)}, {1, R8(1)}, {2, R8(1)}, {4, R8(1)}, {5, R8(1)}, {7, I4(1)}, {8, I4(0)}, {9, R8(1)},
          {1, Null()}, {4, Null()}},
         {{5, Null()}, {6, Null()}, {7, Null()}, {8, Null()}, {9, Null()}, {10, Null()}, {6, UI8(1)}}},
        {29, {Str(Dev), UI4(0), UI4(1), Empty(), UI4(1), UI4(0), Empty(), Bool(false), Bool(false), UI4(0), Empty()},
         NotOpened, {{0, I4(1)}, {2, Str(L"1")}, {7, UI1(1)}}, {{9, Null()}}},
        {30, {Str(Dev), Empty(), Empty()}, NotOpened, {{0, I4(1)}, {0, Null()}}, {{1, Null()}, {2, R8(1)}}},
        {32, {Str(Dev), UI4(1), Empty(), Empty()}, NotOpened, {{0, I4(1)}, {1, R8(1)}, {1, Null()}},
         {{2, Null()}, {3, Null()}}},
        {33, {Str(Dev), I4(0), Empty()}, NotOpened, {{0, I4(1)}, {1, R8(1)}, {1, Str(L"0")}}, {{1, UI8(0)}}},
        {34, {Str(Dev), Null(), Bool(true)}, NotOpened, {{0, I4(1)}, {1, I4(1)}, {2, I4(1)}, {2, Null()}},
         {{1, Str(L"1010")}}},
    };
}

} // namespace

TEST_F(ComponentTest, ArgumentTypeChecksOfEveryMethod)
{
    const long NotSupported = static_cast<long>(0x8004021E);
    for (const CheckRow& row : CheckRows()) {
        SCOPED_TRACE(testing::Message() << "method " << row.Method);
        auto call = [&](std::vector<tVariant> args, long expectedError, const char* what) {
            SCOPED_TRACE(what);
            object->SetLastError(S_OK);
            tVariant result = Empty();
            ASSERT_TRUE(c.Func(row.Method, result, args)) << "the call itself failed";
            ASSERT_EQ(result.vt, VTYPE_BOOL);
            EXPECT_EQ(result.bVal, expectedError == 0);
            EXPECT_EQ(LastError(), expectedError);
        };
        call(row.Valid, row.ValidError, "valid arguments");
        for (const auto& wrong : row.Wrong) {
            SCOPED_TRACE(testing::Message() << "wrong parameter " << wrong.first << " type " << wrong.second.vt);
            std::vector<tVariant> args = row.Valid;
            args[wrong.first] = wrong.second;
            call(args, PE_INVALID_PARAM_TYPE_CODE, "wrong type");
        }
        for (const auto& fine : row.Fine) {
            SCOPED_TRACE(testing::Message() << "other parameter " << fine.first << " type " << fine.second.vt);
            std::vector<tVariant> args = row.Valid;
            args[fine.first] = fine.second;
            object->SetLastError(S_OK);
            tVariant result = Empty();
            ASSERT_TRUE(c.Func(row.Method, result, args));
            EXPECT_NE(LastError(), PE_INVALID_PARAM_TYPE_CODE);
            (void)NotSupported;
        }
    }
}

TEST_F(ComponentTest, OnlyTooFewParametersFailTheCall)
{
    // The number of parameters a method needs before it may act; fewer fail the call with
    // E_INVALIDARG. Every method but DoAdditionalAction succeeds with enough of them.
    const std::pair<long, long> needs[] = {
        {1, 7},  {2, 1},  {3, 1},  {4, 2},  {5, 1},  {6, 1},  {7, 2},  {8, 1},  {10, 1}, {11, 1},
        {12, 5}, {15, 1}, {16, 7}, {17, 7}, {18, 7}, {19, 1}, {21, 3}, {22, 5}, {24, 6}, {26, 5},
        {27, 5}, {28, 11}, {29, 11}, {30, 3}, {31, 1}, {32, 4}, {33, 3}, {34, 3},
    };
    for (const auto& need : needs) {
        SCOPED_TRACE(testing::Message() << "method " << need.first);
        object->SetLastError(S_OK);
        tVariant result = Empty();
        std::vector<tVariant> few(static_cast<size_t>(need.second - 1), Empty());
        EXPECT_FALSE(c.Func(need.first, result, few));
        EXPECT_EQ(LastError(), E_INVALIDARG_CODE);
        object->SetLastError(S_OK);
        EXPECT_FALSE(c.CallAsFunc(need.first, &result, nullptr, need.second)); // no array
        EXPECT_EQ(LastError(), E_INVALIDARG_CODE);
    }
    // Methods whose result is required fail without a return variant.
    for (long method : {10L, 11L, 12L, 15L, 16L, 20L, 23L, 24L, 25L, 30L, 34L}) {
        SCOPED_TRACE(testing::Message() << "method " << method);
        std::vector<tVariant> params(11, Str(L"COM3"));
        EXPECT_FALSE(c.Proc(method, params));
    }
    // Methods whose result is optional work as procedures.
    for (long method : {0L, 13L, 14L}) {
        std::vector<tVariant> none;
        EXPECT_TRUE(c.Proc(method, none)) << "method " << method;
    }
    // DoAdditionalAction always fails the call and leaves the last error alone.
    object->SetLastError(PE_INDEX_OUT_OF_RANGE);
    std::vector<tVariant> action{Str(L"Anything")};
    tVariant result = Empty();
    EXPECT_FALSE(c.Func(MDoAdditionalAction, result, action));
    EXPECT_EQ(LastError(), PE_INDEX_OUT_OF_RANGE_CODE);
    EXPECT_TRUE(host.Errors.empty());
}

TEST_F(ComponentTest, MethodNumbersOutOfRangeFailWithoutTouchingTheTable)
{
    for (long method : {-1L, 35L, 36L, 0x7FFFFFFFL, -0x7FFFFFFF - 1L}) {
        tVariant result = Empty();
        tVariant param = Empty();
        EXPECT_FALSE(c.CallAsFunc(method, &result, &param, 1));
        EXPECT_FALSE(c.CallAsProc(method, &param, 1));
        EXPECT_EQ(result.vt, VTYPE_EMPTY);
    }
    EXPECT_TRUE(host.Errors.empty());
}

TEST_F(ComponentTest, ExceptionInAMethodWithABooleanResult)
{
    // GetFormat sets its result to false before it copies texts; a refused allocation then throws.
    memory.Refuse = true;
    std::vector<tVariant> params(7, Empty());
    params[0] = I4(0);
    tVariant result = Empty();
    EXPECT_TRUE(c.Func(MGetFormat, result, params));
    EXPECT_EQ(result.vt, VTYPE_BOOL);
    EXPECT_FALSE(result.bVal);
    EXPECT_TRUE(host.Errors.empty());
    EXPECT_EQ(object->LastErrorCode(), E_FAIL);
    EXPECT_FALSE(object->LastErrorText().empty());

    // Called as a procedure, a method that fails the same way reports to the platform and fails
    // the call (GetDescription copies texts too, and its result is optional).
    std::vector<tVariant> description(7, Empty());
    EXPECT_FALSE(c.Proc(MGetDescription, description));
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0].Code, 1004);
    EXPECT_EQ(host.Errors[0].Source, L"Parvel");
    EXPECT_EQ(host.Errors[0].Status, E_FAIL_CODE);
    EXPECT_EQ(host.Errors[0].Description, object->LastErrorText());
}

TEST_F(ComponentTest, ExceptionInAMethodWithAnotherResult)
{
    memory.Refuse = true;
    tVariant result = Empty(); // GetVersion returns a text
    std::vector<tVariant> none;
    EXPECT_FALSE(c.Func(MGetVersion, result, none));
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0].Status, E_FAIL_CODE);
    memory.Refuse = false;
    EXPECT_EQ(LastError(), E_FAIL_CODE);
}

TEST_F(ComponentTest, ParserExceptionOfFormatBecomesTheLastError)
{
    std::vector<tVariant> params{Empty(), Str(L"%u"), Str(L"b2 q1"), UI4(1), Blob(KeyBytes, 3)};
    tVariant result = Empty();
    EXPECT_TRUE(c.Func(MFormat, result, params));
    EXPECT_FALSE(result.bVal);
    std::wstring text;
    EXPECT_EQ(LastError(&text), E_FAIL_CODE);
    EXPECT_FALSE(text.empty());
    EXPECT_TRUE(host.Errors.empty());
}

TEST_F(ComponentTest, NullTextAndBytesWithALengthAreEmpty)
{
    // FindFormat of a text with a null pointer: the empty name, which no format carries.
    tVariant name = Var(VTYPE_PWSTR);
    name.wstr.len = 40;
    std::vector<tVariant> find{name};
    tVariant index = Empty();
    ASSERT_TRUE(c.Func(MFindFormat, index, find));
    EXPECT_EQ(index.i32Val, -1);
    // Format over a byte array with a null pointer: an empty key.
    tVariant blob = Var(VTYPE_BLOB);
    blob.bytes.len = 12;
    std::vector<tVariant> params{Empty(), Str(L"[%u]"), Str(L"b0"), UI4(1), blob};
    tVariant result = Empty();
    ASSERT_TRUE(c.Func(MFormat, result, params));
    EXPECT_TRUE(result.bVal);
    EXPECT_EQ(Text(params[0]), L"[0]");
}

TEST_F(ComponentTest, VariantToUIntTakesIntegersOnly)
{
    struct Case
    {
        tVariant Value;
        bool Ok;
        uint32_t Out;
    };
    const Case cases[] = {
        {I2(-2), true, 0xFFFFFFFE}, {I1(-1), true, 0xFFFFFFFF}, {UI1(0xFF), true, 0xFF},
        {UI2(0xFFFF), true, 0xFFFF}, {I4(-5), true, 0xFFFFFFFB}, {UI4(7), true, 7},
        {Int(8), true, 8},          {UInt(9), true, 9},         {I8(0x1234567890LL), true, 0x34567890},
        {UI8(0xFFFFFFFF00000001ULL), true, 1},
        {Bool(true), false, 0},     {R8(1.0), false, 0},        {Str(L"1"), false, 0},
        {Empty(), false, 0},        {Null(), false, 0},         {Var(VTYPE_HRESULT), false, 0},
    };
    for (const Case& k : cases) {
        uint32_t out = 0xABCDEF;
        EXPECT_EQ(CParvel::VariantToUInt(&k.Value, out), k.Ok) << "type " << k.Value.vt;
        EXPECT_EQ(out, k.Ok ? k.Out : 0xABCDEFu) << "type " << k.Value.vt;
    }
}

TEST_F(ComponentTest, InitWithoutConnectionStillSucceeds)
{
    Destroy();
    Create(false);
    EXPECT_TRUE(c.Init(nullptr));
    EXPECT_EQ(object->CommandEvent(), nullptr);
    EXPECT_TRUE(object->SettingsFolder().empty());
    EXPECT_TRUE(object->Formats().empty());
    EXPECT_EQ(object->Window(), nullptr);
}

TEST_F(ComponentTest, InitSetsTheEventDepthThroughTheConnection)
{
    ASSERT_EQ(host.Depths.size(), 1u);
    EXPECT_EQ(host.Depths[0], 4096);
    EXPECT_EQ(host.CallsTo(5), 1u);
    EXPECT_NE(object->CommandEvent(), nullptr);
    // A connection that refuses the depth leaves the component without settings and window.
    Destroy();
    host.AcceptDepth = false;
    Create(true, 1);
    EXPECT_EQ(object->CommandEvent(), nullptr);
    EXPECT_EQ(object->Window(), nullptr);
    EXPECT_TRUE(object->Formats().empty());
}

TEST_F(ComponentTest, WindowOnlyInAGuiHostAndGoneAfterDone)
{
    EXPECT_EQ(object->Window(), nullptr); // this test program is a console program
    Destroy();
    Create(true, 1);
    HWND window = object->Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindow(window));
    c.Done();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(object->Window(), nullptr);
    c.Done(); // a second Done finds nothing left to do
}

TEST_F(ComponentTest, DestroyingWithoutDoneReleasesWhatDoneReleases)
{
    Destroy();
    Create(true, 1);
    HWND window = object->Window();
    ASSERT_NE(window, nullptr);
    delete object; // no Done
    object = nullptr;
    EXPECT_FALSE(IsWindow(window));
    // The window class is free again: a new component can register it.
    Create(true, 1);
    EXPECT_NE(object->Window(), nullptr);
}

TEST_F(ComponentTest, CurrentComponentIsTheNewestAndClearedWithIt)
{
    EXPECT_EQ(CParvel::Current(), object);
    EXPECT_EQ(&CurrentReadKeys(), &object->ReadKeys());
    CParvel* second = new CParvel(L"ParvelExtension");
    EXPECT_EQ(CParvel::Current(), second);
    delete second;
    EXPECT_EQ(CParvel::Current(), nullptr);
    EXPECT_NE(&CurrentReadKeys(), &object->ReadKeys());
}

TEST_F(ComponentTest, SetLocaleFollowsTheThreadLocale)
{
    const LCID thread = GetThreadLocale();
    const LCID messages = MessageLcid;
    SetThreadLocale(MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT));
    c.SetLocale(L"ru_RU");
    EXPECT_TRUE(object->RussianEvents());
    std::vector<tVariant> description(7, Empty());
    tVariant result = Empty();
    ASSERT_TRUE(c.Func(MGetDescription, result, description));
    EXPECT_EQ(Text(description[1]), L"Драйвер устройств ввода");

    SetThreadLocale(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT));
    c.SetLocale(L"en_EN");
    EXPECT_FALSE(object->RussianEvents());
    ASSERT_TRUE(c.Func(MGetDescription, result, description));
    EXPECT_EQ(Text(description[1]), L"Driver for input devices");

    SetThreadLocale(thread);
    MessageLcid = messages;
    c.SetLocale(nullptr); // no name: the runtime's locale stays, the rest follows the thread
}

TEST_F(ComponentTest, SetLocaleLeavesTheCallingThreadsLanguageAlone)
{
    // The calling thread is the platform's main thread: switching its interface language would
    // switch the platform's own.
    const LCID thread = GetThreadLocale();
    const LCID messages = MessageLcid;
    const LANGID english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    SetThreadUILanguage(english);
    const LANGID before = GetThreadUILanguage();
    SetThreadLocale(MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT));
    c.SetLocale(L"ru_RU");
    EXPECT_TRUE(object->RussianEvents());
    EXPECT_EQ(GetThreadUILanguage(), before);
    std::vector<tVariant> description(7, Empty());
    tVariant result = Empty();
    ASSERT_TRUE(c.Func(MGetDescription, result, description));
    EXPECT_EQ(Text(description[1]), L"Драйвер устройств ввода") << "the texts follow the locale all the same";

    SetThreadLocale(thread);
    MessageLcid = messages;
    c.SetLocale(nullptr);
}

TEST_F(ComponentTest, DeviceMethodsAnswerForDevicesNeverOpened)
{
    const long NotOpened = static_cast<long>(0x80040233);
    std::vector<tVariant> device{Str(L"COM3")};
    tVariant result = Empty();

    ASSERT_TRUE(c.Func(MClose, result, device));
    EXPECT_FALSE(result.bVal);
    EXPECT_EQ(LastError(), NotOpened);
    object->SetLastError(S_OK);
    ASSERT_TRUE(c.Proc(MClose, device)); // without a result nothing is reported
    EXPECT_EQ(LastError(), 0);
    std::vector<tVariant> number{I4(3)};
    EXPECT_FALSE(c.Func(MClose, result, number));
    EXPECT_EQ(LastError(), E_INVALIDARG_CODE);

    ASSERT_TRUE(c.Func(MGetStatus, result, device));
    EXPECT_EQ(result.vt, VTYPE_I4);
    EXPECT_EQ(result.i32Val, 0);
    EXPECT_FALSE(c.Func(MGetStatus, result, number));

    // Open and DeviceTest refuse an empty port name before they make any reader.
    tVariant empty = Str(L"");
    ASSERT_TRUE(c.SetPropVal(1, &empty));
    std::vector<tVariant> out{Empty()};
    ASSERT_TRUE(c.Func(MOpen, result, out));
    EXPECT_FALSE(result.bVal);
    EXPECT_EQ(LastError(), static_cast<long>(0x80040210));
    // The automatic port with nothing to search (no port source, no network search) finds no
    // reader, in either spelling and case, without probing anything.
    tVariant flags = UI4(0);
    ASSERT_TRUE(c.SetPropVal(16, &flags));
    for (const wchar_t* automatic : {L"Auto", L"aUTO", L"Авто", L"авто"}) {
        tVariant port = Str(automatic);
        ASSERT_TRUE(c.SetPropVal(1, &port));
        ASSERT_TRUE(c.Func(MOpen, result, out));
        EXPECT_FALSE(result.bVal);
        EXPECT_EQ(LastError(), static_cast<long>(0x80040232)) << automatic;
        std::vector<tVariant> test{Empty(), Empty()};
        ASSERT_TRUE(c.Func(MDeviceTest, result, test));
        EXPECT_FALSE(result.bVal);
        EXPECT_EQ(LastError(), static_cast<long>(0x80040232)) << automatic;
        EXPECT_EQ(test[0].vt, VTYPE_EMPTY);
        EXPECT_EQ(test[1].vt, VTYPE_EMPTY);
    }
    EXPECT_EQ(object->OpenPortCount(), 0u);

    std::vector<tVariant> none;
    ASSERT_TRUE(c.Func(MFindClose, result, none));
    EXPECT_TRUE(result.bVal);
}

TEST_F(ComponentTest, ClearLogDeletesTheLogFileOfTheSettingsFolder)
{
    const std::wstring log = object->SettingsFolder() + L"\\Parvel.log";
    HANDLE h = CreateFileW(log.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    tVariant result = Empty();
    std::vector<tVariant> none;
    ASSERT_TRUE(c.Func(MClearLog, result, none));
    EXPECT_TRUE(result.bVal);
    EXPECT_EQ(GetFileAttributesW(log.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(c.Func(MClearLog, result, none)); // no file: nothing to delete
    EXPECT_TRUE(result.bVal);

    // Without a settings folder there is no log of this component to delete.
    Destroy();
    Create(false);
    ASSERT_TRUE(c.Init(nullptr));
    ASSERT_TRUE(c.Func(MClearLog, result, none));
    EXPECT_TRUE(result.bVal);
}

TEST_F(ComponentTest, LogFilterFollowsLogAndLogFlags)
{
    EXPECT_FALSE(object->IsLogEnabled(nullptr, 130));
    tVariant on = Bool(true);
    ASSERT_TRUE(c.SetPropVal(14, &on));
    tVariant flags = UI4(0);
    ASSERT_TRUE(c.SetPropVal(15, &flags));
    EXPECT_TRUE(object->IsLogEnabled(nullptr, 130));
    EXPECT_FALSE(object->IsLogEnabled(nullptr, 140));
    EXPECT_FALSE(object->IsLogEnabled(nullptr, 155));
    EXPECT_FALSE(object->IsLogEnabled(nullptr, 161));
    flags = UI4(4);
    ASSERT_TRUE(c.SetPropVal(15, &flags));
    EXPECT_FALSE(object->IsLogEnabled(nullptr, 149));
    EXPECT_FALSE(object->IsLogEnabled(nullptr, 150));
    EXPECT_TRUE(object->IsLogEnabled(nullptr, 160));
    flags = UI4(3);
    ASSERT_TRUE(c.SetPropVal(15, &flags));
    EXPECT_TRUE(object->IsLogEnabled(nullptr, 140));
    EXPECT_TRUE(object->IsLogEnabled(nullptr, 159));
    EXPECT_FALSE(object->IsLogEnabled(nullptr, 160));
}
