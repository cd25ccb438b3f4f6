// What the application data does with settings files it cannot read whole, with one that fails to
// load, and with one of another version: nothing the user had is lost, and the user hears of it.
#include "ConfigTestSupport.h"
#include "FileProblem.h"
#include "Handles.h"

namespace {

// ConfigParvel.xml text with the given formats section content and version.
std::string ConfigText(const std::string& formats, const char* version = "1.1")
{
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Parvel><Configurator version=\"") + version +
           "\"><Formats>" + formats + "</Formats></Configurator></Parvel>\r\n";
}

std::string FormatXml(const char* name, const char* params, const char* enabled = "1")
{
    return std::string("<Item1 enabled=\"") + enabled + "\"><Name>" + name + "</Name><Template>%.3u,%.5u</Template>"
           "<Params>" + params + "</Params><Comment>c</Comment><KeyTypes>7e</KeyTypes><KeySize>0</KeySize></Item1>";
}

std::string Utf16WithMark(const std::string& ascii)
{
    std::string out("\xFF\xFE");
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

const KeyFormatItem* FindFormat(const CAppData& app, const std::wstring& name)
{
    for (const KeyFormatItem& item : app.Formats)
        if (item.Name == name)
            return &item;
    return nullptr;
}

} // namespace

TEST_F(AppDataTest, Utf16ConfigurationIsReadAndWrittenBackAsUtf8)
{
    WriteFileBytes(ConfigFile(), Utf16WithMark(ConfigText(FormatXml("HelmSaaS", "b2 w01"))));
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    ASSERT_NE(FindFormat(m_app, L"HelmSaaS"), nullptr);
    EXPECT_TRUE(m_app.DamageNotices.empty());
    m_app.Save(DATA_LIBRARY | DATA_UI);
    const std::string written = ReadFileBytes(ConfigFile());
    EXPECT_EQ(written.find('\0'), std::string::npos);
    EXPECT_NE(written.find("<Name>HelmSaaS</Name>"), std::string::npos);
    EXPECT_NE(written.find("encoding=\"utf-8\""), std::string::npos);
}

TEST_F(AppDataTest, ConfigurationNotReadWholeIsKeptAndToldOnce)
{
    // A root of another spelling: the file is kept, the user told once, and what is written back
    // is one document with the program's root.
    const std::string foreign = "\xEF\xBB\xBF<parvel><Configurator version=\"1.1\"/></parvel>";
    WriteFileBytes(ConfigFile(), foreign);
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    ASSERT_EQ(m_app.DamageNotices.size(), 1u);
    EXPECT_EQ(m_app.DamageNotices[0].Damage, XmlDamage::ForeignRoot);
    EXPECT_EQ(m_app.DamageNotices[0].CopyPath, ConfigFile() + L".bad");
    EXPECT_EQ(ReadFileBytes(ConfigFile() + L".bad"), foreign);
    m_app.DamageNotices.clear();
    m_app.Load(DATA_LIBRARY | DATA_UI);
    EXPECT_TRUE(m_app.DamageNotices.empty());

    m_app.Save(DATA_LIBRARY | DATA_UI);
    const std::string written = ReadFileBytes(ConfigFile());
    EXPECT_EQ(written.find("<parvel>"), std::string::npos);
    EXPECT_EQ(written.find("<Parvel>"), written.rfind("<Parvel>"));
    m_app.Load(DATA_LIBRARY | DATA_UI);
    EXPECT_TRUE(m_app.DamageNotices.empty());
    EXPECT_EQ(ReadFileBytes(ConfigFile() + L".bad"), foreign);
}

TEST_F(AppDataTest, DeepNestingNeverBecomesAHugeFile)
{
    // 20,000 unclosed elements (60 KB) once came back as hundreds of megabytes of indents.
    std::string deep = "\xEF\xBB\xBF<Parvel><Configurator version=\"1.1\"><UI>";
    for (int i = 0; i < 20000; ++i)
        deep += "<a>";
    WriteFileBytes(ConfigFile(), deep);
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    ASSERT_EQ(m_app.DamageNotices.size(), 1u);
    EXPECT_EQ(m_app.DamageNotices[0].Damage, XmlDamage::TooDeep);
    m_app.Save(DATA_LIBRARY | DATA_UI);
    EXPECT_LT(ReadFileBytes(ConfigFile()).size(), 2 * deep.size());
    EXPECT_EQ(ReadFileBytes(ConfigFile() + L".bad"), deep);
}

TEST_F(AppDataTest, DamagedAddinFileDoesNotFeedTheLibrary)
{
    m_app.SetLocation(true, m_folder.Path());
    WriteFileBytes(ConfigFile(), "\xEF\xBB\xBF" + ConfigText(FormatXml("HelmSaaS", "b2 w01")));
    // The add-in's file cut just after the format's template.
    const std::string cut = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Parvel><Component version=\"1.1\">"
                            "<Connect><Portname>COM7</Portname></Connect><Formats><Item1><Name>HelmSaaS</Name>"
                            "<Template>%.3u,%.5u</Template>";
    WriteFileBytes(m_app.AddinSettingsFile(), cut);
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    ASSERT_EQ(m_app.DamageNotices.size(), 1u);
    EXPECT_EQ(m_app.DamageNotices[0].Path, m_app.AddinSettingsFile());
    EXPECT_EQ(m_app.Portname, L"COM7");
    const KeyFormatItem* helm = FindFormat(m_app, L"HelmSaaS");
    ASSERT_NE(helm, nullptr);
    EXPECT_EQ(helm->Params, L"b2 w01");
    EXPECT_EQ(helm->KeyTypes, 0x7Eu);

    m_app.Save(m_app.ModifiedFlags | DATA_LIBRARY | DATA_ADDIN);
    CParvelSettings saved;
    LoadSettingsFromXml(m_app.AddinSettingsFile(), saved);
    ASSERT_EQ(saved.Formats.size(), 1u);
    EXPECT_EQ(saved.Formats[0].Params, L"b2 w01");
    EXPECT_EQ(saved.Formats[0].Comment, L"c");
    EXPECT_EQ(ReadFileBytes(m_app.AddinSettingsFile() + L".bad"), cut);
}

TEST_F(AppDataTest, DamagedAddinFileWithAWholeRecordDoesNotFeedTheLibrary)
{
    // Cut after a whole format record: the store takes that record, but a file not read whole
    // may have lost later records and values, so the library keeps its own entry of that name.
    m_app.SetLocation(true, m_folder.Path());
    WriteFileBytes(ConfigFile(), "\xEF\xBB\xBF" + ConfigText(FormatXml("HelmSaaS", "b2 w01")));
    const std::string cut = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Parvel><Component version=\"1.1\">"
                            "<Connect><Portname>COM7</Portname></Connect><Formats><Item1><Name>HelmSaaS</Name>"
                            "<Template>%u</Template><Params>zz</Params><Comment/><KeyTypes>2</KeyTypes>"
                            "<KeySize>0</KeySize></Item1>";
    WriteFileBytes(m_app.AddinSettingsFile(), cut);
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    ASSERT_EQ(m_app.DamageNotices.size(), 1u);
    EXPECT_EQ(m_app.Portname, L"COM7");
    const KeyFormatItem* helm = FindFormat(m_app, L"HelmSaaS");
    ASSERT_NE(helm, nullptr);
    EXPECT_EQ(helm->Params, L"b2 w01");
    EXPECT_EQ(helm->Template, L"%.3u,%.5u");
    EXPECT_EQ(helm->KeyTypes, 0x7Eu);
    EXPECT_EQ(m_app.Formats.size(), 1u);
}

TEST_F(AppDataTest, PartsThatFailedToLoadAreNotSavedOverTheStoredOnes)
{
    m_app.SetLocation(true, m_folder.Path());
    WriteDefault();
    CParvelSettings stored;
    stored.Portname = L"COM7";
    SaveSettingsToXml(m_app.AddinSettingsFile(), stored);
    const std::string storedBytes = ReadFileBytes(m_app.AddinSettingsFile());
    const std::string configBytes = ReadFileBytes(ConfigFile());
    {
        // ConfigParvel.xml cannot be read: the add-in's settings load all the same.
        CFileHandle locked(CreateFileW(ConfigFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(locked.Valid());
        EXPECT_THROW(m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN), CFileProblem);
        EXPECT_EQ(m_app.Portname, L"COM7");
    }
    // Save writes what was loaded, refuses the library it never read, and says so.
    EXPECT_THROW(m_app.Save(DATA_LIBRARY | DATA_UI | DATA_ADDIN), std::exception);
    EXPECT_EQ(ReadFileBytes(ConfigFile()), configBytes);
    CParvelSettings back;
    LoadSettingsFromXml(m_app.AddinSettingsFile(), back);
    EXPECT_EQ(back.Portname, L"COM7");

    // The add-in's settings cannot be read: their defaults are never written over them.
    CAppData other;
    other.SetLocation(true, m_folder.Path());
    {
        CFileHandle locked(CreateFileW(other.AddinSettingsFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(locked.Valid());
        EXPECT_THROW(other.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN), CFileProblem);
        EXPECT_EQ(other.Portname, L"Auto");
    }
    other.ModifiedFlags |= DATA_ADDIN;
    EXPECT_THROW(other.Save(other.ModifiedFlags | DATA_ADDIN), std::exception);
    EXPECT_EQ(ReadFileBytes(other.AddinSettingsFile()), storedBytes);
    EXPECT_TRUE(other.ModifiedFlags & DATA_ADDIN);
    // Once loaded, it saves again.
    other.Load(DATA_ADDIN);
    EXPECT_NO_THROW(other.Save(DATA_ADDIN));
}

TEST_F(AppDataTest, DefaultOnFormatsOfAnOlderFileKeepsTheLibraryOnClosing)
{
    WriteFileBytes(ConfigFile(), "\xEF\xBB\xBF" + ConfigText(FormatXml("Old", "b0"), "1.0"));
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    ASSERT_EQ(m_app.Formats.size(), 1u);
    m_app.SetPageDefaults(DefaultsFormats);
    m_app.AppWinRect = RECT{5, 5, 500, 400};
    // Closing without saving the library: only the window state is written.
    m_app.Save(DATA_UI);

    CAppData back;
    back.SetLocation(false, m_folder.Path());
    back.Load(DATA_LIBRARY | DATA_UI);
    ASSERT_EQ(back.Formats.size(), 1u);
    EXPECT_EQ(back.Formats[0].Name, L"Old");
    EXPECT_EQ(back.Formats[0].Params, L"b0");
    RECT expected{5, 5, 500, 400};
    EXPECT_TRUE(EqualRect(&back.AppWinRect, &expected));
}

TEST_F(AppDataTest, ConfigurationCutShortKeepsTheWholeRecordsAndDropsTheCutOne)
{
    // The built-in file cut after 8000 bytes: the cut goes through the 23rd format, just after
    // its template, so its comment, key size and key types are missing.
    const std::string whole = CAppConfig::DefaultContent(GetModuleHandleW(nullptr));
    const std::string cut = whole.substr(0, 8000);
    WriteFileBytes(ConfigFile(), cut);
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    ASSERT_EQ(m_app.DamageNotices.size(), 1u);
    EXPECT_EQ(m_app.DamageNotices[0].Damage, XmlDamage::Truncated);

    const std::wstring cutName = L"\x0410\x0420\x041C \x00AB\x041E\x0440\x0438\x043E\x043D\x00BB (Dallas)";
    ASSERT_EQ(m_app.Formats.size(), 22u);
    EXPECT_EQ(FindFormat(m_app, cutName), nullptr);
    // The records before the cut are whole: the last of them keeps its key types and comment.
    EXPECT_EQ(m_app.Formats[21].KeyTypes, 2u);
    EXPECT_FALSE(m_app.Formats[21].Comment.empty());
    for (size_t i = 0; i < m_app.Formats.size(); ++i)
        EXPECT_NE(m_app.Formats[i].KeyTypes, 0u) << "format " << i;

    // What Save writes back holds only the whole records; the cut file stays beside it.
    m_app.Save(DATA_LIBRARY | DATA_UI);
    CAppData back;
    back.SetLocation(false, m_folder.Path());
    back.Load(DATA_LIBRARY);
    EXPECT_EQ(back.Formats.size(), 22u);
    EXPECT_EQ(FindFormat(back, cutName), nullptr);
    EXPECT_EQ(ReadFileBytes(ConfigFile()).find("<KeyTypes>0</KeyTypes>"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(ConfigFile() + L".bad"), cut);
}

TEST_F(AppDataTest, ConfigurationCutShortInAGroupOrAMethodsArgumentsDropsThatRecord)
{
    // The cut goes through the second key-type group, after its name: half read, it would come
    // back as a group of no key types.
    const std::string groups = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Parvel><Configurator "
                               "version=\"1.1\"><KTGroups><Item1 tabVisible=\"1\"><Name>HID</Name><KeyTypes>4</KeyTypes>"
                               "</Item1><Item2 tabVisible=\"1\"><Name>iCode</Name>";
    WriteFileBytes(ConfigFile(), groups);
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    ASSERT_EQ(m_app.DamageNotices.size(), 1u);
    EXPECT_EQ(m_app.DamageNotices[0].Damage, XmlDamage::Truncated);
    ASSERT_EQ(m_app.KTGroups.size(), 1u);
    EXPECT_EQ(m_app.KTGroups[0].Name, L"HID");
    EXPECT_EQ(m_app.KTGroups[0].KeyTypes, 4u);
    m_app.Save(DATA_LIBRARY | DATA_UI);
    CAppData back;
    back.SetLocation(false, m_folder.Path());
    back.Load(DATA_LIBRARY);
    ASSERT_EQ(back.KTGroups.size(), 1u);
    EXPECT_EQ(back.KTGroups[0].Name, L"HID");

    // The cut goes through the arguments kept for Close, after the first of its two: the method
    // would be called with one argument the user never left it with.
    const std::string arguments = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Parvel><Configurator "
                                  "version=\"1.1\"><MethArgs><Open><Item type=\"8\">COM3</Item><Item type=\"3\">7</Item>"
                                  "</Open><Close><Item type=\"8\">COM3</Item>";
    WriteFileBytes(ConfigFile(), arguments);
    m_app.Load(DATA_LIBRARY | DATA_UI);
    ASSERT_EQ(m_app.MethodArgs.size(), 1u);
    const MethodArguments& open = m_app.MethodArgs.at(L"Open");
    ASSERT_EQ(open.size(), 2u);
    EXPECT_EQ(open[1].Value, L"7");
    EXPECT_EQ(m_app.MethodArgs.count(L"Close"), 0u);
}
