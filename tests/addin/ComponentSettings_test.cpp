// Settings in the component: where Init looks (registry or portable file beside the library), the
// load at start-up, and LoadSettings / SaveSettings with their parts and the two connection records.
#include "ComponentFixture.h"
#include "CodePage.h"
#include "ModuleState.h"
#include "RegKey.h"
#include "Paths.h"
#include "SettingsExpect.h"
#include "SettingsStore.h"
#include <algorithm>

using namespace slothost;

namespace {

class ComponentSettingsTest : public ComponentTest
{
protected:
    void SetUp() override {} // each test prepares the stores first, then creates the component

    static CParvelSettings StoredRecord(uint32_t loadAtStartup)
    {
        CParvelSettings s;
        s.Portname = L"COM5";
        s.Model = 3;
        s.Speed = 19200;
        s.StopBits = 2;
        s.Flags = SETTINGS_FLAG_WIEGAND | SETTINGS_FLAG_NO_CORRECT_VM100;
        s.Log = 1;
        s.LogFlags = 5;
        s.ConnectTimeout = 4000;
        s.ReqTimeout = 900;
        s.ReqTries = 3;
        s.ConnectPeriod = 2500;
        s.RxPeriod = 100;
        s.Prefix = 2;
        s.Suffix = 10;
        s.LoadAtStartup = loadAtStartup;
        s.SearchFlags = 0x1F;
        s.FindIpTimeout = 1500;
        s.FindIpTries = 2;
        s.KeyTypes = 0x23;
        s.ReadMf.Enabled = 1;
        s.ReadMf.Sect = 3;
        s.ReadMf.Block = 2;
        s.ReadMf.Flags = 1;
        s.ReadMf.Mask = 0xF0;
        s.ReadMf.Passw = 0xA0A1A2A3A4A5ULL;
        s.ReadUL.Enabled = 1;
        s.ReadUL.Page = 6;
        s.ReadUL.Count = 2;
        s.SoundEnabled = 1;
        s.SoundFiles = {L"C:\\s\\ok.wav", L"C:\\s\\err.wav", L"", L"C:\\s\\off.mp3"};
        KeyFormat a;
        a.Name = L"Decimal";
        a.Template = L"%u";
        a.Params = L"l0";
        a.KeyTypes = 2;
        KeyFormat b;
        b.Name = L"Hex";
        b.Template = L"%X";
        b.Params = L"w0";
        b.KeySize = 4;
        b.Comment = L"four bytes";
        s.Formats = {a, b};
        return s;
    }

    static void ExpectConnection(const CReaderSettings& r, const CParvelSettings& s)
    {
        EXPECT_EQ(r.Portname, s.Portname);
        EXPECT_EQ(r.Model, s.Model);
        EXPECT_EQ(r.Speed, s.Speed);
        EXPECT_EQ(r.StopBits, s.StopBits);
        EXPECT_EQ(r.Flags, s.Flags);
        EXPECT_EQ(r.ConnectTimeout, s.ConnectTimeout);
        EXPECT_EQ(r.ReqTimeout, s.ReqTimeout);
        EXPECT_EQ(r.ReqTries, s.ReqTries);
        EXPECT_EQ(r.ConnectPeriod, s.ConnectPeriod);
        EXPECT_EQ(r.RxPeriod, s.RxPeriod);
        EXPECT_EQ(r.Prefix, s.Prefix);
        EXPECT_EQ(r.Suffix, s.Suffix);
    }

    // Everything the component took from the record, as its properties and fields show it.
    void ExpectComponentHolds(const CParvelSettings& s)
    {
        ExpectConnection(object->LoadedConnection(), s);
        ExpectConnection(object->WorkingConnection(), s);
        EXPECT_EQ(Prop(14).bVal, s.Log != 0);
        EXPECT_EQ(Prop(15).ui32Val, s.LogFlags);
        EXPECT_EQ(Prop(16).ui32Val, s.SearchFlags);
        EXPECT_EQ(Prop(17).ui32Val, s.FindIpTimeout);
        EXPECT_EQ(Prop(18).i32Val, static_cast<int32_t>(s.FindIpTries));
        EXPECT_EQ(Prop(22).bVal, s.SoundEnabled != 0);
        for (long slot = 0; slot < 4; ++slot)
            EXPECT_EQ(Text(Prop(23 + slot)), s.SoundFiles[slot]);
        const ReadKeysBlock& keys = object->ReadKeys();
        EXPECT_EQ(keys.KeyTypes.load(), s.KeyTypes);
        ReadMfSettings mf = keys.GetReadMf();
        EXPECT_EQ(mf.Enabled, s.ReadMf.Enabled);
        EXPECT_EQ(mf.Sect, s.ReadMf.Sect);
        EXPECT_EQ(mf.Block, s.ReadMf.Block);
        EXPECT_EQ(mf.Flags, s.ReadMf.Flags);
        EXPECT_EQ(mf.Mask, s.ReadMf.Mask);
        EXPECT_EQ(mf.Passw, s.ReadMf.Passw);
        ReadULSettings ul = keys.GetReadUL();
        EXPECT_EQ(ul.Enabled, s.ReadUL.Enabled);
        EXPECT_EQ(ul.Page, s.ReadUL.Page);
        EXPECT_EQ(ul.Count, s.ReadUL.Count);
        ExpectSameFormats(object->Formats(), s.Formats);
    }

    void ExpectOnlyTheDefaultFormat()
    {
        ASSERT_EQ(object->Formats().size(), 1u);
        const KeyFormat& f = object->Formats()[0];
        EXPECT_EQ(f.Name, L"HelmSaaS");
        EXPECT_EQ(f.Template, L"%.3u,%.5u");
        EXPECT_EQ(f.Params, L"b2 w01");
        EXPECT_EQ(f.Comment, L"");
        EXPECT_EQ(f.KeyTypes, 0u);
        EXPECT_EQ(f.KeySize, 0u);
    }

    bool LoadSettings(tVariant parts)
    {
        std::vector<tVariant> params{parts};
        return c.Proc(MLoadSettings, params);
    }
    bool SaveSettings(tVariant parts)
    {
        std::vector<tVariant> params{parts};
        return c.Proc(MSaveSettings, params);
    }

    std::wstring PortableFile() const { return moduleFolder.File(L"Parvel.xml"); }

    static void MakeFile(const std::wstring& path)
    {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    }
};

} // namespace

TEST_F(ComponentSettingsTest, WithoutStoresInitAddsTheDefaultFormat)
{
    Create();
    EXPECT_FALSE(object->Portable());
    EXPECT_EQ(object->SettingsFolder(), appData.Path() + L"\\Corvane\\Parvel");
    EXPECT_NE(GetFileAttributesW(object->SettingsFolder().c_str()), INVALID_FILE_ATTRIBUTES);
    ExpectOnlyTheDefaultFormat();
    ExpectConnection(object->WorkingConnection(), CParvelSettings());
}

TEST_F(ComponentSettingsTest, AFolderNamedLikeTheSettingsFileIsNotPortableMode)
{
    ASSERT_TRUE(CreateDirectoryW(PortableFile().c_str(), nullptr));
    Create();
    EXPECT_FALSE(object->Portable());
    ExpectOnlyTheDefaultFormat();
}

TEST_F(ComponentSettingsTest, MarkerFileBesideTheLibraryMeansPortableMode)
{
    MakeFile(moduleFolder.File(L"portable_mode_enabled"));
    Create();
    EXPECT_TRUE(object->Portable());
    EXPECT_EQ(object->SettingsFolder(), moduleFolder.Path());
    ExpectOnlyTheDefaultFormat(); // no settings file: load-at-start-up is off
}

// The reason a save failed reaches the platform in the message language also where the code page
// for non-Unicode programs cannot hold it (Russian texts on a 1252 system).
TEST_F(ComponentSettingsTest, FailedSaveIsToldInRussianUnderAWesternCodePage)
{
    MakeFile(moduleFolder.File(L"portable_mode_enabled"));
    ASSERT_TRUE(CreateDirectoryW(PortableFile().c_str(), nullptr)); // the settings file cannot be written
    Create();
    ASSERT_TRUE(object->Portable());
    const LCID saved = MessageLcid;
    MessageLcid = MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT);
    std::wstring text;
    long code = 0;
    {
        CAnsiCodePageScope western(1252);
        std::vector<tVariant> params{slothost::UI4(SETTINGS_MAIN)};
        EXPECT_FALSE(c.Proc(MSaveSettings, params)); // reported to the platform, and failed
        code = LastError(&text);
    }
    MessageLcid = saved;
    EXPECT_EQ(E_FAIL_CODE, code);
    EXPECT_NE(std::wstring::npos, text.find(PortableFile())) << WideToUtf8(text);
    EXPECT_TRUE(std::any_of(text.begin(), text.end(), [](wchar_t ch) { return ch >= 0x0400 && ch <= 0x04FF; }))
        << WideToUtf8(text);
}

TEST_F(ComponentSettingsTest, LoadAtStartupFromTheRegistry)
{
    const CParvelSettings stored = StoredRecord(1);
    SaveSettingsToRegistry(stored);
    Create();
    ExpectComponentHolds(stored);
}

TEST_F(ComponentSettingsTest, LoadAtStartupOffKeepsTheDefaults)
{
    SaveSettingsToRegistry(StoredRecord(0));
    Create();
    ExpectOnlyTheDefaultFormat();
    ExpectConnection(object->LoadedConnection(), CParvelSettings());
    EXPECT_FALSE(Prop(14).bVal);
}

TEST_F(ComponentSettingsTest, LoadAtStartupFromThePortableFile)
{
    const CParvelSettings stored = StoredRecord(1);
    SaveSettingsToXml(PortableFile(), stored);
    SaveSettingsToRegistry(StoredRecord(0)); // the registry is not looked at in portable mode
    Create();
    EXPECT_TRUE(object->Portable());
    ExpectComponentHolds(stored);
}

TEST_F(ComponentSettingsTest, LoadSettingsThenSaveSettingsRoundTrip)
{
    Create();
    const CParvelSettings stored = StoredRecord(1);
    SaveSettingsToRegistry(stored);
    ASSERT_TRUE(LoadSettings(Empty())); // no usable parts argument: both parts
    ExpectComponentHolds(stored);

    // Clear the store and write it back from the component.
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Corvane\\Parvel"), ERROR_SUCCESS);
    SaveSettingsToRegistry(CParvelSettings()); // a store whose load-at-start-up is off
    ASSERT_TRUE(SaveSettings(UI4(3)));
    CParvelSettings back;
    LoadSettingsFromRegistry(back);
    ExpectConnection(object->LoadedConnection(), back);
    EXPECT_EQ(back.LoadAtStartup, 0u) << "a save keeps the stored load-at-start-up value";
    CParvelSettings expected = stored;
    expected.LoadAtStartup = back.LoadAtStartup;
    ExpectSameSettings(back, expected);
}

TEST_F(ComponentSettingsTest, SaveKeepsLoadAtStartupOn)
{
    SaveSettingsToRegistry(StoredRecord(1));
    Create();
    ASSERT_TRUE(SaveSettings(UI4(1)));
    CParvelSettings back;
    LoadSettingsFromRegistry(back);
    EXPECT_EQ(back.LoadAtStartup, 1u);
}

TEST_F(ComponentSettingsTest, PropertiesAndSaveTheTwoConnectionRecords)
{
    SaveSettingsToRegistry(StoredRecord(1));
    Create();
    tVariant port = Str(L"COM9");
    ASSERT_TRUE(c.SetPropVal(1, &port));
    tVariant logOff = Bool(false);
    ASSERT_TRUE(c.SetPropVal(14, &logOff));
    tVariant flags = UI4(2);
    ASSERT_TRUE(c.SetPropVal(15, &flags));
    ASSERT_TRUE(SaveSettings(UI4(3)));
    CParvelSettings back;
    LoadSettingsFromRegistry(back);
    EXPECT_EQ(back.Portname, L"COM5") << "the port as last loaded is saved, not the working one";
    EXPECT_EQ(back.Log, 0u) << "Log is the component's own and is saved as set";
    EXPECT_EQ(back.LogFlags, 2u);
    EXPECT_EQ(object->WorkingConnection().Portname, L"COM9");
}

TEST_F(ComponentSettingsTest, LoadSettingsOfTheFormatsOnly)
{
    Create();
    CParvelSettings stored = StoredRecord(0);
    SaveSettingsToRegistry(stored);
    tVariant port = Str(L"COM9");
    ASSERT_TRUE(c.SetPropVal(1, &port));
    ASSERT_TRUE(LoadSettings(UI4(2)));
    ExpectSameFormats(object->Formats(), stored.Formats);
    EXPECT_FALSE(Prop(14).bVal) << "Log is part of the main settings";
    EXPECT_EQ(object->WorkingConnection().Portname, L"COM9");
    EXPECT_EQ(object->LoadedConnection().Portname, L"Auto");
    EXPECT_EQ(Prop(22).bVal, false);
}

TEST_F(ComponentSettingsTest, SaveSettingsOfTheFormatsOnly)
{
    Create();
    ASSERT_TRUE(SaveSettings(I8(2)));
    RegKeyHolder key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Corvane\\Parvel", 0, KEY_READ, key.Receive()),
              ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key.Get(), L"Portname", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    CParvelSettings back;
    LoadSettingsFromRegistry(back, SETTINGS_FORMATS);
    ASSERT_EQ(back.Formats.size(), 1u);
    EXPECT_EQ(back.Formats[0].Name, L"HelmSaaS");
}

TEST_F(ComponentSettingsTest, PortableLoadWithoutTheFileGivesTheDefaults)
{
    MakeFile(moduleFolder.File(L"portable_mode_enabled"));
    Create();
    tVariant port = Str(L"COM9");
    ASSERT_TRUE(c.SetPropVal(1, &port));
    ASSERT_TRUE(LoadSettings(UI4(3)));
    EXPECT_EQ(object->WorkingConnection().Portname, L"Auto");
    EXPECT_TRUE(object->Formats().empty());
}

TEST_F(ComponentSettingsTest, PortableSaveWritesTheFileBesideTheLibrary)
{
    MakeFile(moduleFolder.File(L"portable_mode_enabled"));
    Create();
    ASSERT_TRUE(SaveSettings(UI4(3)));
    ASSERT_NE(GetFileAttributesW(PortableFile().c_str()), INVALID_FILE_ATTRIBUTES);
    CParvelSettings back;
    LoadSettingsFromXml(PortableFile(), back);
    ASSERT_EQ(back.Formats.size(), 1u);
    EXPECT_EQ(back.Formats[0].Name, L"HelmSaaS");
    // And loads from it again.
    tVariant result = Empty();
    std::vector<tVariant> none;
    ASSERT_TRUE(c.Func(MClearFormats, result, none));
    EXPECT_TRUE(object->Formats().empty());
    ASSERT_TRUE(LoadSettings(UI4(2)));
    ExpectOnlyTheDefaultFormat();
}

TEST_F(ComponentSettingsTest, AFailingLoadChangesNothing)
{
    Create();
    {
        RegKeyHolder key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Corvane\\Parvel", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, key.Receive(), nullptr),
                  ERROR_SUCCESS);
        const std::wstring portname = L"COM5";
        RegSetValueExW(key.Get(), L"Portname", 0, REG_SZ, reinterpret_cast<const BYTE*>(portname.c_str()),
                       static_cast<DWORD>((portname.size() + 1) * sizeof(wchar_t)));
        const std::wstring text = L"not a number at all";
        RegSetValueExW(key.Get(), L"KeyTypes", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    EXPECT_FALSE(LoadSettings(UI4(3)));
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0].Status, E_FAIL_CODE);
    EXPECT_NE(host.Errors[0].Description.find(L"RegQueryValueEx"), std::wstring::npos)
        << std::string(host.Errors[0].Description.begin(), host.Errors[0].Description.end());
    EXPECT_EQ(object->LoadedConnection().Portname, L"Auto");
    ExpectOnlyTheDefaultFormat();
}

TEST_F(ComponentSettingsTest, ADamagedSettingsFileIsKeptAndLoggedOnce)
{
    // Cut short inside a format: read as far as it goes, its bytes kept beside it before the next
    // save rewrites it, and one warning in the log whether logging is on or not.
    const std::string cut = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Parvel><Component version=\"1.1\">"
                            "<Connect><Portname>COM7</Portname></Connect><Formats><Item1><Name>HelmSaaS</Name>";
    {
        CFileHandle file(CreateFileW(PortableFile().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file.Valid());
        DWORD written = 0;
        WriteFile(file.Get(), cut.data(), static_cast<DWORD>(cut.size()), &written, nullptr);
    }
    Create();
    ASSERT_TRUE(object->Portable());
    ASSERT_TRUE(LoadSettings(UI4(3)));
    EXPECT_EQ(object->LoadedConnection().Portname, L"COM7");
    ASSERT_TRUE(SaveSettings(UI4(3)));
    ASSERT_TRUE(LoadSettings(UI4(3)));

    std::string kept = ReadFileBytes(PortableFile() + L".bad");
    EXPECT_EQ(kept, cut);
    CParvelSettings back;
    EXPECT_EQ(LoadSettingsFromXml(PortableFile(), back).Damage, XmlDamage::None);
    EXPECT_EQ(back.Portname, L"COM7");
    ASSERT_TRUE(object->FlushLog(5000));
    const std::string log = ReadFileBytes(moduleFolder.File(L"Parvel.log"));
    const size_t line = log.find("W00406");
    ASSERT_NE(line, std::string::npos) << log;
    EXPECT_EQ(log.find("W00406", line + 1), std::string::npos) << log;
    EXPECT_NE(log.find("Parvel.xml.bad"), std::string::npos) << log;
}
