// The registry store, the settings-file store, the load-at-start-up scan and the location rule.
// The registry tests never reach the user's real settings key: HKEY_CURRENT_USER is redirected to a
// scratch key of this process for the length of each test.
#include "Exceptions.h"
#include "RegKey.h"
#include "SettingsLocation.h"
#include "SettingsExpect.h"
#include "SettingsStore.h"
#include "WFormat.h"
#include <windows.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// A record in which every field differs from its default.
CParvelSettings DistinctRecord()
{
    CParvelSettings s;
    s.Portname = L"192.168.0.7:1000 \x041F\x043E\x0440\x0442";
    s.Model = 9;
    s.Speed = 115200;
    s.StopBits = 1;
    s.Flags = 5; // Wiegand on, binary off, CorrectVM100 off
    s.Log = 1;
    s.LogFlags = 0x1F;
    s.ConnectTimeout = 12345;
    s.ReqTimeout = -7;
    s.ReqTries = 9;
    s.ConnectPeriod = 4321;
    s.RxPeriod = 250;
    s.Prefix = 2;
    s.Suffix = -1;
    s.LoadAtStartup = 1;
    s.SearchFlags = 0xABCDEF01;
    s.FindIpTimeout = 0xFFFFFFFF;
    s.FindIpTries = 5;
    s.KeyTypes = 0x2A;
    s.ReadMf.Enabled = 1;
    s.ReadMf.Sect = 15;
    s.ReadMf.Block = 3;
    s.ReadMf.Flags = 3;
    s.ReadMf.Mask = 0x80000001;
    s.ReadMf.Passw = 0xA1B2C3D4E5F6ULL;
    s.ReadUL.Enabled = 1;
    s.ReadUL.Page = 16;
    s.ReadUL.Count = 4;
    s.SoundEnabled = 1;
    s.SoundFiles = {L"C:\\Sounds\\read.wav", L"", L"D:\\\x0417\x0432\x0443\x043A\\err <1> & \"x\".mp3",
                    L"C:\\Sounds\\off.wav"};
    KeyFormat a;
    a.Name = L"HelmSaaS";
    a.Template = L"%.3u,%.5u";
    a.Params = L"K[2],K[0..1]";
    a.Comment = L"Em-Marine & <HID>";
    a.KeyTypes = 0x6;
    a.KeySize = 5;
    KeyFormat b;
    b.Name = L"\x0424\x043E\x0440\x043C\x0430\x0442";
    b.Template = L"%s\\x2C";
    b.KeyTypes = 0;
    b.KeySize = 0;
    KeyFormat c;
    c.Name = L"Wide";
    c.Params = L"K";
    c.KeyTypes = 0x7FFFF;
    c.KeySize = 0xFFFFFFFF;
    s.Formats = {a, b, c};
    return s;
}

KeyFormatList NumberedFormats(int count, const wchar_t* prefix)
{
    KeyFormatList list;
    for (int i = 1; i <= count; ++i) {
        KeyFormat f;
        FormatString(f.Name, L"%s%d", prefix, i);
        f.KeySize = static_cast<uint32_t>(i);
        list.push_back(f);
    }
    return list;
}

unsigned NextUniqueNumber()
{
    static unsigned counter = 0;
    return ++counter;
}

// ---------------------------------------------------------------------------------------------
// Registry

class RegistryStoreTest : public testing::Test
{
protected:
    void SetUp() override
    {
        FormatString(m_scratchPath, L"Software\\ParvelTests\\%lu-%lu-%u", GetCurrentProcessId(), GetTickCount(),
                     NextUniqueNumber());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, m_scratchPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, m_scratch.Receive(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, m_scratch.Get()), ERROR_SUCCESS);
        m_overridden = true;
    }

    void TearDown() override
    {
        if (m_overridden)
            RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        m_settings.Reset();
        m_scratch.Reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, m_scratchPath.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\ParvelTests"); // only when no other run uses it
    }

    // The settings key (under the redirected root), created when missing.
    HKEY SettingsKey()
    {
        if (!m_settings.Get()) {
            EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Corvane\\Parvel", 0, nullptr, 0, KEY_ALL_ACCESS,
                                      nullptr, m_settings.Receive(), nullptr),
                      ERROR_SUCCESS);
        }
        return m_settings.Get();
    }

    static void SetDword(HKEY key, const wchar_t* name, DWORD value)
    {
        ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                  ERROR_SUCCESS);
    }
    static void SetSz(HKEY key, const wchar_t* name, const std::wstring& value)
    {
        ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    std::wstring m_scratchPath;
    RegKeyHolder m_scratch;
    RegKeyHolder m_settings;
    bool m_overridden = false;
};

TEST_F(RegistryStoreTest, EveryFieldRoundTrips)
{
    CParvelSettings saved = DistinctRecord();
    SaveSettingsToRegistry(saved);
    CParvelSettings loaded;
    LoadSettingsFromRegistry(loaded);
    ExpectSameSettings(loaded, saved);

    // The redirection held: the scratch key got the values.
    RegKeyHolder check;
    std::wstring inScratch = m_scratchPath + L"\\Software\\Corvane\\Parvel";
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    m_overridden = false;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, inScratch.c_str(), 0, KEY_READ, check.Receive()), ERROR_SUCCESS);
}

TEST_F(RegistryStoreTest, ValueNamesAndTypesFollowTheLayout)
{
    CParvelSettings s;
    KeyFormat f;
    f.Name = L"One";
    s.Formats.push_back(f);
    SaveSettingsToRegistry(s);

    struct Expected
    {
        const wchar_t* subkey;
        const wchar_t* name;
        DWORD type;
    };
    const Expected layout[] = {
        {L"", L"Portname", REG_SZ},         {L"", L"Model", REG_DWORD},
        {L"", L"Speed", REG_DWORD},         {L"", L"StopBits", REG_DWORD},
        {L"", L"Wiegand", REG_DWORD},       {L"", L"Binary", REG_DWORD},
        {L"", L"CorrectVM100", REG_DWORD},  {L"", L"Log", REG_DWORD},
        {L"", L"LogFlags", REG_DWORD},      {L"", L"ConnectTimeout", REG_DWORD},
        {L"", L"ReqTimeout", REG_DWORD},    {L"", L"ReqTries", REG_DWORD},
        {L"", L"ConnectPeriod", REG_DWORD}, {L"", L"RxPeriod", REG_DWORD},
        {L"", L"Prefix", REG_DWORD},        {L"", L"Suffix", REG_DWORD},
        {L"", L"LoadAtStartup", REG_DWORD}, {L"", L"SearchFlags", REG_DWORD},
        {L"", L"FindIpTimeout", REG_DWORD}, {L"", L"FindIpTries", REG_DWORD},
        {L"", L"KeyTypes", REG_DWORD},      {L"", L"SoundEnabled", REG_DWORD},
        {L"ReadMf", L"Enabled", REG_DWORD}, {L"ReadMf", L"Flags", REG_DWORD},
        {L"ReadMf", L"Mask", REG_DWORD},    {L"ReadMf", L"Passw", REG_SZ},
        {L"ReadMf", L"Sect", REG_DWORD},    {L"ReadMf", L"Block", REG_DWORD},
        {L"ReadUL", L"Enabled", REG_DWORD}, {L"ReadUL", L"Page", REG_DWORD},
        {L"ReadUL", L"Count", REG_DWORD},   {L"SoundFileList", L"Item1", REG_SZ},
        {L"SoundFileList", L"Item2", REG_SZ}, {L"SoundFileList", L"Item3", REG_SZ},
        {L"SoundFileList", L"Item4", REG_SZ}, {L"Formats\\Item1", L"Name", REG_SZ},
        {L"Formats\\Item1", L"Template", REG_SZ}, {L"Formats\\Item1", L"Params", REG_SZ},
        {L"Formats\\Item1", L"Comment", REG_SZ},  {L"Formats\\Item1", L"KeyTypes", REG_DWORD},
        {L"Formats\\Item1", L"KeySize", REG_DWORD},
    };
    std::map<std::wstring, DWORD> valueCounts;
    for (const Expected& e : layout) {
        SCOPED_TRACE(testing::Message() << testing::PrintToString(std::wstring(e.subkey) + L"\\" + e.name));
        DWORD type = 0;
        LONG r = RegGetValueW(SettingsKey(), *e.subkey ? e.subkey : nullptr, e.name, RRF_RT_ANY, &type, nullptr, nullptr);
        EXPECT_EQ(r, ERROR_SUCCESS);
        EXPECT_EQ(type, e.type);
        ++valueCounts[e.subkey];
    }
    // Nothing beyond the layout.
    for (const auto& entry : valueCounts) {
        RegKeyHolder key;
        ASSERT_EQ(RegOpenKeyExW(SettingsKey(), entry.first.empty() ? nullptr : entry.first.c_str(), 0, KEY_READ,
                                key.Receive()),
                  ERROR_SUCCESS);
        DWORD values = 0;
        ASSERT_EQ(RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                   nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(values, entry.second) << testing::PrintToString(entry.first);
    }

    // The number forms: the switches as 0/1, Passw as lower-case hexadecimal without prefix.
    DWORD value = 0;
    DWORD size = sizeof(value);
    EXPECT_EQ(RegGetValueW(SettingsKey(), nullptr, L"CorrectVM100", RRF_RT_REG_DWORD, nullptr, &value, &size), 0);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(RegGetValueW(SettingsKey(), nullptr, L"Binary", RRF_RT_REG_DWORD, nullptr, &value, &size), 0);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(RegGetValueW(SettingsKey(), nullptr, L"Wiegand", RRF_RT_REG_DWORD, nullptr, &value, &size), 0);
    EXPECT_EQ(value, 0u);
    wchar_t text[64] = {};
    DWORD textSize = sizeof(text);
    EXPECT_EQ(RegGetValueW(SettingsKey(), L"ReadMf", L"Passw", RRF_RT_REG_SZ, nullptr, text, &textSize), 0);
    EXPECT_STREQ(text, L"3c7a91e5b20d");
}

TEST_F(RegistryStoreTest, FormatsKeepTheirOrderBeyondNine)
{
    CParvelSettings saved;
    saved.Formats = NumberedFormats(12, L"F");
    SaveSettingsToRegistry(saved, SETTINGS_FORMATS);
    CParvelSettings loaded;
    LoadSettingsFromRegistry(loaded, SETTINGS_FORMATS);
    ExpectSameFormats(loaded.Formats, saved.Formats);

    // A shorter list replaces the longer one whole.
    saved.Formats = NumberedFormats(3, L"G");
    SaveSettingsToRegistry(saved, SETTINGS_FORMATS);
    LoadSettingsFromRegistry(loaded, SETTINGS_FORMATS);
    ExpectSameFormats(loaded.Formats, saved.Formats);

    // Subkeys of another name (added by hand) follow the numbered ones.
    RegKeyHolder odd;
    ASSERT_EQ(RegCreateKeyExW(SettingsKey(), L"Formats\\Custom", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              odd.Receive(), nullptr),
              ERROR_SUCCESS);
    SetSz(odd.Get(), L"Name", L"Hand-made");
    LoadSettingsFromRegistry(loaded, SETTINGS_FORMATS);
    ASSERT_EQ(loaded.Formats.size(), 4u);
    EXPECT_EQ(loaded.Formats[0].Name, L"G1");
    EXPECT_EQ(loaded.Formats[2].Name, L"G3");
    EXPECT_EQ(loaded.Formats[3].Name, L"Hand-made");
}

TEST_F(RegistryStoreTest, TextsOfAnyLengthRoundTrip)
{
    CParvelSettings saved;
    saved.Portname = std::wstring(300, L'P');
    saved.SoundFiles[1] = L"C:\\" + std::wstring(700, L's') + L".wav";
    KeyFormat f;
    f.Name = L"Long";
    f.Template = std::wstring(600, L't');
    for (int i = 0; i < 5000; ++i)
        f.Comment += static_cast<wchar_t>(L'a' + i % 26);
    saved.Formats.push_back(f);
    SaveSettingsToRegistry(saved);
    CParvelSettings loaded;
    LoadSettingsFromRegistry(loaded);
    ExpectSameSettings(loaded, saved);
}

TEST_F(RegistryStoreTest, MissingKeyOrValuesLeaveTheRecord)
{
    // No key at all: nothing changes, the format list included.
    CParvelSettings loaded = DistinctRecord();
    LoadSettingsFromRegistry(loaded);
    ExpectSameSettings(loaded, DistinctRecord());

    // A key with one value: the port name (absent) becomes empty, the sound paths are emptied,
    // everything else stays; without a Formats subkey the list stays.
    SetDword(SettingsKey(), L"Speed", 9600);
    LoadSettingsFromRegistry(loaded);
    CParvelSettings expected = DistinctRecord();
    expected.Portname.clear();
    expected.Speed = 9600;
    for (std::wstring& file : expected.SoundFiles)
        file.clear();
    ExpectSameSettings(loaded, expected);
}

TEST_F(RegistryStoreTest, ValueChecksOfTheLoad)
{
    SetDword(SettingsKey(), L"Model", 12);            // not a model: ignored
    SetDword(SettingsKey(), L"Log", 7);                // a switch: any non-zero is 1
    SetDword(SettingsKey(), L"CorrectVM100", 0);       // off sets the flag bit
    SetSz(SettingsKey(), L"LogFlags", L"1");           // another type that fits in 4 bytes: ignored
    RegKeyHolder mf;
    ASSERT_EQ(RegCreateKeyExW(SettingsKey(), L"ReadMf", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, mf.Receive(), nullptr),
              ERROR_SUCCESS);
    SetSz(mf.Get(), L"Passw", L"zz");                  // no digit: the key stays
    RegKeyHolder sounds;
    ASSERT_EQ(RegCreateKeyExW(SettingsKey(), L"SoundFileList", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              sounds.Receive(), nullptr),
              ERROR_SUCCESS);
    SetSz(sounds.Get(), L"Whatever", L"first.wav");    // by position, not by name
    SetDword(sounds.Get(), L"Other", 1);               // not text: its slot stays empty
    SetSz(sounds.Get(), L"Third", L"third.wav");

    CParvelSettings s;
    s.Model = 3;
    LoadSettingsFromRegistry(s, SETTINGS_MAIN);
    EXPECT_EQ(s.Model, 3u);
    EXPECT_EQ(s.Log, 1u);
    EXPECT_EQ(s.Flags, 2u | 4u);
    EXPECT_EQ(s.LogFlags, 7u);
    EXPECT_EQ(s.ReadMf.Passw, 0x3C7A91E5B20DULL);
    // Values enumerate in an order of the system's choosing: check the set.
    std::vector<std::wstring> files(s.SoundFiles.begin(), s.SoundFiles.end());
    EXPECT_EQ(std::count(files.begin(), files.end(), L"first.wav"), 1);
    EXPECT_EQ(std::count(files.begin(), files.end(), L"third.wav"), 1);
    EXPECT_EQ(std::count(files.begin(), files.end(), L""), 2);
}

TEST_F(RegistryStoreTest, KeyTypesStoredAsLongTextIsReported)
{
    SetSz(SettingsKey(), L"KeyTypes", L"7ffff");
    CParvelSettings s;
    try {
        LoadSettingsFromRegistry(s);
        FAIL() << "no exception";
    } catch (const COSException& e) {
        EXPECT_EQ(e.Code(), static_cast<DWORD>(ERROR_MORE_DATA));
        EXPECT_NE(std::string(e.what()).find("RegQueryValueEx"), std::string::npos) << e.what();
    }
    // The values read before the failure stay read.
    EXPECT_TRUE(s.Portname.empty());
}

// ---------------------------------------------------------------------------------------------
// Settings file

class TempFolder
{
public:
    TempFolder()
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        FormatString(m_path, L"%sParvelSettingsTest-%lu-%lu-%u", temp, GetCurrentProcessId(), GetTickCount(),
                     NextUniqueNumber());
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~TempFolder() { Remove(m_path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    static void Remove(const std::wstring& folder)
    {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = data.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                std::wstring full = folder + L"\\" + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    Remove(full);
                else
                    DeleteFileW(full.c_str());
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
        RemoveDirectoryW(folder.c_str());
    }

    std::wstring m_path;
};

std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return bytes;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0)
        bytes.append(buffer, n);
    fclose(f);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// A settings file from UTF-8 text, with the byte-order mark.
void WriteSettingsFile(const std::wstring& path, const std::string& utf8)
{
    WriteBytes(path, "\xEF\xBB\xBF" + utf8);
}

std::string Component11(const std::string& content)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Parvel>\r\n<Component version=\"1.1\">\r\n" + content
           + "</Component>\r\n</Parvel>\r\n";
}

// The test data folder: Wine shows the Unix root as drive Z:.
std::wstring TestDataFile(const std::wstring& name)
{
    std::string unix = PARVEL_TESTDATA_DIR;
    std::wstring path = L"Z:";
    for (char c : unix)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path + L"\\" + name;
}

TEST(XmlSettingsStore, DefaultRecordMatchesTheReferenceFile)
{
    TempFolder folder;
    SaveSettingsToXml(folder / L"Parvel.xml", CParvelSettings());
    std::string written = ReadBytes(folder / L"Parvel.xml");
    std::string golden = ReadBytes(TestDataFile(L"Parvel.default.xml"));
    ASSERT_FALSE(golden.empty()) << "reference file missing";
    EXPECT_EQ(written, golden);
}

TEST(XmlSettingsStore, EveryFieldRoundTrips)
{
    TempFolder folder;
    CParvelSettings saved = DistinctRecord();
    SaveSettingsToXml(folder / L"Parvel.xml", saved);
    CParvelSettings loaded;
    LoadSettingsFromXml(folder / L"Parvel.xml", loaded);
    ExpectSameSettings(loaded, saved);

    // Twelve formats keep their order through the file as well.
    saved.Formats = NumberedFormats(12, L"F");
    SaveSettingsToXml(folder / L"Parvel.xml", saved, SETTINGS_FORMATS);
    loaded = CParvelSettings();
    LoadSettingsFromXml(folder / L"Parvel.xml", loaded, SETTINGS_FORMATS);
    ExpectSameFormats(loaded.Formats, saved.Formats);
}

TEST(XmlSettingsStore, OnlyVersionOneOneIsRead)
{
    struct Case
    {
        const char* componentTag;
        bool read;
    };
    const Case cases[] = {
        {"<Component version=\"1.1\">", true},
        {"<Component version=\"257.1\">", true}, // each number is taken modulo 256
        {"<Component version=\"1.2\">", false},
        {"<Component version=\"2.1\">", false},
        {"<Component version=\"1\">", false},
        {"<Component>", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.componentTag);
        TempFolder folder;
        std::string text = std::string("<?xml version=\"1.0\"?>\r\n<Parvel>\r\n") + c.componentTag
                           + "\r\n<Connect><Portname>COM3</Portname></Connect>\r\n<Extra/>\r\n</Component>\r\n</Parvel>\r\n";
        WriteSettingsFile(folder / L"Parvel.xml", text);
        CParvelSettings s;
        LoadSettingsFromXml(folder / L"Parvel.xml", s);
        EXPECT_EQ(s.Portname, c.read ? L"COM3" : L"Auto");

        // Saving into it keeps what the store does not know only in a readable file.
        SaveSettingsToXml(folder / L"Parvel.xml", CParvelSettings(), SETTINGS_FORMATS);
        std::string after = ReadBytes(folder / L"Parvel.xml");
        EXPECT_EQ(after.find("<Extra/>") != std::string::npos, c.read);
        EXPECT_EQ(after.find("COM3") != std::string::npos, c.read);
        EXPECT_NE(after.find(c.read ? c.componentTag : "<Component version=\"1.1\">"), std::string::npos);
    }
}

TEST(XmlSettingsStore, SavingFormatsOnlyKeepsTheMainValues)
{
    TempFolder folder;
    SaveSettingsToXml(folder / L"Parvel.xml", DistinctRecord());
    CParvelSettings formatsOnly;
    formatsOnly.Formats = NumberedFormats(2, L"New");
    SaveSettingsToXml(folder / L"Parvel.xml", formatsOnly, SETTINGS_FORMATS);

    CParvelSettings loaded;
    LoadSettingsFromXml(folder / L"Parvel.xml", loaded);
    ExpectSameMain(loaded, DistinctRecord());
    ExpectSameFormats(loaded.Formats, formatsOnly.Formats);

    // And the other way round: a main-only save keeps the list.
    SaveSettingsToXml(folder / L"Parvel.xml", CParvelSettings(), SETTINGS_MAIN);
    loaded = CParvelSettings();
    LoadSettingsFromXml(folder / L"Parvel.xml", loaded);
    ExpectSameMain(loaded, CParvelSettings());
    ExpectSameFormats(loaded.Formats, formatsOnly.Formats);
}

TEST(XmlSettingsStore, PartsOfAHandWrittenFile)
{
    TempFolder folder;
    WriteSettingsFile(folder / L"Parvel.xml", Component11(
        "<Main Log=\"5\"><LogFlags>0X1F</LogFlags><SearchFlags>zz</SearchFlags></Main>\r\n"
        "<ReadKeys><KeyTypes>0x2a</KeyTypes><ReadMf Enabled=\"2\" Sect=\"x\" Passw=\"FFEEDDCCBBAA\"/></ReadKeys>\r\n"
        "<Sound Enabled=\"1\"><A>one.wav</A><B>two.wav</B></Sound>\r\n"
        "<Connect Binary=\"0\"><Model>12</Model><Speed>fast</Speed><ReqTries>abc</ReqTries></Connect>\r\n"
        "<Formats>\r\n"
        "<Item1><Name>First</Name><KeyTypes>ff</KeyTypes><KeySize>4</KeySize></Item1>\r\n"
        "<Item2><Template>%u</Template><KeyTypes>1</KeyTypes></Item2>\r\n"
        "<Other><Name>Second</Name></Other>\r\n"
        "</Formats>\r\n"));
    CParvelSettings s;
    s.Model = 3;
    s.Speed = 9600;
    s.ReadMf.Sect = 5;
    s.SoundFiles = {L"a", L"b", L"c", L"d"};
    s.Formats = NumberedFormats(1, L"Kept");
    LoadSettingsFromXml(folder / L"Parvel.xml", s);

    EXPECT_EQ(s.Log, 1u);
    EXPECT_EQ(s.LoadAtStartup, 0u);            // missing: 0
    EXPECT_EQ(s.LogFlags, 0x1Fu);              // either case, with a prefix
    EXPECT_EQ(s.SearchFlags, 14u);             // no digit: stays
    EXPECT_EQ(s.KeyTypes, 0x2Au);
    EXPECT_EQ(s.ReadMf.Enabled, 1u);
    EXPECT_EQ(s.ReadMf.Sect, 5u);              // no digit: stays
    EXPECT_EQ(s.ReadMf.Block, 1u);             // missing: stays
    EXPECT_EQ(s.ReadMf.Mask, 0xFFFFFFFFu);
    EXPECT_EQ(s.ReadMf.Passw, 0xFFEEDDCCBBAAULL);
    EXPECT_EQ(s.SoundEnabled, 1u);
    EXPECT_EQ(s.SoundFiles[0], L"one.wav");    // two children change only the first two paths
    EXPECT_EQ(s.SoundFiles[1], L"two.wav");
    EXPECT_EQ(s.SoundFiles[2], L"c");
    EXPECT_EQ(s.SoundFiles[3], L"d");
    EXPECT_EQ(s.Flags, 4u);                    // Wiegand and CorrectVM100 missing: off
    EXPECT_EQ(s.Model, 3u);                    // 12 is no model
    EXPECT_EQ(s.Speed, 9600u);                 // not a number: stays
    EXPECT_EQ(s.ReqTries, 0);                  // not a number: 0
    EXPECT_EQ(s.Portname, L"Auto");            // no element: stays

    // The list is appended to; a format without a name is dropped, and a missing KeyTypes is 0.
    ASSERT_EQ(s.Formats.size(), 3u);
    EXPECT_EQ(s.Formats[0].Name, L"Kept1");
    EXPECT_EQ(s.Formats[1].Name, L"First");
    EXPECT_EQ(s.Formats[1].KeyTypes, 0xFFu);
    EXPECT_EQ(s.Formats[1].KeySize, 4u);
    EXPECT_EQ(s.Formats[2].Name, L"Second");
    EXPECT_EQ(s.Formats[2].KeyTypes, 0u);
}

TEST(XmlSettingsStore, AFileNotReadWholeIsKeptBeforeItIsWrittenOver)
{
    TempFolder folder;
    const std::wstring file = folder / L"Parvel.xml";
    // Cut short just after a format's template: the file is read as far as it goes, and its bytes
    // are kept beside it once, however often it is read.
    const std::string cut = "\xEF\xBB\xBF" + Component11("<Connect><Portname>COM7</Portname></Connect>"
                                                         "<Formats><Item1><Name>Whole</Name><Template>%u</Template>"
                                                         "<Params>w01</Params><Comment/><KeyTypes>2</KeyTypes>"
                                                         "<KeySize>0</KeySize></Item1>"
                                                         "<Item2><Name>HelmSaaS</Name><Template>%.3u</Template>");
    const std::string damaged = cut.substr(0, cut.find("</Component>"));
    WriteBytes(file, damaged);
    CParvelSettings loaded;
    DamagedFileCopy kept = LoadSettingsFromXml(file, loaded);
    EXPECT_EQ(XmlDamage::Truncated, kept.Damage);
    EXPECT_TRUE(kept.NewCopy);
    EXPECT_EQ(file + L".bad", kept.CopyPath);
    EXPECT_EQ(damaged, ReadBytes(file + L".bad"));
    EXPECT_EQ(L"COM7", loaded.Portname);
    // The record the cut went through is not taken for the user's format; the whole one before it is.
    ASSERT_EQ(1u, loaded.Formats.size());
    EXPECT_EQ(L"Whole", loaded.Formats[0].Name);
    EXPECT_EQ(L"w01", loaded.Formats[0].Params);
    CParvelSettings again;
    EXPECT_FALSE(LoadSettingsFromXml(file, again).NewCopy);
    EXPECT_NE(std::wstring::npos, DamagedFileMessage(kept).find(file + L".bad"));

    // The save that rewrites it finds the copy already there; the file is whole afterwards.
    kept = SaveSettingsToXml(file, DistinctRecord(), SETTINGS_MAIN);
    EXPECT_EQ(XmlDamage::Truncated, kept.Damage);
    EXPECT_FALSE(kept.NewCopy);
    EXPECT_EQ(XmlDamage::None, LoadSettingsFromXml(file, loaded).Damage);

    // Other damaged content gets a numbered copy; the first stays as it was.
    const std::string foreign = "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<parvel><Component version=\"1.1\"/></parvel>\r\n";
    WriteBytes(file, foreign);
    kept = SaveSettingsToXml(file, DistinctRecord());
    EXPECT_EQ(XmlDamage::ForeignRoot, kept.Damage);
    EXPECT_EQ(file + L".bad.1", kept.CopyPath);
    EXPECT_EQ(foreign, ReadBytes(file + L".bad.1"));
    EXPECT_EQ(damaged, ReadBytes(file + L".bad"));
    // What was written is one document with one Parvel root, not a second root beside <parvel>.
    const std::string written = ReadBytes(file);
    EXPECT_EQ(std::string::npos, written.find("<parvel>"));
    EXPECT_EQ(written.find("<Parvel>"), written.rfind("<Parvel>"));
    CParvelSettings back;
    EXPECT_EQ(XmlDamage::None, LoadSettingsFromXml(file, back).Damage);
    ExpectSameMain(back, DistinctRecord());

    // A processing instruction before the root is no foreign root: the file is whole and keeps it.
    std::string styled = "\xEF\xBB\xBF" + Component11("<Connect><Portname>COM9</Portname></Connect>");
    styled.insert(styled.find("<Parvel>"), "<?xml-stylesheet href=\"p.xsl\"?>\r\n");
    WriteBytes(file, styled);
    kept = SaveSettingsToXml(file, DistinctRecord(), SETTINGS_FORMATS);
    EXPECT_EQ(XmlDamage::None, kept.Damage);
    EXPECT_EQ(XmlDamage::None, LoadSettingsFromXml(file, back).Damage);
    EXPECT_EQ(L"COM9", back.Portname);
    EXPECT_NE(std::string::npos, ReadBytes(file).find("<?xml-stylesheet href=\"p.xsl\"?>\r\n"));

    // When the copy cannot be kept, the file is not written over.
    WriteBytes(file, damaged);
    CreateDirectoryW((file + L".bad.2").c_str(), nullptr);
    WriteBytes(file + L".bad", "other");
    WriteBytes(file + L".bad.1", "other");
    for (int i = 3; i < 100; ++i)
        WriteBytes(file + L".bad." + std::to_wstring(i), "other");
    EXPECT_THROW(SaveSettingsToXml(file, DistinctRecord()), CFileException);
    EXPECT_EQ(damaged, ReadBytes(file));
}

TEST(XmlSettingsStore, SavingIntoAMissingFolderCreatesIt)
{
    TempFolder folder;
    std::wstring path = folder / L"a\\b\\Parvel.xml";
    SaveSettingsToXml(path, DistinctRecord());
    CParvelSettings loaded;
    LoadSettingsFromXml(path, loaded);
    ExpectSameSettings(loaded, DistinctRecord());
}

TEST(XmlSettingsStore, MissingFileFailsToLoad)
{
    TempFolder folder;
    CParvelSettings s;
    EXPECT_THROW(LoadSettingsFromXml(folder / L"Parvel.xml", s), CFileException);
    EXPECT_THROW(ReadXmlLoadAtStartup(folder / L"Parvel.xml"), CFileException);
}

TEST(XmlSettingsStore, LoadAtStartupScan)
{
    struct Case
    {
        std::string text;
        bool bom;
        bool result;
    };
    const Case cases[] = {
        {"<Main Log=\"0\" LoadAtStartup=\"1\"/>", true, true},
        {"<Main Log=\"0\" LoadAtStartup=\"1\"/>", false, true},
        {"<Main LoadAtStartup=\"12\"/>", true, true},
        {"<Main LoadAtStartup=\"0\"/>", true, false},
        {"<Main LoadAtStartup =\"1\"/>", true, false}, // a blank before the equals sign
        {"<Main LoadAtStartup=\"x\"/>", true, false},
        {"<Main LoadAtStartup='1'/>", true, false},
        {"<Main Log=\"1\"/>", true, false},
        {"", true, false},
        {"<!-- LoadAtStartup --><Main LoadAtStartup=\"1\"/>", true, false}, // only the first occurrence
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TempFolder folder;
        WriteBytes(folder / L"Parvel.xml", (c.bom ? "\xEF\xBB\xBF" : "") + c.text);
        EXPECT_EQ(ReadXmlLoadAtStartup(folder / L"Parvel.xml"), c.result);
    }
    {
        // A file saved as UTF-16 with its mark, as some editors do, is scanned as UTF-16.
        TempFolder folder;
        const std::string utf16("\xFF\xFE<\0M\0 \0L\0o\0a\0d\0A\0t\0S\0t\0a\0r\0t\0u\0p\0=\0\"\0" "1\0\"\0/\0>\0", 44);
        WriteBytes(folder / L"Parvel.xml", utf16);
        EXPECT_TRUE(ReadXmlLoadAtStartup(folder / L"Parvel.xml"));
    }

    TempFolder folder;
    CParvelSettings s;
    s.LoadAtStartup = 1;
    SaveSettingsToXml(folder / L"Parvel.xml", s);
    EXPECT_TRUE(ReadXmlLoadAtStartup(folder / L"Parvel.xml"));
}

// ---------------------------------------------------------------------------------------------
// Location rule

TEST(SettingsLocationRule, PortableModeNeedsOneOfTheTwoFiles)
{
    struct Case
    {
        const wchar_t* files[2];
        const wchar_t* folders[2];
        bool portable;
    };
    const Case cases[] = {
        {{}, {}, false},
        {{L"Parvel.xml"}, {}, true},
        {{L"portable_mode_enabled"}, {}, true},
        {{L"Parvel.xml", L"portable_mode_enabled"}, {}, true},
        {{}, {L"Parvel.xml"}, false},
        {{}, {L"portable_mode_enabled"}, false},
        {{L"portable_mode_enabled"}, {L"Parvel.xml"}, true},
        {{L"Parvel.xml.bak"}, {}, false},
    };
    for (const Case& c : cases) {
        TempFolder module;
        std::wstring names;
        for (const wchar_t* name : c.files)
            if (name) {
                WriteBytes(module / name, "");
                names += std::wstring(L" file ") + name;
            }
        for (const wchar_t* name : c.folders)
            if (name) {
                CreateDirectoryW((module / name).c_str(), nullptr);
                names += std::wstring(L" folder ") + name;
            }
        SCOPED_TRACE(testing::PrintToString(names));
        EXPECT_EQ(IsPortableFolder(module.Path()), c.portable);
        if (c.portable) {
            SettingsLocation location = DecideSettingsLocation(module.Path());
            EXPECT_TRUE(location.Portable);
            EXPECT_EQ(location.DataFolder, module.Path());
            EXPECT_EQ(location.SettingsFile, module / L"Parvel.xml");
            EXPECT_TRUE(GetSettingsLocation(module / L"Parvel.dll").Portable);
        }
    }
}

TEST(SettingsLocationRule, OtherwiseTheDataFolderIsCreatedUnderApplicationData)
{
    TempFolder module;
    TempFolder appData;
    SettingsLocation location = DecideSettingsLocation(module.Path(), appData.Path());
    EXPECT_FALSE(location.Portable);
    EXPECT_TRUE(location.SettingsFile.empty());
    EXPECT_EQ(location.DataFolder, appData / L"Corvane\\Parvel");
    DWORD attributes = GetFileAttributesW(location.DataFolder.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));

    // A file where the folder should go: reported as the folder creation's failure.
    WriteBytes(appData / L"blocked", "");
    try {
        DecideSettingsLocation(module.Path(), appData / L"blocked");
        FAIL() << "no exception";
    } catch (const COSException& e) {
        EXPECT_NE(std::string(e.what()).find("ForceDirectories"), std::string::npos) << e.what();
    }
}

} // namespace
