// The equipment-driver methods: version, description, last error, the parameters document (against
// a golden file, and read back with the XML model), SetParameter and the additional actions.
#include "ComponentFixture.h"
#include "CodePage.h"
#include "ModuleState.h"
#include "Xml.h"
#include <fstream>
#include <limits>
#include <sstream>

using namespace slothost;

namespace {

// Texts of the tests are the English ones, whatever the machine's locale.
class DriverMethodsTest : public ComponentTest
{
protected:
    void SetUp() override
    {
        m_lcid = MessageLcid;
        MessageLcid = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
        ComponentTest::SetUp();
    }
    void TearDown() override
    {
        ComponentTest::TearDown();
        MessageLcid = m_lcid;
    }

    // Creates `path` under `root` when absent and sets its string value `name` to `text`.
    static bool SetStringValue(HKEY root, const wchar_t* path, const wchar_t* name, const std::wstring& text)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return false;
        const LONG rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        return rc == ERROR_SUCCESS;
    }

    std::wstring GetParameters()
    {
        std::vector<tVariant> params{Empty()};
        tVariant result = Empty();
        EXPECT_TRUE(c.Func(MGetParameters, result, params));
        EXPECT_EQ(result.vt, VTYPE_BOOL);
        EXPECT_TRUE(result.bVal);
        EXPECT_EQ(params[0].vt, VTYPE_PWSTR);
        return Text(params[0]);
    }

    // SetParameter(name, value): the result, or -1 when the call itself failed.
    int SetParameter(tVariant name, tVariant value)
    {
        std::vector<tVariant> params{name, value};
        tVariant result = Empty();
        if (!c.Func(MSetParameter, result, params))
            return -1;
        EXPECT_EQ(result.vt, VTYPE_BOOL);
        return result.bVal ? 1 : 0;
    }

private:
    LCID m_lcid = 0;
};

std::wstring ReadUtf8File(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return Utf8ToWide(s.str());
}

// The golden file's path as Wine shows the Unix root (drive Z:).
std::string DataFile(const char* name)
{
    std::string path = std::string("Z:") + PARVEL_TESTDATA_DIR + "/" + name;
    return path;
}

} // namespace

TEST_F(DriverMethodsTest, GetVersion)
{
    tVariant result = Empty();
    std::vector<tVariant> none;
    ASSERT_TRUE(c.Func(MGetVersion, result, none));
    ASSERT_EQ(result.vt, VTYPE_PWSTR);
    EXPECT_EQ(Text(result), L"1.7.2.1");
    EXPECT_EQ(result.wstr.ptr[result.wstr.len], L'\0');
    EXPECT_TRUE(c.Proc(MGetVersion, none)); // as a procedure: nothing to return, still fine
}

TEST_F(DriverMethodsTest, GetDescription)
{
    std::vector<tVariant> params(7, Empty());
    tVariant result = Empty();
    ASSERT_TRUE(c.Func(MGetDescription, result, params));
    EXPECT_TRUE(result.bVal);
    EXPECT_EQ(Text(params[0]), L"Parvel");
    EXPECT_EQ(Text(params[1]), L"Driver for input devices");
    EXPECT_EQ(Text(params[2]), L"СчитывательМагнитныхКарт");
    EXPECT_EQ(params[3].vt, VTYPE_I4);
    EXPECT_EQ(params[3].i32Val, 1005);
    EXPECT_EQ(params[4].vt, VTYPE_BOOL);
    EXPECT_FALSE(params[4].bVal);
    EXPECT_EQ(params[5].vt, VTYPE_BOOL);
    EXPECT_TRUE(params[5].bVal);
    EXPECT_EQ(params[6].vt, VTYPE_PWSTR);
    EXPECT_FALSE(Text(params[6]).empty());
}

TEST_F(DriverMethodsTest, GetLastErrorGivesCodeAndText)
{
    EXPECT_EQ(SetParameter(Str(L"model"), I4(1)), 0);
    std::wstring text;
    EXPECT_EQ(LastError(&text), PE_PARAM_NOT_EXIST_CODE);
    EXPECT_EQ(text.rfind(L"Parameter does not exist.", 0), 0u) << std::string(text.begin(), text.end());
}

TEST_F(DriverMethodsTest, GetParametersMatchesTheGoldenFile)
{
    // No serial ports: HKLM\HARDWARE\DEVICEMAP\SERIALCOMM lives in an empty scratch key.
    ScratchRegistry machine(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(machine.Ok());
    const std::wstring golden = ReadUtf8File(DataFile("GetParameters.xml"));
    ASSERT_FALSE(golden.empty()) << "golden file missing: " << DataFile("GetParameters.xml");
    const std::wstring document = GetParameters();
    EXPECT_EQ(document, golden);
    if (document != golden) {
        size_t i = 0;
        while (i < document.size() && i < golden.size() && document[i] == golden[i])
            ++i;
        ADD_FAILURE() << "first difference at character " << i;
    }
}

TEST_F(DriverMethodsTest, GetParametersReadsBackWithTheXmlModel)
{
    ScratchRegistry machine(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(machine.Ok());
    CMemXML xml;
    xml.Parse(GetParameters());
    CMXNode* page = xml.Root().GetNode(L"Settings\\Page", false);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->GetAttribute(L"Caption"), L"Parameters");
    ASSERT_EQ(page->Children.size(), 2u);
    CMXNode* connection = page->Children[0];
    CMXNode* device = page->Children[1];
    EXPECT_EQ(connection->GetAttribute(L"Caption"), L"Connection parameters");
    EXPECT_EQ(device->GetAttribute(L"Caption"), L"Device parameters");
    const wchar_t* names[] = {L"Model", L"Port", L"Speed", L"StopBits", L"ConnectTimeout", L"ConnectPeriod",
                              L"RxPeriod", L"ReqTimeout", L"ReqTries", L"Wiegand", L"BinaryMode",
                              L"CorrectVM100"};
    const wchar_t* defaults[] = {L"0", L"Auto", L"0", L"0", L"10000", L"3000", L"-1", L"3000", L"2",
                                 L"false", L"true", L"true"};
    ASSERT_EQ(connection->Children.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(connection->Children[i]->GetAttribute(L"Name"), names[i]);
        EXPECT_EQ(connection->Children[i]->GetAttribute(L"DefaultValue"), defaults[i]);
    }
    // No serial ports: the port list holds only the automatic choice.
    CMXNode* ports = connection->Children[1]->FindChild(L"ChoiceList");
    ASSERT_NE(ports, nullptr);
    ASSERT_EQ(ports->Children.size(), 1u);
    EXPECT_EQ(ports->Children[0]->GetAttribute(L"Value"), L"Auto");
    // Prefix and suffix choose among 129 characters from "-1" to "127", with decoded captions.
    ASSERT_EQ(device->Children.size(), 2u);
    EXPECT_EQ(device->Children[0]->GetAttribute(L"DefaultValue"), L"-1");
    EXPECT_EQ(device->Children[1]->GetAttribute(L"DefaultValue"), L"13");
    CMXNode* chars = device->Children[0]->FindChild(L"ChoiceList");
    ASSERT_NE(chars, nullptr);
    ASSERT_EQ(chars->Children.size(), 129u);
    EXPECT_EQ(chars->Children[0]->GetAttribute(L"Value"), L"-1");
    EXPECT_EQ(chars->Children[0]->Text, L"<NONE>");
    EXPECT_EQ(chars->Children[10]->Text, L"9 (TAB)");
    EXPECT_EQ(chars->Children[34]->Text, L"33 (!)");
    EXPECT_EQ(chars->Children[128]->GetAttribute(L"Value"), L"127");
}

TEST_F(DriverMethodsTest, GetParametersListsTheSerialPorts)
{
    ScratchRegistry machine(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(machine.Ok());
    ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", L"\\Device\\Serial7", L"COM7"));
    const std::wstring document = GetParameters();
    EXPECT_NE(document.find(L"<Item Value=\"Auto\">Auto</Item>\r\n<Item Value=\"COM7\">COM7</Item>\r\n</ChoiceList>"),
              std::wstring::npos);
}

TEST_F(DriverMethodsTest, GetParametersEscapesEveryInsertedText)
{
    // A port whose name holds every character that XML reserves, listed and loaded as the default.
    const wchar_t name[] = L"A&B<\"C'>";
    ScratchRegistry machine(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(machine.Ok());
    ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", L"\\Device\\Odd", name));
    ASSERT_TRUE(SetStringValue(HKEY_CURRENT_USER, L"Software\\Corvane\\Parvel", L"Portname", name));
    std::vector<tVariant> parts{UI4(1)};
    ASSERT_TRUE(c.Proc(MLoadSettings, parts));
    ASSERT_EQ(object->LoadedConnection().Portname, name);

    const std::wstring document = GetParameters();
    EXPECT_EQ(document.find(name), std::wstring::npos) << "the name went in unescaped";
    EXPECT_NE(document.find(L"DefaultValue=\"A&amp;B&lt;&quot;C&apos;&gt;\""), std::wstring::npos);
    CMemXML xml;
    xml.Parse(document);
    CMXNode* port = xml.Root().GetNode(L"Settings\\Page", false);
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(port->Children.size(), 2u);
    ASSERT_GE(port->Children[0]->Children.size(), 2u);
    port = port->Children[0]->Children[1];
    EXPECT_EQ(port->GetAttribute(L"DefaultValue"), name);
    CMXNode* ports = port->FindChild(L"ChoiceList");
    ASSERT_NE(ports, nullptr);
    ASSERT_EQ(ports->Children.size(), 2u);
    EXPECT_EQ(ports->Children[1]->GetAttribute(L"Value"), name);
    EXPECT_EQ(ports->Children[1]->Text, name);
}

TEST_F(DriverMethodsTest, GetParametersShowsTheLoadedValuesNotTheWorkingOnes)
{
    ScratchRegistry machine(HKEY_LOCAL_MACHINE);
    tVariant port = Str(L"COM9");
    ASSERT_TRUE(c.SetPropVal(1, &port));
    EXPECT_EQ(SetParameter(Str(L"Speed"), I4(9600)), 1);
    const std::wstring document = GetParameters();
    EXPECT_NE(document.find(L"Name=\"Port\" Caption=\"Port\" TypeValue=\"String\" DefaultValue=\"Auto\""),
              std::wstring::npos);
    EXPECT_NE(document.find(L"Name=\"Speed\" Caption=\"Speed\" TypeValue=\"Number\" DefaultValue=\"0\""),
              std::wstring::npos);
}

TEST_F(DriverMethodsTest, SetParameterStoresIntoTheWorkingRecord)
{
    EXPECT_EQ(SetParameter(Str(L"Model"), I4(9)), 1);
    EXPECT_EQ(SetParameter(Str(L"Port"), Str(L"192.168.0.5:4001")), 1);
    EXPECT_EQ(SetParameter(Str(L"Speed"), UI4(57600)), 1);
    EXPECT_EQ(SetParameter(Str(L"StopBits"), I4(2)), 1);
    EXPECT_EQ(SetParameter(Str(L"ConnectTimeout"), I4(5000)), 1);
    EXPECT_EQ(SetParameter(Str(L"ConnectPeriod"), I4(1000)), 1);
    EXPECT_EQ(SetParameter(Str(L"RxPeriod"), I4(-1)), 1);
    EXPECT_EQ(SetParameter(Str(L"ReqTimeout"), I4(700)), 1);
    EXPECT_EQ(SetParameter(Str(L"ReqTries"), I4(4)), 1);
    EXPECT_EQ(SetParameter(Str(L"Wiegand"), Bool(true)), 1);
    EXPECT_EQ(SetParameter(Str(L"BinaryMode"), I4(0)), 1); // the value field, whatever the type
    EXPECT_EQ(SetParameter(Str(L"CorrectVM100"), Bool(false)), 1);
    EXPECT_EQ(SetParameter(Str(L"Prefix"), I4(2)), 1);
    EXPECT_EQ(SetParameter(Str(L"Suffix"), I4(500)), 1); // no range here, unlike the property
    const CReaderSettings& w = object->WorkingConnection();
    EXPECT_EQ(w.Model, 9u);
    EXPECT_EQ(w.Portname, L"192.168.0.5:4001");
    EXPECT_EQ(w.Speed, 57600u);
    EXPECT_EQ(w.StopBits, 2u);
    EXPECT_EQ(w.ConnectTimeout, 5000);
    EXPECT_EQ(w.ConnectPeriod, 1000);
    EXPECT_EQ(w.RxPeriod, -1);
    EXPECT_EQ(w.ReqTimeout, 700);
    EXPECT_EQ(w.ReqTries, 4);
    EXPECT_EQ(w.Flags, SETTINGS_FLAG_WIEGAND | SETTINGS_FLAG_NO_CORRECT_VM100);
    EXPECT_EQ(w.Prefix, 2);
    EXPECT_EQ(w.Suffix, 500);
    EXPECT_EQ(object->LoadedConnection().Portname, L"Auto");
    EXPECT_EQ(Prop(13).i32Val, 500);
}

TEST_F(DriverMethodsTest, SetParameterConvertsEveryNumericType)
{
    tVariant r4 = Var(VTYPE_R4);
    r4.r4Val = 19200.0f;
    tVariant noisyBool = UI4(0xCCCCCC00); // a bool's junk beyond its own byte must not count
    noisyBool.vt = VTYPE_BOOL;
    noisyBool.bVal = true;
    EXPECT_EQ(SetParameter(Str(L"Speed"), R8(9600.0)), 1);
    EXPECT_EQ(object->WorkingConnection().Speed, 9600u);
    EXPECT_EQ(SetParameter(Str(L"ReqTimeout"), r4), 1);
    EXPECT_EQ(object->WorkingConnection().ReqTimeout, 19200);
    EXPECT_EQ(SetParameter(Str(L"RxPeriod"), I2(-1)), 1);
    EXPECT_EQ(object->WorkingConnection().RxPeriod, -1);
    EXPECT_EQ(SetParameter(Str(L"Prefix"), I1(-1)), 1);
    EXPECT_EQ(object->WorkingConnection().Prefix, -1);
    EXPECT_EQ(SetParameter(Str(L"ConnectPeriod"), UI2(65535)), 1);
    EXPECT_EQ(object->WorkingConnection().ConnectPeriod, 65535);
    EXPECT_EQ(SetParameter(Str(L"ReqTries"), I8(-2)), 1);
    EXPECT_EQ(object->WorkingConnection().ReqTries, -2);
    EXPECT_EQ(SetParameter(Str(L"Speed"), UI8(115200)), 1);
    EXPECT_EQ(object->WorkingConnection().Speed, 115200u);
    EXPECT_EQ(SetParameter(Str(L"Model"), noisyBool), 1);
    EXPECT_EQ(object->WorkingConnection().Model, 1u);
    EXPECT_EQ(SetParameter(Str(L"Model"), R8(-0.0)), 1);
    EXPECT_EQ(object->WorkingConnection().Model, 0u);

    // Booleans: any value but 0 is on, however it is typed.
    EXPECT_EQ(SetParameter(Str(L"Wiegand"), I4(256)), 1);
    EXPECT_NE(object->WorkingConnection().Flags & SETTINGS_FLAG_WIEGAND, 0u);
    EXPECT_TRUE(Prop(9).bVal);
    EXPECT_EQ(SetParameter(Str(L"Wiegand"), I2(0)), 1);
    EXPECT_EQ(object->WorkingConnection().Flags & SETTINGS_FLAG_WIEGAND, 0u);
    EXPECT_EQ(SetParameter(Str(L"BinaryMode"), UI8(0x100000000ull)), 1);
    EXPECT_NE(object->WorkingConnection().Flags & SETTINGS_FLAG_BINARY, 0u);
    EXPECT_EQ(SetParameter(Str(L"CorrectVM100"), R8(0.0)), 1);
    EXPECT_NE(object->WorkingConnection().Flags & SETTINGS_FLAG_NO_CORRECT_VM100, 0u);
    EXPECT_EQ(SetParameter(Str(L"CorrectVM100"), R8(1.0)), 1);
    EXPECT_EQ(object->WorkingConnection().Flags & SETTINGS_FLAG_NO_CORRECT_VM100, 0u);

    // What has no whole 32-bit value is refused and changes nothing.
    struct Case
    {
        const wchar_t* Name;
        tVariant Value;
        long Error;
    };
    tVariant date = Var(VTYPE_DATE);
    date.dateVal = 9600.0;
    const Case cases[] = {
        {L"Speed", R8(9600.5), PE_INVALID_PARAM_TYPE_CODE},
        {L"Speed", R8(std::numeric_limits<double>::quiet_NaN()), PE_INVALID_PARAM_TYPE_CODE},
        {L"Speed", R8(std::numeric_limits<double>::infinity()), PE_INVALID_PARAM_TYPE_CODE},
        {L"Speed", R8(1e300), PE_INVALID_PARAM_TYPE_CODE},
        {L"Speed", R8(4294967296.0), PE_INDEX_OUT_OF_RANGE_CODE},
        {L"Speed", I8(0x100002580ll), PE_INDEX_OUT_OF_RANGE_CODE}, // its low 32 bits are 9600
        {L"Prefix", I8(-2147483649ll), PE_INDEX_OUT_OF_RANGE_CODE},
        {L"Speed", date, PE_INVALID_PARAM_TYPE_CODE},
        {L"Speed", Empty(), PE_INVALID_PARAM_TYPE_CODE},
        {L"Speed", Null(), PE_INVALID_PARAM_TYPE_CODE},
        {L"Wiegand", Str(L"true"), PE_INVALID_PARAM_TYPE_CODE},
        {L"Wiegand", R8(0.5), PE_INVALID_PARAM_TYPE_CODE},
    };
    const CReaderSettings before = object->WorkingConnection();
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << std::string(k.Name, k.Name + wcslen(k.Name)) << " type " << k.Value.vt);
        EXPECT_EQ(SetParameter(Str(k.Name), k.Value), 0);
        EXPECT_EQ(LastError(), k.Error);
        EXPECT_EQ(object->WorkingConnection().Speed, before.Speed);
        EXPECT_EQ(object->WorkingConnection().Prefix, before.Prefix);
        EXPECT_EQ(object->WorkingConnection().Flags, before.Flags);
    }
}

TEST_F(DriverMethodsTest, SetParameterRefusals)
{
    struct Case
    {
        tVariant Name;
        tVariant Value;
        long Error;
    };
    const Case cases[] = {
        {Str(L"model"), I4(1), PE_PARAM_NOT_EXIST_CODE},      // names compare exactly
        {Str(L"Log"), Bool(true), PE_PARAM_NOT_EXIST_CODE},    // only properties 0-13 are parameters
        {Str(L""), I4(1), PE_PARAM_NOT_EXIST_CODE},
        {Str(L"Model"), I4(10), PE_INDEX_OUT_OF_RANGE_CODE},
        {Str(L"Port"), I4(3), PE_INVALID_PARAM_TYPE_CODE},    // a number is no port name
        {Str(L"Port"), Empty(), PE_INVALID_PARAM_TYPE_CODE},
        {Str(L"Speed"), Str(L"9600"), PE_INVALID_PARAM_TYPE_CODE}, // a text is never read as a number
        {I4(0), I4(1), PE_INVALID_PARAM_TYPE_CODE},           // the name must be a text
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "value type " << k.Value.vt << ", expected error " << std::hex << k.Error);
        const CReaderSettings before = object->WorkingConnection();
        EXPECT_EQ(SetParameter(k.Name, k.Value), 0);
        EXPECT_EQ(LastError(), k.Error);
        const CReaderSettings& after = object->WorkingConnection();
        EXPECT_EQ(after.Model, before.Model);
        EXPECT_EQ(after.Portname, before.Portname);
        EXPECT_EQ(after.Speed, before.Speed);
    }
    std::vector<tVariant> one{Str(L"Model")};
    tVariant result = Empty();
    EXPECT_FALSE(c.Func(MSetParameter, result, one));
    EXPECT_EQ(LastError(), E_INVALIDARG_CODE);
}

TEST_F(DriverMethodsTest, AdditionalActions)
{
    std::vector<tVariant> params{I4(5)};
    tVariant result = Empty();
    ASSERT_TRUE(c.Func(MGetAdditionalActions, result, params));
    EXPECT_TRUE(result.bVal);
    EXPECT_EQ(params[0].vt, VTYPE_PWSTR);
    EXPECT_EQ(Text(params[0]), L"");
    std::vector<tVariant> none;
    EXPECT_FALSE(c.Func(MGetAdditionalActions, result, none));
}
