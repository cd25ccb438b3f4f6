// Settings files that cannot be written or read: the failure names the file, says why (a folder
// in its place, read-only, held by another program) and what was and was not saved, in English
// and in Russian, as the user reads it.
#include "ConfigTestSupport.h"
#include "FileProblem.h"
#include "Handles.h"
#include "ModuleState.h"

namespace {

bool Has(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// One text in both languages.
struct Said
{
    const wchar_t* English;
    const wchar_t* Russian;
};
const Said kFolder = {L"a folder of that name stands where the file belongs.",
                      L"на месте файла находится папка с тем же именем."};
const Said kReadOnly = {L"the file is read-only.", L"файл доступен только для чтения."};
const Said kInUse = {L"the file is in use by another program.", L"файл занят другой программой."};
const Said kCouldNotSave = {L"Could not save \"", L"Не удалось сохранить «"};
const Said kCouldNotRead = {L"Could not read \"", L"Не удалось прочитать «"};
const Said kPathEnd = {L"\": ", L"»: "};
const Said kSavedTo = {L"The add-in's settings were saved to \"", L"Настройки компонента сохранены в «"};
const Said kLibraryNotSaved = {L"The format library, the key-type groups and the window layout were not saved.",
                               L"Библиотека форматов, группы типов ключей и расположение окон не сохранены."};
const Said kNothingSaved = {L"Nothing was saved.", L"Ничего не сохранено."};
const Said kLibraryNotLoaded = {L"The format library, the key-type groups and the window layout were not loaded;",
                                L"Библиотека форматов, группы типов ключей и расположение окон не загружены;"};

// Run once with the program's texts in English and once in Russian.
class FileProblemTest : public AppDataTest, public ::testing::WithParamInterface<LANGID>
{
protected:
    void SetUp() override
    {
        m_language = MessageLcid;
        MessageLcid = MAKELCID(GetParam(), SORT_DEFAULT);
        AppDataTest::SetUp();
        m_app.SetLocation(true, m_folder.Path());
        WriteDefault();
    }
    void TearDown() override
    {
        for (const std::wstring& file : {ConfigFile(), m_app.AddinSettingsFile()})
            SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        AppDataTest::TearDown();
        MessageLcid = m_language;
    }

    std::wstring T(const Said& said) const
    {
        return PRIMARYLANGID(GetParam()) == LANG_RUSSIAN ? said.Russian : said.English;
    }
    // "Could not save "path": reason" as the box shows it.
    std::wstring NotSaved(const std::wstring& path, const Said& why) const
    {
        return T(kCouldNotSave) + path + T(kPathEnd) + T(why);
    }
    std::wstring NotRead(const std::wstring& path, const Said& why) const
    {
        return T(kCouldNotRead) + path + T(kPathEnd) + T(why);
    }
    // The file and the reason, whichever of the two the program could not do.
    std::wstring Why(const std::wstring& path, const Said& why) const { return path + T(kPathEnd) + T(why); }

    // Save of everything; the text of the failure it must give.
    std::wstring FailingSave()
    {
        m_app.Portname = L"COM5";
        try {
            m_app.Save(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
        } catch (const CFileProblem& problem) {
            return problem.Text();
        }
        ADD_FAILURE() << "the save did not fail as a file problem";
        return std::wstring();
    }
    std::wstring SavedPortname()
    {
        CParvelSettings saved;
        LoadSettingsFromXml(m_app.AddinSettingsFile(), saved);
        return saved.Portname;
    }
    // The built-in file's words, which the failed saves must not have replaced.
    std::string ConfigBytes() { return ReadFileBytes(ConfigFile()); }

private:
    LCID m_language = 0;
};

} // namespace

TEST_P(FileProblemTest, ConfigurationThatCannotBeWrittenSaysWhyAndThatTheAddinsSettingsWereSaved)
{
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    const std::string before = ConfigBytes();

    ASSERT_TRUE(SetFileAttributesW(ConfigFile().c_str(), FILE_ATTRIBUTE_READONLY));
    std::wstring text = FailingSave();
    EXPECT_TRUE(Has(text, NotSaved(ConfigFile(), kReadOnly))) << text;
    EXPECT_TRUE(Has(text, T(kSavedTo) + m_app.AddinSettingsFile())) << text;
    EXPECT_TRUE(Has(text, T(kLibraryNotSaved))) << text;
    EXPECT_EQ(SavedPortname(), L"COM5");
    EXPECT_EQ(ConfigBytes(), before);
    ASSERT_TRUE(SetFileAttributesW(ConfigFile().c_str(), FILE_ATTRIBUTE_NORMAL));

    {
        // Held open by another program that shares nothing.
        CFileHandle held(CreateFileW(ConfigFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.Valid());
        text = FailingSave();
        EXPECT_TRUE(Has(text, Why(ConfigFile(), kInUse))) << text;
        EXPECT_TRUE(Has(text, T(kLibraryNotSaved))) << text;
    }
    EXPECT_EQ(ConfigBytes(), before);

    ASSERT_TRUE(DeleteFileW(ConfigFile().c_str()));
    ASSERT_TRUE(CreateDirectoryW(ConfigFile().c_str(), nullptr));
    text = FailingSave();
    EXPECT_TRUE(Has(text, NotSaved(ConfigFile(), kFolder))) << text;
    EXPECT_TRUE(Has(text, T(kSavedTo) + m_app.AddinSettingsFile())) << text;
    RemoveDirectoryW(ConfigFile().c_str());
}

TEST_P(FileProblemTest, AddinFileThatCannotBeWrittenSaysNothingWasSaved)
{
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    m_app.Save(DATA_ADDIN);
    const std::string before = ConfigBytes();
    ASSERT_TRUE(SetFileAttributesW(m_app.AddinSettingsFile().c_str(), FILE_ATTRIBUTE_READONLY));
    m_app.FormatsSortColumn = 3;
    const std::wstring text = FailingSave();
    EXPECT_TRUE(Has(text, NotSaved(m_app.AddinSettingsFile(), kReadOnly))) << text;
    EXPECT_TRUE(Has(text, T(kNothingSaved))) << text;
    EXPECT_EQ(SavedPortname(), L"Auto");
    EXPECT_EQ(ConfigBytes(), before);
}

TEST_P(FileProblemTest, AddinFileThatIsAFolderIsToldAtLoadAndNeverTakenForDefaults)
{
    ASSERT_TRUE(CreateDirectoryW(m_app.AddinSettingsFile().c_str(), nullptr));
    std::wstring text;
    try {
        m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
        ADD_FAILURE() << "a folder in the settings file's place loaded as defaults";
    } catch (const CFileProblem& problem) {
        text = problem.Text();
    }
    EXPECT_TRUE(Has(text, NotRead(m_app.AddinSettingsFile(), kFolder))) << text;
    // The library of ConfigParvel.xml is there all the same; the add-in's part is not saved.
    EXPECT_EQ(m_app.Formats.size(), 42u);
    EXPECT_THROW(m_app.Save(DATA_ADDIN), std::exception);
    EXPECT_NE(GetFileAttributesW(m_app.AddinSettingsFile().c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    RemoveDirectoryW(m_app.AddinSettingsFile().c_str());
}

TEST_P(FileProblemTest, ConfigurationHeldOpenAtLoadIsNamedWithItsReason)
{
    CFileHandle held(CreateFileW(ConfigFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.Valid());
    std::wstring text;
    try {
        m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    } catch (const CFileProblem& problem) {
        text = problem.Text();
    }
    EXPECT_TRUE(Has(text, NotRead(ConfigFile(), kInUse))) << text;
    EXPECT_TRUE(Has(text, T(kLibraryNotLoaded))) << text;
}

// A reason of the system's own (no folder, read-only or holder to name) is told in the system's
// words whole, whatever the ANSI code page holds: the file's name in it keeps its Greek letters,
// and under Russian texts on a Western code page the Russian words keep theirs.
TEST_P(FileProblemTest, TheSystemsOwnReasonKeepsEveryCharacter)
{
    const std::wstring path = m_folder.Path() + L"\\\u03A9\u03BC\u03AD\u03B3\u03B1\\Parvel.xml";
    const CFileException e(CFileException::BadPath, ERROR_PATH_NOT_FOUND, path.c_str());
    ASSERT_TRUE(Has(e.Message(), path)) << e.Message();
    const std::wstring text = FileProblemText(e, true, std::wstring());
    EXPECT_TRUE(Has(text, T(kCouldNotSave) + path + T(kPathEnd) + e.Message())) << text;
}

INSTANTIATE_TEST_SUITE_P(Languages, FileProblemTest,
                         ::testing::Values(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                           MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT)),
                         [](const ::testing::TestParamInfo<LANGID>& info) {
                             return PRIMARYLANGID(info.param) == LANG_RUSSIAN ? "Russian" : "English";
                         });
