// The wrappers against the real add-in: each sends what the add-in's own argument checks accept,
// and the add-in's answers come back as the configurator expects. Skipped when Parvel.dll was not
// built beside this program's build.
#include "HostFixture.h"
#include "VariantHelpers.h"

#ifdef PARVEL_DLL_PATH

namespace {

std::wstring ParvelPath()
{
    // The build passes a Unix path; Wine maps it under drive Z:.
    std::wstring path = L"Z:" + Utf8ToWide(std::string(PARVEL_DLL_PATH));
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

class RealAddin : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (GetFileAttributesW(ParvelPath().c_str()) == INVALID_FILE_ATTRIBUTES)
            GTEST_SKIP() << "Parvel.dll is not built";
        host.SetLibraryPath(ParvelPath());
        host.SetHostLanguage(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        host.Create();
    }
    void TearDown() override
    {
        host.Unload();
        host.PumpQueues();
        EXPECT_EQ(host.Live(), 0u) << "blocks of the memory manager never freed";
        EXPECT_EQ(host.ForeignFrees(), 0) << "blocks freed twice or not from the memory manager";
    }

    std::string FailureText(void (*call)(CTestParvel&), CTestParvel& h)
    {
        try {
            call(h);
        } catch (const CTestParvelException& e) {
            return e.what();
        }
        return std::string();
    }

    MessageLanguage english{MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT)};
    CountingHost host;
};

} // namespace

TEST_F(RealAddin, InitialisesThroughTheHostsConnection)
{
    EXPECT_EQ(host.GetEventBufferDepth(), 4096); // set by the add-in's Init
    EXPECT_EQ(host.Extender()->GetNMethods(), 35);
    std::wstring name;
    host.GetMethodName(name, 0, 0);
    EXPECT_EQ(name, L"GetVersion");
    host.GetPropName(name, 1, 0);
    EXPECT_EQ(name, L"Port");
    CVariantArray version(1, &host);
    host.CallAsFunc(L"GetVersion", &version[0], nullptr, 0);
    EXPECT_EQ(version[0].vt, VTYPE_PWSTR);
}

TEST_F(RealAddin, FormatWrappersPassTheAddInsChecks)
{
    ASSERT_EQ(host.FindFormat(), -1);
    int32_t index = 0;
    ASSERT_TRUE(host.InsertFormat(index, L"%.3u,%.5u", L"b2 w01", 0, 0));
    EXPECT_EQ(index, 0);
    EXPECT_EQ(host.FindFormat(), 0);
    EXPECT_TRUE(host.SetFormat(0, L"%u", L"b4", 0x7FFFF, 4));

    int32_t position = 99;
    EXPECT_TRUE(host.CheckFormat(L"%.3u,%.5u", L"b2 w01", position));
    EXPECT_EQ(position, -1);
    EXPECT_FALSE(host.CheckFormat(L"%.3u,%.5u", L"b2", position));
    EXPECT_EQ(position, -1);
    std::wstring text;
    EXPECT_EQ(host.GetLastError(text), static_cast<int32_t>(0x80040236));
    EXPECT_FALSE(text.empty());

    EXPECT_TRUE(host.DeleteFormat(0));
    EXPECT_EQ(host.FindFormat(), -1);
    EXPECT_FALSE(host.DeleteFormat(100));
    EXPECT_EQ(host.GetLastError(text), static_cast<int32_t>(0x80040203));
}

TEST_F(RealAddin, ParameterPortAndFailureTexts)
{
    EXPECT_FALSE(host.SetParameter(L"model", L"1"));
    std::wstring text;
    EXPECT_EQ(host.GetLastError(text), static_cast<int32_t>(0x80040201));

    CVariantArray value(1, &host);
    value.SetWStr(0, L"COM200");
    EXPECT_NO_THROW(host.SetPort(&value[0]));
    value.SetI4(0, 5);
    try {
        host.SetPort(&value[0]);
        ADD_FAILURE() << "Port took a number";
    } catch (const CTestParvelException& e) {
        EXPECT_STREQ(e.what(), "Failed to set property \"Port\" components =5.");
    }
    CVariantArray args(1, &host);
    try {
        host.CallAsFunc(L"NoSuchMethod", &args[0], nullptr, 0);
        ADD_FAILURE() << "an unknown method was called";
    } catch (const CTestParvelException& e) {
        EXPECT_STREQ(e.what(), "\"NoSuchMethod\" method not found.");
    }
}

#endif
