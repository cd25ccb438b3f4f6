// The built-in default ConfigParvel.xml: written byte for byte, read as the stored library, every
// format accepted by the add-in's own check, and a failed write leaves nothing behind.
#include "ConfigTestSupport.h"
#include "TestHost.h"
#include <vector>

namespace {

const wchar_t* const DefaultNames[] = {
    L"АРМ «Орион» 7.5.2, Орион-PRO", L"КОНТУР, ПНФ «СТЕЛЛА»", L"ParsecNET", L"ProxWay", L"KoraUSB", L"Шэлт",
    L"WIN-PAK, режим Wiegand-34", L"АРМ «Орион» 7.5.2 (Wiegand)", L"Кронверк", L"Kora-USB (ТМ)",
    L"KoraUSB (HID)", L"КОДОС", L"Рубеж-08, ПНФ «Сигма-ИС»", L"PERCo; Стражъ; пр.", L"DALLAS",
    L"WIN-PAK, 24-битный номер карты", L"LEGOS", L"Kora USB 2", L"Грифонтер", L"WIN-PAK, режим OH для N-1000",
    L"WIN-PAK, режим Wiegand-26", L"АРМ «Орион» 7.5.1", L"АРМ «Орион» (Dallas)", L"WIN-PAK, стандартный режим",
    L"777", L"СШС-офис", L"Рексофт", L"АРМ «Орион» 7.6.3", L"Сторк (Dallas)", L"ЭВС СК-24", L"Tag-IT",
    L"HelmLite", L"HelmSaaS", L"Семь печатей (TSS)", L"Шелни", L"PW-500 EH", L"ШЭЛТ-ADEMANT",
    L"Velmora защищенный", L"Ангстрем (СРЧ-125)", L"Synel  SY-760",
};

// Element numbers of the default items in document order.
const int DefaultItemNumbers[] = {9,  27, 1,  24, 2,  25, 3,  22, 4,  23, 5,  20, 6,  21,
                                  7,  8,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 26, 28,
                                  29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42};

BOOL FailHalfWay(HANDLE file, const void* data, DWORD size, DWORD* written)
{
    WriteFile(file, data, size / 2, written, nullptr);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

BOOL WriteShort(HANDLE file, const void* data, DWORD size, DWORD* written)
{
    return WriteFile(file, data, size - 1, written, nullptr);
}

bool HasTemporaryFiles(const TestFolder& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(folder.File(L"*.tmp").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    FindClose(find);
    return true;
}

using DefaultConfigTest = AppDataTest;

} // namespace

TEST_F(DefaultConfigTest, WrittenFileEqualsTheResourceAndTheSource)
{
    const std::string resource = CAppConfig::DefaultContent(GetModuleHandleW(nullptr));
    ASSERT_GT(resource.size(), 3u);
    EXPECT_EQ(resource.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_EQ(resource, ReadFileBytes(UnixPath(PARVEL_DEFAULT_CONFIG)));

    EXPECT_TRUE(CAppConfig::EnsureDefaultFile(m_folder.Path(), GetModuleHandleW(nullptr)));
    EXPECT_EQ(ReadFileBytes(ConfigFile()), resource);
    EXPECT_FALSE(HasTemporaryFiles(m_folder));

    // An existing file is kept as it is.
    WriteFileBytes(ConfigFile(), "mine");
    EXPECT_FALSE(CAppConfig::EnsureDefaultFile(m_folder.Path(), GetModuleHandleW(nullptr)));
    EXPECT_EQ(ReadFileBytes(ConfigFile()), "mine");
}

TEST_F(DefaultConfigTest, FailedWriteLeavesNoFileAndIsRetried)
{
    CAppConfig::SetWriteBytesFunction(FailHalfWay);
    EXPECT_THROW(CAppConfig::EnsureDefaultFile(m_folder.Path(), GetModuleHandleW(nullptr)), CFileException);
    CAppConfig::SetWriteBytesFunction(WriteShort);
    try {
        CAppConfig::EnsureDefaultFile(m_folder.Path(), GetModuleHandleW(nullptr));
        ADD_FAILURE() << "a short write must fail";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.GetCause(), CFileException::DiskFull);
    }
    CAppConfig::SetWriteBytesFunction(nullptr);
    EXPECT_EQ(GetFileAttributesW(ConfigFile().c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(HasTemporaryFiles(m_folder));

    // The next start writes it whole.
    EXPECT_TRUE(CAppConfig::EnsureDefaultFile(m_folder.Path(), GetModuleHandleW(nullptr)));
    EXPECT_EQ(ReadFileBytes(ConfigFile()), CAppConfig::DefaultContent(GetModuleHandleW(nullptr)));
}

TEST_F(DefaultConfigTest, DefaultLibraryWithEmptyStoreEnablesOnlyHelmSaaS)
{
    WriteDefault();
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);

    ASSERT_EQ(m_app.Formats.size(), 42u);
    for (size_t i = 0; i < 40; ++i)
        EXPECT_EQ(m_app.Formats[i].Name, DefaultNames[i]) << i;
    EXPECT_EQ(m_app.Formats[41].Name, L"СКУД \"Эра\"");
    EXPECT_EQ(m_app.Formats[40].KeyTypes, 0x1600u);

    std::vector<std::wstring> enabled;
    for (const KeyFormatItem& item : m_app.Formats)
        if (item.Enabled)
            enabled.push_back(item.Name);
    EXPECT_EQ(enabled, std::vector<std::wstring>{L"HelmSaaS"});
    const KeyFormatItem& helm = m_app.Formats[FindFormatByName(m_app.Formats, L"HelmSaaS")];
    EXPECT_EQ(helm.Template, L"%.3u,%.5u");
    EXPECT_EQ(helm.Params, L"b2 w01");
    EXPECT_EQ(helm.KeyTypes, 0x7Eu);
    EXPECT_EQ(helm.KeySize, 0u);
    EXPECT_EQ(helm.Conflict, 0u);

    ASSERT_EQ(m_app.KTGroups.size(), 5u);
    const std::pair<const wchar_t*, uint32_t> groups[] = {
        {L"Mifare UL,DF,DS", 0x890}, {L"Mifare 1K/4K", 0x60}, {L"HID", 4}, {L"Em-Marine,Р/брелок VM-100", 0x602},
        {L"iCode", 8}};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(m_app.KTGroups[i].Name, groups[i].first);
        EXPECT_EQ(m_app.KTGroups[i].KeyTypes, groups[i].second);
        EXPECT_EQ(m_app.KTGroups[i].Visible, 1u);
    }
    EXPECT_EQ(m_app.ConfirmFlags, 7u);

    // The add-in gets exactly that one format.
    m_app.Save(DATA_ADDIN);
    CParvelSettings stored;
    LoadSettingsFromRegistry(stored);
    ASSERT_EQ(stored.Formats.size(), 1u);
    EXPECT_EQ(stored.Formats[0].Name, L"HelmSaaS");
}

TEST_F(DefaultConfigTest, StoredDocumentOrderAndAttributes)
{
    WriteDefault();
    CAppConfigRef config = CAppConfig::GetInstance();
    const CMXNode* formats = config->Configurator()->FindChild(L"Formats");
    ASSERT_EQ(formats->Children.size(), 42u);
    int zeros = 0, ones = 0;
    std::vector<int> withoutAttribute;
    for (size_t i = 0; i < 42; ++i) {
        const CMXNode* item = formats->Children[i];
        EXPECT_EQ(item->Name, L"Item" + std::to_wstring(DefaultItemNumbers[i]));
        if (!item->Attributes.count(L"enabled"))
            withoutAttribute.push_back(DefaultItemNumbers[i]);
        else if (item->GetAttribute(L"enabled") == L"0")
            ++zeros;
        else
            ++ones;
        const wchar_t* second = DefaultItemNumbers[i] <= 40 ? L"Params" : L"Template";
        ASSERT_EQ(item->Children.size(), 6u);
        EXPECT_EQ(item->Children[1]->Name, second);
        KeyFormatItem format;
        CAppConfig::ReadFormatItem(item, format);
        bool sized = DefaultItemNumbers[i] == 4 || DefaultItemNumbers[i] == 5;
        EXPECT_EQ(format.KeySize != 0, sized) << DefaultItemNumbers[i];
    }
    EXPECT_EQ(zeros, 37);
    EXPECT_EQ(ones, 1);
    EXPECT_EQ(withoutAttribute, (std::vector<int>{38, 39, 40, 42}));
    EXPECT_EQ(config->Configurator()->FindChild(L"Main"), nullptr);
    EXPECT_EQ(config->Configurator()->FindChild(L"UI"), nullptr);
    EXPECT_EQ(config->Configurator()->FindChild(L"MethArgs"), nullptr);
}

#ifdef PARVEL_DLL_PATH
TEST_F(DefaultConfigTest, EveryDefaultFormatPassesTheAddinsCheck)
{
    WriteDefault();
    m_app.Load(DATA_LIBRARY);
    ASSERT_EQ(m_app.Formats.size(), 42u);

    CTestParvel* host = m_app.GetTestHost();
    host->SetLibraryPath(UnixPath(PARVEL_DLL_PATH));
    host->Create();
    for (const KeyFormatItem& item : m_app.Formats) {
        int32_t position = 0;
        EXPECT_TRUE(host->CheckFormat(item.Template.c_str(), item.Params.c_str(), position))
            << "format " << testing::PrintToString(item.Name) << " position " << position;
    }
    // The check is a real one.
    int32_t position = 0;
    EXPECT_FALSE(host->CheckFormat(L"%u", L"b0 +", position));
    m_app.DestroyTestBench();
}
#endif
