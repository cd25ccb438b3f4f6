// The application data: round trips of every section through both stores and ConfigParvel.xml,
// the format merge, the modified flags, portable and registry mode.
#include "ConfigTestSupport.h"
#include "FileProblem.h"
#include "SettingsLocation.h"
#include "SettingsExpect.h"
#include "SettingsStore.h"

namespace {

KeyFormatItem Format(const wchar_t* name, uint32_t enabled, uint32_t keyTypes = 2, uint32_t keySize = 0)
{
    KeyFormatItem item;
    item.Name = name;
    item.Template = L"%u";
    item.Params = L"l012Z";
    item.Comment = std::wstring(L"comment of ") + name;
    item.KeyTypes = keyTypes;
    item.KeySize = keySize;
    item.Enabled = enabled;
    return item;
}

// Every value of the add-in's settings copy away from its default.
void FillAddinValues(CAppData& app)
{
    app.Portname = L"COM7";
    app.Model = 3;
    app.Speed = 19200;
    app.StopBits = 2;
    app.Flags = 5;
    app.Log = 1;
    app.LogFlags = 0x1F;
    app.ConnectTimeout = 5000;
    app.ReqTimeout = 700;
    app.ReqTries = 4;
    app.ConnectPeriod = 1500;
    app.RxPeriod = 250;
    app.Prefix = 2;
    app.Suffix = 10;
    app.LoadAtStartup = 1;
    app.SearchFlags = 3;
    app.FindIpTimeout = 900;
    app.FindIpTries = 5;
    app.KeyTypes = 0x62;
    app.ReadMf = ReadMfSettings{1, 3, 2, 2, 0x0F, 0x112233445566ULL};
    app.ReadUL = ReadULSettings{1, 8, 3};
    app.SoundEnabled = 1;
    app.SoundFiles = {L"C:\\a.wav", L"", L"C:\\Медиа\\c.mp3", L"d.wav"};
}

void ExpectAddinValues(const CAppData& a, const CAppData& b)
{
    CParvelSettings x, y;
    a.CopySettingsTo(x);
    b.CopySettingsTo(y);
    ExpectSameMain(x, y);
}

void FillUiState(CAppData& app)
{
    app.ConfirmFlags = 5;
    app.AppWinRect = RECT{10, 20, 810, 620};
    app.KTGroupsRect = RECT{1, 2, 441, 252};
    app.DevOpenRect = RECT{-100, 5, 200, 300};
    app.FormatRect = RECT{3, 4, 5, 6};
    app.MethodRect = RECT{7, 8, 90, 100};
    app.FormatsKTGroup = 3;
    app.FormatsOnlyEnabled = true;
    app.FormatsSortColumn = -2;
    app.FormatsColumns = {{1, 30}, {2, 150}, {3, 60}};
    app.KTGroupsSortColumn = 3;
    app.KTGroupsColumns = {{1, 35}, {2, 200}};
    app.SoundsColumns = {{1, 100}};
    app.EventsColumns = {{1, 80}, {4, 300}};
    app.PropertiesSortColumn = 1;
    app.PropertiesColumns = {{2, 40}};
    app.MethodsSortColumn = -6;
    app.MethodsColumns = {{6, 250}};
    app.MethArgsColumns = {{1, 75}, {2, 75}};
    MethodArguments open(1);
    open[0].Type = 8;
    open[0].Value = L"COM3";
    app.SetMethodArgs(L"Open", open);
    MethodArguments check(2);
    check[0].Type = 8;
    check[0].Value = L"%u";
    check[1].Type = 8;
    check[1].Value = L"b0 \"x\" <&>";
    app.SetMethodArgs(L"CheckFormat", check);
    app.SetMethodArgs(L"Close", MethodArguments());
}

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

void ExpectUiState(const CAppData& a, const CAppData& b)
{
    EXPECT_EQ(a.ConfirmFlags, b.ConfirmFlags);
    EXPECT_TRUE(SameRect(a.AppWinRect, b.AppWinRect));
    EXPECT_TRUE(SameRect(a.KTGroupsRect, b.KTGroupsRect));
    EXPECT_TRUE(SameRect(a.DevOpenRect, b.DevOpenRect));
    EXPECT_TRUE(SameRect(a.FormatRect, b.FormatRect));
    EXPECT_TRUE(SameRect(a.MethodRect, b.MethodRect));
    EXPECT_EQ(a.FormatsKTGroup, b.FormatsKTGroup);
    EXPECT_EQ(a.FormatsOnlyEnabled, b.FormatsOnlyEnabled);
    EXPECT_EQ(a.FormatsSortColumn, b.FormatsSortColumn);
    EXPECT_EQ(a.FormatsColumns, b.FormatsColumns);
    EXPECT_EQ(a.KTGroupsSortColumn, b.KTGroupsSortColumn);
    EXPECT_EQ(a.KTGroupsColumns, b.KTGroupsColumns);
    EXPECT_EQ(a.SoundsColumns, b.SoundsColumns);
    EXPECT_EQ(a.EventsColumns, b.EventsColumns);
    EXPECT_EQ(a.PropertiesSortColumn, b.PropertiesSortColumn);
    EXPECT_EQ(a.PropertiesColumns, b.PropertiesColumns);
    EXPECT_EQ(a.MethodsSortColumn, b.MethodsSortColumn);
    EXPECT_EQ(a.MethodsColumns, b.MethodsColumns);
    EXPECT_EQ(a.MethArgsColumns, b.MethArgsColumns);
    ASSERT_EQ(a.MethodArgs.size(), b.MethodArgs.size());
    for (const auto& entry : a.MethodArgs) {
        auto found = b.MethodArgs.find(entry.first);
        ASSERT_NE(found, b.MethodArgs.end());
        ASSERT_EQ(entry.second.size(), found->second.size());
        for (size_t i = 0; i < entry.second.size(); ++i) {
            EXPECT_EQ(entry.second[i].Type, found->second[i].Type);
            EXPECT_EQ(entry.second[i].Value, found->second[i].Value);
        }
    }
}

void ExpectLibrary(const CAppData& a, const CAppData& b)
{
    ASSERT_EQ(a.Formats.size(), b.Formats.size());
    for (size_t i = 0; i < a.Formats.size(); ++i) {
        EXPECT_EQ(a.Formats[i].Name, b.Formats[i].Name);
        EXPECT_EQ(a.Formats[i].Template, b.Formats[i].Template);
        EXPECT_EQ(a.Formats[i].Params, b.Formats[i].Params);
        EXPECT_EQ(a.Formats[i].Comment, b.Formats[i].Comment);
        EXPECT_EQ(a.Formats[i].KeyTypes, b.Formats[i].KeyTypes);
        EXPECT_EQ(a.Formats[i].KeySize, b.Formats[i].KeySize);
        EXPECT_EQ(a.Formats[i].Enabled != 0, b.Formats[i].Enabled != 0);
    }
    ASSERT_EQ(a.KTGroups.size(), b.KTGroups.size());
    for (size_t i = 0; i < a.KTGroups.size(); ++i) {
        EXPECT_EQ(a.KTGroups[i].Name, b.KTGroups[i].Name);
        EXPECT_EQ(a.KTGroups[i].KeyTypes, b.KTGroups[i].KeyTypes);
        EXPECT_EQ(a.KTGroups[i].Visible != 0, b.KTGroups[i].Visible != 0);
    }
}

void FillLibrary(CAppData& app)
{
    app.Formats = {Format(L"A", 1, 0x2, 0), Format(L"Б", 0, 0x7FFFF, 4), Format(L"C", 1, 0x60, 5),
                   Format(L"", 0, 0, 0)};
    app.Formats[1].Params = L"b2\r\nw01";
    app.Formats[1].Template = L"%03u\\x2C%05u";
    app.KTGroups = {KeyTypeGroup{L"HID", 4, 1}, KeyTypeGroup{L"Все", 0, 0}};
}

class AppDataModes : public AppDataTest, public ::testing::WithParamInterface<bool>
{
};

} // namespace

TEST_P(AppDataModes, EverySectionRoundTrips)
{
    m_app.SetLocation(GetParam(), m_folder.Path());
    FillAddinValues(m_app);
    FillLibrary(m_app);
    FillUiState(m_app);
    m_app.ModifiedFlags = DATA_LIBRARY | DATA_UI | DATA_ADDIN;
    m_app.Save(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    EXPECT_EQ(m_app.ModifiedFlags, 0u);

    CAppData back;
    back.SetLocation(GetParam(), m_folder.Path());
    back.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    ExpectAddinValues(m_app, back);
    ExpectUiState(m_app, back);
    // The nameless entry is enabled = 0 here, so only ConfigParvel.xml carries it.
    ExpectLibrary(m_app, back);
    EXPECT_EQ(back.Formats[0].Conflict, 0u); // A (0x2) and C (0x60) share no key type

    // Readers accept what the writers wrote a second time, unchanged.
    const std::string first = ReadFileBytes(ConfigFile());
    back.Save(DATA_LIBRARY | DATA_UI);
    EXPECT_EQ(ReadFileBytes(ConfigFile()), first);
}

INSTANTIATE_TEST_SUITE_P(RegistryAndPortable, AppDataModes, ::testing::Values(false, true));

TEST_F(AppDataTest, PortableModeWritesParvelXmlBesideTheProgramAndNoRegistry)
{
    TestFolder program;
    WriteFileBytes(program.File(L"portable_mode_enabled"), "");
    SettingsLocation location = DecideSettingsLocation(program.Path(), m_folder.Path());
    ASSERT_TRUE(location.Portable);
    m_app.SetLocation(location.Portable, location.DataFolder);
    FillAddinValues(m_app);
    m_app.Formats = {Format(L"On", 1), Format(L"Off", 0)};
    m_app.Save(DATA_ADDIN | DATA_LIBRARY);

    EXPECT_FALSE(AddinKeyExists());
    EXPECT_TRUE(FileExists(program.File(L"Parvel.xml")));
    EXPECT_TRUE(FileExists(program.File(AppConfigFileName)));
    CParvelSettings stored;
    LoadSettingsFromXml(program.File(L"Parvel.xml"), stored);
    EXPECT_EQ(stored.Portname, L"COM7");
    ASSERT_EQ(stored.Formats.size(), 1u);
    EXPECT_EQ(stored.Formats[0].Name, L"On");

    // Without the file the add-in's values read as defaults and the library keeps its marks.
    DeleteFileW(program.File(L"Parvel.xml").c_str());
    CAppData fresh;
    fresh.SetLocation(true, program.Path());
    fresh.Load(DATA_LIBRARY | DATA_ADDIN);
    EXPECT_EQ(fresh.Portname, L"Auto");
    ASSERT_EQ(fresh.Formats.size(), 2u);
    EXPECT_EQ(fresh.Formats[0].Enabled, 1u);
    EXPECT_EQ(fresh.Formats[1].Enabled, 0u);
    EXPECT_FALSE(AddinKeyExists());
}

TEST_F(AppDataTest, RegistryModeWritesTheAddinsKeyAndNoSettingsFile)
{
    FillAddinValues(m_app);
    m_app.Formats = {Format(L"On", 1)};
    m_app.Save(DATA_ADDIN);
    EXPECT_TRUE(AddinKeyExists());
    EXPECT_FALSE(FileExists(m_folder.File(L"Parvel.xml")));
    CParvelSettings stored;
    LoadSettingsFromRegistry(stored);
    EXPECT_EQ(stored.Portname, L"COM7");
    EXPECT_EQ(stored.ReadMf.Passw, 0x112233445566ULL);
    ASSERT_EQ(stored.Formats.size(), 1u);
}

TEST_F(AppDataTest, StoreFormatsMergeIntoTheLibrary)
{
    m_app.Formats = {Format(L"A", 0, 0x2), Format(L"B", 1, 0x4), Format(L"C", 1, 0x8), Format(L"D", 0, 0x2)};
    m_app.Save(DATA_LIBRARY);

    // The add-in's store: a changed A, and a new E; it does not name B or C.
    CParvelSettings store;
    KeyFormat a = Format(L"A", 0, 0x6, 3);
    a.Template = L"%08X";
    a.Params = L"l0123";
    a.Comment = L"from the add-in";
    store.Formats = {a, Format(L"E", 0, 0x2)};
    SaveSettingsToRegistry(store);

    m_app.Load(DATA_LIBRARY | DATA_ADDIN);
    ASSERT_EQ(m_app.Formats.size(), 5u);
    const KeyFormatItem& merged = m_app.Formats[0];
    EXPECT_EQ(merged.Name, L"A");
    EXPECT_EQ(merged.Template, L"%08X");
    EXPECT_EQ(merged.Params, L"l0123");
    EXPECT_EQ(merged.Comment, L"from the add-in");
    EXPECT_EQ(merged.KeyTypes, 0x6u);
    EXPECT_EQ(merged.KeySize, 3u);
    EXPECT_EQ(merged.Enabled, 1u);
    EXPECT_EQ(m_app.Formats[4].Name, L"E");
    EXPECT_EQ(m_app.Formats[4].Enabled, 1u);
    EXPECT_EQ(m_app.Formats[1].Enabled, 1u); // B and C keep their own marks
    EXPECT_EQ(m_app.Formats[2].Enabled, 1u);
    EXPECT_EQ(m_app.Formats[3].Enabled, 0u);
    // A (0x6, size 3) overlaps B (0x4) and E (0x2): marked after the merge.
    EXPECT_EQ(m_app.Formats[0].Conflict, 1u);
    EXPECT_EQ(m_app.Formats[1].Conflict, 1u);
    EXPECT_EQ(m_app.Formats[2].Conflict, 0u);
    EXPECT_EQ(m_app.Formats[4].Conflict, 1u);

    // B and C reach the add-in at the next save, in library order.
    m_app.Save(DATA_ADDIN);
    CParvelSettings after;
    LoadSettingsFromRegistry(after);
    ASSERT_EQ(after.Formats.size(), 4u);
    EXPECT_EQ(after.Formats[0].Name, L"A");
    EXPECT_EQ(after.Formats[1].Name, L"B");
    EXPECT_EQ(after.Formats[2].Name, L"C");
    EXPECT_EQ(after.Formats[3].Name, L"E");
}

TEST_F(AppDataTest, ModifiedFlagRules)
{
    WriteDefault();
    m_app.ModifiedFlags = DATA_LIBRARY | DATA_UI | DATA_ADDIN | 0x10;
    m_app.Load(DATA_UI);
    EXPECT_EQ(m_app.ModifiedFlags, DATA_LIBRARY | DATA_UI | DATA_ADDIN | 0x10);
    m_app.Load(DATA_LIBRARY | DATA_ADDIN);
    EXPECT_EQ(m_app.ModifiedFlags, DATA_UI | 0x10);
    m_app.Load(0x30); // no part named: nothing happens
    EXPECT_EQ(m_app.Formats.size(), 42u);

    m_app.ModifiedFlags = DATA_LIBRARY | DATA_UI | DATA_ADDIN;
    m_app.Save(DATA_ADDIN);
    EXPECT_EQ(m_app.ModifiedFlags, DATA_LIBRARY | DATA_UI);
    m_app.Save(DATA_UI);
    EXPECT_EQ(m_app.ModifiedFlags, DATA_LIBRARY);
    m_app.Save(DATA_LIBRARY);
    EXPECT_EQ(m_app.ModifiedFlags, 0u);

    // The argument history sets no bit; Default marks what it reset, so that closing asks.
    m_app.SetMethodArgs(L"Open", MethodArguments(1));
    EXPECT_EQ(m_app.ModifiedFlags, 0u);
    const uint32_t marks[] = {DATA_ADDIN, DATA_LIBRARY | DATA_ADDIN, DATA_ADDIN, DATA_ADDIN, DATA_UI};
    for (int page = DefaultsConnection; page <= DefaultsOptions; ++page) {
        m_app.ModifiedFlags = 0;
        m_app.SetPageDefaults(page);
        EXPECT_EQ(m_app.ModifiedFlags, marks[page]) << "page " << page;
    }
}

TEST_F(AppDataTest, DefaultsPerPage)
{
    FillAddinValues(m_app);
    FillLibrary(m_app);
    m_app.ConfirmFlags = 0;
    CAppData defaults;

    m_app.SetPageDefaults(DefaultsConnection);
    EXPECT_EQ(m_app.Portname, L"Auto");
    EXPECT_EQ(m_app.Flags, 2u);
    EXPECT_EQ(m_app.RxPeriod, -1);
    EXPECT_EQ(m_app.FindIpTries, 1u);
    EXPECT_EQ(m_app.KeyTypes, 0x62u); // another page's value stays
    EXPECT_EQ(m_app.SoundEnabled, 1u);

    m_app.SetPageDefaults(DefaultsReadKeys);
    EXPECT_EQ(m_app.KeyTypes, 0x7FFFFu);
    EXPECT_EQ(m_app.ReadMf.Passw, 0x3C7A91E5B20DULL);
    EXPECT_EQ(m_app.ReadUL.Page, 4u);
    EXPECT_EQ(m_app.SoundEnabled, 1u);

    m_app.SetPageDefaults(DefaultsSounds);
    EXPECT_EQ(m_app.SoundEnabled, 0u);
    EXPECT_EQ(m_app.SoundFiles, defaults.SoundFiles);
    ExpectAddinValues(m_app, defaults);

    m_app.SetPageDefaults(DefaultsFormats);
    EXPECT_TRUE(m_app.Formats.empty());
    EXPECT_EQ(m_app.KTGroups.size(), 2u);
    m_app.SetPageDefaults(DefaultsOptions);
    EXPECT_EQ(m_app.ConfirmFlags, 7u);
}

TEST_F(AppDataTest, UiStateRulesOfLoad)
{
    WriteFileBytes(ConfigFile(), "\xEF\xBB\xBF<Parvel><Configurator version=\"1.1\"><UI><Formats sortColumn=\"2\"/>"
                                 "</UI><MethArgs><Open><Item type=\"8\">COM3</Item><Item type=\"3\">7</Item></Open>"
                                 "</MethArgs></Configurator></Parvel>");
    m_app.ConfirmFlags = 3;
    m_app.AppWinRect = RECT{1, 1, 2, 2};
    m_app.FormatsOnlyEnabled = true;
    m_app.MethodsSortColumn = 4;
    m_app.SetMethodArgs(L"Close", MethodArguments(1));
    m_app.Load(DATA_UI);
    EXPECT_EQ(m_app.ConfirmFlags, 3u); // no Main: kept
    EXPECT_TRUE(SameRect(m_app.AppWinRect, RECT{}));
    EXPECT_FALSE(m_app.FormatsOnlyEnabled);
    EXPECT_EQ(m_app.FormatsSortColumn, 2);
    EXPECT_EQ(m_app.MethodsSortColumn, 4); // no element: kept
    ASSERT_EQ(m_app.MethodArgs.size(), 1u);
    const MethodArguments& open = m_app.MethodArgs.at(L"Open");
    ASSERT_EQ(open.size(), 2u);
    EXPECT_EQ(open[0].Type, 8);
    EXPECT_EQ(open[0].Value, L"COM3");
    EXPECT_EQ(open[1].Value, L"7");

    WriteFileBytes(ConfigFile(), "<Parvel><Configurator version=\"1.1\"><Main confirm=\"0\"/></Configurator></Parvel>");
    m_app.Load(DATA_UI);
    EXPECT_EQ(m_app.ConfirmFlags, 0u);
}

TEST_F(AppDataTest, SavingOnlyUiStateIntoAnOlderFileKeepsTheLibrary)
{
    WriteFileBytes(ConfigFile(), "\xEF\xBB\xBF<Parvel><Configurator version=\"1.0\"><Formats><Item1 enabled=\"1\">"
                                 "<Name>Old</Name><Template>%u</Template><Params>b0</Params></Item1></Formats>"
                                 "<KTGroups><Item1 tabVisible=\"1\"><Name>G</Name><KeyTypes>4</KeyTypes></Item1>"
                                 "</KTGroups></Configurator></Parvel>");
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    ASSERT_EQ(m_app.Formats.size(), 1u);
    m_app.AppWinRect = RECT{5, 5, 500, 400};
    m_app.Save(DATA_UI); // what closing does when only the window moved

    CAppData back;
    back.SetLocation(false, m_folder.Path());
    back.Load(DATA_LIBRARY | DATA_UI);
    ASSERT_EQ(back.Formats.size(), 1u);
    EXPECT_EQ(back.Formats[0].Name, L"Old");
    EXPECT_EQ(back.Formats[0].Enabled, 1u);
    ASSERT_EQ(back.KTGroups.size(), 1u);
    EXPECT_EQ(back.KTGroups[0].Name, L"G");
    EXPECT_TRUE(SameRect(back.AppWinRect, RECT{5, 5, 500, 400}));
    EXPECT_NE(ReadFileBytes(ConfigFile()).find("<Configurator version=\"1.1\""), std::string::npos);
}

TEST_F(AppDataTest, StoreFailureReachesTheCaller)
{
    // A settings file that is a folder cannot be read in portable mode: the load says so rather
    // than showing defaults, and the save that follows writes nowhere else.
    CreateDirectoryW(m_folder.File(L"Parvel.xml").c_str(), nullptr);
    m_app.SetLocation(true, m_folder.Path());
    EXPECT_THROW(m_app.Load(DATA_ADDIN), CFileProblem);
    EXPECT_THROW(m_app.Save(DATA_ADDIN), std::exception);
    EXPECT_FALSE(AddinKeyExists());
}
