// The format methods as the platform calls them: finding, reading and editing formats by index,
// the format check with its positions, and trying a format on key bytes.
#include "ComponentFixture.h"

using namespace slothost;

namespace {

const long PE_BAD_FORMAT_NAME_CODE = static_cast<long>(0x80040234);
const long PE_FORMAT_EXISTS_CODE = static_cast<long>(0x80040235);

class FormatMethodsTest : public ComponentTest
{
protected:
    // Calls a method whose result is a boolean; -1 when the call itself failed.
    int Call(long method, std::vector<tVariant>& params)
    {
        tVariant result = Empty();
        if (!c.Func(method, result, params))
            return -1;
        EXPECT_EQ(result.vt, VTYPE_BOOL);
        return result.bVal ? 1 : 0;
    }

    int Insert(int32_t index, const wchar_t* name, tVariant comment = Null())
    {
        std::vector<tVariant> p{I4(index), Str(name), Str(L"%u"), Str(L"b0"), UI4(0), I4(0), comment};
        int r = Call(MInsertFormat, p);
        m_lastIndex = p[0].i32Val;
        return r;
    }

    std::vector<std::wstring> Names() const
    {
        std::vector<std::wstring> names;
        for (const KeyFormat& f : object->Formats())
            names.push_back(f.Name);
        return names;
    }

    int32_t m_lastIndex = 0;
};

} // namespace

TEST_F(FormatMethodsTest, FindAndGet)
{
    std::vector<tVariant> find{Str(L"HelmSaaS")};
    tVariant index = Empty();
    ASSERT_TRUE(c.Func(MFindFormat, index, find));
    EXPECT_EQ(index.vt, VTYPE_I4);
    EXPECT_EQ(index.i32Val, 0);
    find[0] = Str(L"helmsaas");
    ASSERT_TRUE(c.Func(MFindFormat, index, find));
    EXPECT_EQ(index.i32Val, -1);
    find[0] = I4(0); // the name must be a text: the call fails
    EXPECT_FALSE(c.Func(MFindFormat, index, find));
    EXPECT_EQ(LastError(), E_INVALIDARG_CODE);

    std::vector<tVariant> get{UI8(0), I4(1), I4(1), I4(1), I4(1), I4(1), I4(1)};
    ASSERT_EQ(Call(MGetFormat, get), 1);
    EXPECT_EQ(Text(get[1]), L"HelmSaaS");
    EXPECT_EQ(Text(get[2]), L"%.3u,%.5u");
    EXPECT_EQ(Text(get[3]), L"b2 w01");
    EXPECT_EQ(get[4].vt, VTYPE_UI4);
    EXPECT_EQ(get[4].ui32Val, 0u);
    EXPECT_EQ(get[5].vt, VTYPE_I4);
    EXPECT_EQ(get[5].i32Val, 0);
    EXPECT_EQ(get[6].vt, VTYPE_PWSTR);
    EXPECT_EQ(Text(get[6]), L"");
    get[0] = I4(1);
    EXPECT_EQ(Call(MGetFormat, get), 0);
    EXPECT_EQ(LastError(), PE_INDEX_OUT_OF_RANGE_CODE);
}

TEST_F(FormatMethodsTest, InsertAtTheTopAndAtTheEnd)
{
    ASSERT_EQ(Insert(-5, L"Top"), 1);
    EXPECT_EQ(m_lastIndex, 0);
    ASSERT_EQ(Insert(100, L"End", Str(L"last one")), 1);
    EXPECT_EQ(m_lastIndex, 2);
    ASSERT_EQ(Insert(1, L"Middle"), 1);
    EXPECT_EQ(m_lastIndex, 1);
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"Top", L"Middle", L"HelmSaaS", L"End"}));
    EXPECT_EQ(object->Formats()[3].Comment, L"last one");
    EXPECT_EQ(Prop(19).i32Val, 4);

    EXPECT_EQ(Insert(0, L""), 0);
    EXPECT_EQ(LastError(), PE_BAD_FORMAT_NAME_CODE);
    EXPECT_EQ(Insert(0, L"End"), 0);
    EXPECT_EQ(LastError(), PE_FORMAT_EXISTS_CODE);
    EXPECT_EQ(Prop(19).i32Val, 4);
}

TEST_F(FormatMethodsTest, SetChangesOnlyTheGivenFields)
{
    ASSERT_EQ(Insert(100, L"Second"), 1);
    std::vector<tVariant> set{I4(1), Null(), Null(), Null(), Null(), I4(4), Null()};
    ASSERT_EQ(Call(MSetFormat, set), 1);
    const KeyFormat& f = object->Formats()[1];
    EXPECT_EQ(f.Name, L"Second");
    EXPECT_EQ(f.Template, L"%u");
    EXPECT_EQ(f.KeySize, 4u);

    set[1] = Str(L"HelmSaaS"); // the name of format 0
    EXPECT_EQ(Call(MSetFormat, set), 0);
    EXPECT_EQ(LastError(), PE_FORMAT_EXISTS_CODE);
    EXPECT_EQ(object->Formats()[1].Name, L"Second");
    set[1] = Str(L"Second"); // its own name
    EXPECT_EQ(Call(MSetFormat, set), 1);
    set[1] = Str(L"");
    EXPECT_EQ(Call(MSetFormat, set), 0);
    EXPECT_EQ(LastError(), PE_BAD_FORMAT_NAME_CODE);
    set[0] = I4(2);
    set[1] = Null();
    EXPECT_EQ(Call(MSetFormat, set), 0);
    EXPECT_EQ(LastError(), PE_INDEX_OUT_OF_RANGE_CODE);

    std::vector<tVariant> all{I4(0), Str(L"Renamed"), Str(L"%X"), Str(L"w0"), UI4(0x22), I4(3), Str(L"note")};
    ASSERT_EQ(Call(MSetFormat, all), 1);
    const KeyFormat& g = object->Formats()[0];
    EXPECT_EQ(g.Name, L"Renamed");
    EXPECT_EQ(g.Template, L"%X");
    EXPECT_EQ(g.Params, L"w0");
    EXPECT_EQ(g.KeyTypes, 0x22u);
    EXPECT_EQ(g.KeySize, 3u);
    EXPECT_EQ(g.Comment, L"note");
}

TEST_F(FormatMethodsTest, AnEmptyArgumentIsLeftOutWhereNullMayStand)
{
    // The platform passes an undefined value as an empty variant.
    ASSERT_EQ(Insert(100, L"Second", Empty()), 1);
    EXPECT_EQ(object->Formats()[1].Comment, L"");
    std::vector<tVariant> set{I4(1), Empty(), Empty(), Str(L"w0"), Empty(), Empty(), Empty()};
    ASSERT_EQ(Call(MSetFormat, set), 1);
    const KeyFormat& f = object->Formats()[1];
    EXPECT_EQ(f.Name, L"Second");
    EXPECT_EQ(f.Template, L"%u");
    EXPECT_EQ(f.Params, L"w0");
    EXPECT_EQ(f.KeyTypes, 0u);

    // Where no NULL may stand, an empty argument is still the wrong type.
    std::vector<tVariant> noIndex{Empty(), Empty(), Empty(), Empty(), Empty(), Empty(), Empty()};
    EXPECT_EQ(Call(MSetFormat, noIndex), 0);
    EXPECT_EQ(LastError(), PE_INVALID_PARAM_TYPE_CODE);
    std::vector<tVariant> noName{I4(0), Empty(), Str(L"%u"), Str(L"b0"), UI4(0), I4(0), Empty()};
    EXPECT_EQ(Call(MInsertFormat, noName), 0);
    EXPECT_EQ(LastError(), PE_INVALID_PARAM_TYPE_CODE);
    std::vector<tVariant> del{Empty()};
    EXPECT_EQ(Call(MDeleteFormat, del), 0);
    EXPECT_EQ(LastError(), PE_INVALID_PARAM_TYPE_CODE);
}

TEST_F(FormatMethodsTest, DeleteAndClear)
{
    ASSERT_EQ(Insert(100, L"B"), 1);
    ASSERT_EQ(Insert(100, L"C"), 1);
    std::vector<tVariant> del{I4(2)};
    ASSERT_EQ(Call(MDeleteFormat, del), 1);
    EXPECT_EQ(Names(), (std::vector<std::wstring>{L"HelmSaaS", L"B"}));
    del[0] = I4(-1);
    EXPECT_EQ(Call(MDeleteFormat, del), 0);
    EXPECT_EQ(LastError(), PE_INDEX_OUT_OF_RANGE_CODE);
    std::vector<tVariant> none;
    ASSERT_EQ(Call(MClearFormats, none), 1);
    EXPECT_TRUE(object->Formats().empty());
    ASSERT_EQ(Call(MClearFormats, none), 1); // also on an empty list
}

TEST_F(FormatMethodsTest, CheckFormatCodesAndPositions)
{
    struct Case
    {
        const wchar_t* Template;
        const wchar_t* Params;
        int Result;
        long Error;
        int32_t Position;
    };
    const Case cases[] = {
        {L"%.3u,%.5u", L"b2 w01", 1, 0, -1},
        {L"%.3u,%.5u", L"b2", 0, static_cast<long>(0x80040236), -1},
        {L"%.3u %Z", L"b2 w01", 0, static_cast<long>(0x80040237), 5},
        {L"%u %n", L"b0 b1", 0, static_cast<long>(0x80040237), 3},
        {L"%u", L"b2 q1", 0, static_cast<long>(0x80040238), 3},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << std::string(k.Template, k.Template + wcslen(k.Template)));
        object->SetLastError(S_OK);
        std::vector<tVariant> p{Str(k.Template), Str(k.Params), Empty()};
        EXPECT_EQ(Call(MCheckFormat, p), k.Result);
        EXPECT_EQ(p[2].vt, VTYPE_I4);
        EXPECT_EQ(p[2].i32Val, k.Position);
        std::wstring text;
        EXPECT_EQ(LastError(&text), k.Error);
        if (k.Error) {
            EXPECT_FALSE(text.empty());
        }
    }
}

TEST_F(FormatMethodsTest, FormatTriesAFormatOnKeyBytes)
{
    const uint8_t key[] = {0x39, 0x30, 0x7B};
    std::vector<tVariant> p{Empty(), Str(L"%.3u,%.5u"), Str(L"b2 w01"), UI4(1), Blob(key, 3)};
    object->SetLastError(PE_INDEX_OUT_OF_RANGE);
    ASSERT_EQ(Call(MFormat, p), 1);
    EXPECT_EQ(Text(p[0]), L"123,12345");
    EXPECT_EQ(LastError(), 0) << "a successful Format clears the last error";

    // Only the first 15 bytes of a longer array are the key.
    uint8_t longKey[20] = {};
    longKey[14] = 7;
    longKey[15] = 9;
    // Bytes 14 and 15 (the digits of a byte word are hexadecimal).
    std::vector<tVariant> q{Empty(), Str(L"%u %u"), Str(L"be bf"), UI4(5), Blob(longKey, 20)};
    ASSERT_EQ(Call(MFormat, q), 1);
    EXPECT_EQ(Text(q[0]), L"7 0");

    std::vector<tVariant> bad{Empty(), Str(L"%u"), Str(L"b0"), UI4(100), Blob(key, 3)};
    EXPECT_EQ(Call(MFormat, bad), 0);
    EXPECT_EQ(LastError(), E_INVALIDARG_CODE);
}
