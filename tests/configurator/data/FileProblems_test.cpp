// Settings files that cannot be written or read: the failure names the file, says why (a folder
// in its place, read-only, held by another program) and what was and was not saved.
#include "ConfigTestSupport.h"
#include "FileProblem.h"
#include "Handles.h"

namespace {

bool Has(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

class FileProblemTest : public AppDataTest
{
protected:
    void SetUp() override
    {
        AppDataTest::SetUp();
        m_app.SetLocation(true, m_folder.Path());
        WriteDefault();
    }
    void TearDown() override
    {
        for (const std::wstring& file : {ConfigFile(), m_app.AddinSettingsFile()})
            SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        AppDataTest::TearDown();
    }

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
};

} // namespace

TEST_F(FileProblemTest, ConfigurationThatCannotBeWrittenSaysWhyAndThatTheAddinsSettingsWereSaved)
{
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    const std::string before = ConfigBytes();

    ASSERT_TRUE(SetFileAttributesW(ConfigFile().c_str(), FILE_ATTRIBUTE_READONLY));
    std::wstring text = FailingSave();
    EXPECT_TRUE(Has(text, ConfigFile())) << text;
    EXPECT_TRUE(Has(text, L"read-only")) << text;
    EXPECT_TRUE(Has(text, L"were saved to \"" + m_app.AddinSettingsFile() + L"\"")) << text;
    EXPECT_TRUE(Has(text, L"were not saved")) << text;
    EXPECT_EQ(SavedPortname(), L"COM5");
    EXPECT_EQ(ConfigBytes(), before);
    ASSERT_TRUE(SetFileAttributesW(ConfigFile().c_str(), FILE_ATTRIBUTE_NORMAL));

    {
        // Held open by another program that shares nothing.
        CFileHandle held(CreateFileW(ConfigFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.Valid());
        text = FailingSave();
        EXPECT_TRUE(Has(text, ConfigFile())) << text;
        EXPECT_TRUE(Has(text, L"in use by another program")) << text;
        EXPECT_TRUE(Has(text, L"were not saved")) << text;
    }
    EXPECT_EQ(ConfigBytes(), before);

    ASSERT_TRUE(DeleteFileW(ConfigFile().c_str()));
    ASSERT_TRUE(CreateDirectoryW(ConfigFile().c_str(), nullptr));
    text = FailingSave();
    EXPECT_TRUE(Has(text, ConfigFile())) << text;
    EXPECT_TRUE(Has(text, L"a folder of that name")) << text;
    EXPECT_TRUE(Has(text, L"were saved to")) << text;
    RemoveDirectoryW(ConfigFile().c_str());
}

TEST_F(FileProblemTest, AddinFileThatCannotBeWrittenSaysNothingWasSaved)
{
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    m_app.Save(DATA_ADDIN);
    const std::string before = ConfigBytes();
    ASSERT_TRUE(SetFileAttributesW(m_app.AddinSettingsFile().c_str(), FILE_ATTRIBUTE_READONLY));
    m_app.FormatsSortColumn = 3;
    const std::wstring text = FailingSave();
    EXPECT_TRUE(Has(text, m_app.AddinSettingsFile())) << text;
    EXPECT_TRUE(Has(text, L"read-only")) << text;
    EXPECT_TRUE(Has(text, L"Nothing was saved.")) << text;
    EXPECT_EQ(SavedPortname(), L"Auto");
    EXPECT_EQ(ConfigBytes(), before);
}

TEST_F(FileProblemTest, AddinFileThatIsAFolderIsToldAtLoadAndNeverTakenForDefaults)
{
    ASSERT_TRUE(CreateDirectoryW(m_app.AddinSettingsFile().c_str(), nullptr));
    std::wstring text;
    try {
        m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
        ADD_FAILURE() << "a folder in the settings file's place loaded as defaults";
    } catch (const CFileProblem& problem) {
        text = problem.Text();
    }
    EXPECT_TRUE(Has(text, m_app.AddinSettingsFile())) << text;
    EXPECT_TRUE(Has(text, L"a folder of that name")) << text;
    // The library of ConfigParvel.xml is there all the same; the add-in's part is not saved.
    EXPECT_EQ(m_app.Formats.size(), 42u);
    EXPECT_THROW(m_app.Save(DATA_ADDIN), std::exception);
    EXPECT_NE(GetFileAttributesW(m_app.AddinSettingsFile().c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    RemoveDirectoryW(m_app.AddinSettingsFile().c_str());
}

TEST_F(FileProblemTest, ConfigurationHeldOpenAtLoadIsNamedWithItsReason)
{
    CFileHandle held(CreateFileW(ConfigFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.Valid());
    std::wstring text;
    try {
        m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    } catch (const CFileProblem& problem) {
        text = problem.Text();
    }
    EXPECT_TRUE(Has(text, L"Could not read \"" + ConfigFile() + L"\"")) << text;
    EXPECT_TRUE(Has(text, L"in use by another program")) << text;
    EXPECT_TRUE(Has(text, L"were not loaded")) << text;
}
