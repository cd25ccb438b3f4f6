// ConfigParvel.xml as a document: element readers and writers, versions, the shared instance.
#include "ConfigTestSupport.h"

namespace {

class AppConfigTest : public ::testing::Test
{
protected:
    void SetUp() override { CAppConfig::SetDataFolder(m_folder.Path()); }
    void TearDown() override { CAppConfig::SetDataFolder(std::wstring()); }
    void WriteConfig(const char* body)
    {
        WriteFileBytes(m_folder.File(AppConfigFileName),
                       std::string("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Parvel>") + body +
                           "</Parvel>\r\n");
    }
    TestFolder m_folder;
};

} // namespace

TEST_F(AppConfigTest, MissingFileIsEmptyDocumentAndPrepareStartsAfresh)
{
    CAppConfigRef config = CAppConfig::GetInstance();
    EXPECT_EQ(config->Configurator(), nullptr);
    EXPECT_EQ(config->Version(), 0);
    EXPECT_FALSE(config->IsModified());
    EXPECT_EQ(config->Path(), m_folder.File(AppConfigFileName));

    EXPECT_TRUE(config->Prepare());
    ASSERT_NE(config->Configurator(), nullptr);
    EXPECT_EQ(config->Configurator()->GetAttribute(L"version"), L"1.1");
    EXPECT_TRUE(config->IsModified());
    EXPECT_FALSE(config->Prepare()); // already 1.1
    config->Save();
    EXPECT_FALSE(config->IsModified());
    EXPECT_NE(ReadFileBytes(config->Path()).find("<Configurator version=\"1.1\""), std::string::npos);
}

TEST_F(AppConfigTest, OtherVersionLosesItsSectionsAtTheFirstWrite)
{
    WriteConfig("<Configurator version=\"1.0\"><Formats><Item1><Name>A</Name></Item1></Formats>"
                "<Main confirm=\"1\"/></Configurator>");
    CAppConfigRef config = CAppConfig::GetInstance();
    EXPECT_EQ(config->Version(), 0x0100);
    ASSERT_NE(config->Configurator(), nullptr);
    EXPECT_TRUE(config->Prepare());
    EXPECT_EQ(config->Version(), CAppConfig::CurrentVersion);
    EXPECT_TRUE(config->Configurator()->Children.empty());
    EXPECT_EQ(config->Configurator()->GetAttribute(L"version"), L"1.1");
}

TEST_F(AppConfigTest, SharedInstanceIsReadAgainAfterTheLastRelease)
{
    WriteConfig("<Configurator version=\"1.1\"><Main confirm=\"3\"/></Configurator>");
    CAppConfigRef first = CAppConfig::GetInstance();
    CAppConfigRef second = CAppConfig::GetInstance();
    EXPECT_EQ(first.get(), second.get());

    first->Configurator()->FindChild(L"Main")->SetAttribute(L"confirm", L"5"); // in memory only
    first.Reset();
    EXPECT_EQ(second->Configurator()->FindChild(L"Main")->GetAttribute(L"confirm"), L"5");
    second.Reset();

    CAppConfigRef third = CAppConfig::GetInstance();
    EXPECT_EQ(third->Configurator()->FindChild(L"Main")->GetAttribute(L"confirm"), L"3");
    void* unknown = &unknown;
    EXPECT_EQ(third->QueryInterface(IID_IUnknown, &unknown), E_NOTIMPL);
    EXPECT_EQ(unknown, nullptr);
}

TEST_F(AppConfigTest, RectanglesColumnsAndSortColumns)
{
    CAppConfigRef config = CAppConfig::GetInstance();
    config->Prepare();
    CMXNode* formPos = config->Section(L"UI\\FormPos");
    formPos->AddChild(L"Good")->Text = L"[10,20,300,400]";
    formPos->AddChild(L"Short")->Text = L"[10,20,300]";
    RECT rect = {1, 2, 3, 4};
    EXPECT_TRUE(config->GetRect(formPos, L"Good", rect));
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, 20);
    EXPECT_EQ(rect.right, 310);
    EXPECT_EQ(rect.bottom, 420);
    RECT untouched = {1, 2, 3, 4};
    EXPECT_FALSE(config->GetRect(formPos, L"Short", untouched));
    EXPECT_FALSE(config->GetRect(formPos, L"Absent", untouched));
    EXPECT_EQ(untouched.left, 1);
    EXPECT_EQ(untouched.bottom, 4);

    config->SetRect(formPos, L"Written", RECT{-5, 7, 95, 57});
    EXPECT_EQ(formPos->FindChild(L"Written")->Text, L"[-5,7,100,50]");

    CMXNode* list = config->Section(L"UI\\Formats");
    config->SetColumns(list, ColumnWidths{{1, 30}, {3, -1}, {2, 200}});
    list->FindChild(L"Columns")->AddChild(L"Other")->SetAttribute(L"width", L"5");
    ColumnWidths columns{{9, 9}};
    CAppConfig::GetColumns(list, columns);
    EXPECT_EQ(columns, (ColumnWidths{{1, 30}, {3, -1}, {2, 200}}));
    CAppConfig::GetColumns(nullptr, columns);
    EXPECT_TRUE(columns.empty());

    config->SetSortColumn(list, -3);
    int32_t sort = 0;
    CAppConfig::GetSortColumn(list, sort);
    EXPECT_EQ(sort, -3);
}

TEST_F(AppConfigTest, FormatItemsGroupsAndArguments)
{
    CAppConfigRef config = CAppConfig::GetInstance();
    config->Prepare();
    CMXNode* formats = config->Section(L"Formats");
    for (int i = 0; i < 5; ++i)
        config->AddFormatItem(formats, KeyFormatItem());
    config->Clear(formats);
    KeyFormatItem item;
    item.Name = L"Имя <&>";
    item.Template = L"%u\\x2C%u";
    item.Params = L"b2\r\nw01";
    item.Comment = L"\"quoted\"";
    item.KeyTypes = 0x7FFFF;
    item.KeySize = 5;
    item.Enabled = 1;
    item.Conflict = 1;
    for (int i = 0; i < 3; ++i)
        config->AddFormatItem(formats, item);
    ASSERT_EQ(formats->Children.size(), 3u);
    EXPECT_EQ(formats->Children[0]->Name, L"Item1");
    EXPECT_EQ(formats->Children[2]->Name, L"Item3");
    EXPECT_EQ(formats->Children[0]->FindChild(L"KeyTypes")->Text, L"7ffff");
    EXPECT_EQ(formats->Children[0]->Children[5]->Name, L"KeySize");

    KeyTypeGroup group{L"Группа", 0x890, 1};
    config->AddKTGroup(config->Section(L"KTGroups"), group);

    MethodArguments args(2);
    args[0].Type = 3;
    args[0].Value = L"-17";
    args[1].Type = 8;
    args[1].Value = L"COM3";
    args[1].DefaultType = 8; // not stored
    config->SetMethodArguments(config->Section(L"MethArgs"), L"Open", args);
    config->Save();

    // Read back from the file.
    config.Reset();
    config = CAppConfig::GetInstance();
    const CMXNode* read = config->Configurator()->FindChild(L"Formats");
    KeyFormatItem back;
    back.Conflict = 7;
    CAppConfig::ReadFormatItem(read->Children[1], back);
    EXPECT_EQ(back.Name, item.Name);
    EXPECT_EQ(back.Template, item.Template);
    EXPECT_EQ(back.Params, item.Params);
    EXPECT_EQ(back.Comment, item.Comment);
    EXPECT_EQ(back.KeyTypes, item.KeyTypes);
    EXPECT_EQ(back.KeySize, item.KeySize);
    EXPECT_EQ(back.Enabled, 1u);
    KeyTypeGroup groupBack;
    CAppConfig::ReadKTGroup(config->Configurator()->FindChild(L"KTGroups")->Children[0], groupBack);
    EXPECT_EQ(groupBack.Name, group.Name);
    EXPECT_EQ(groupBack.KeyTypes, group.KeyTypes);
    EXPECT_EQ(groupBack.Visible, 1u);
    MethodArguments argsBack;
    CAppConfig::GetMethodArguments(config->Configurator()->FindChild(L"MethArgs"), L"Open", argsBack);
    ASSERT_EQ(argsBack.size(), 2u);
    EXPECT_EQ(argsBack[0].Type, 3);
    EXPECT_EQ(argsBack[0].Value, L"-17");
    EXPECT_EQ(argsBack[1].Value, L"COM3");
    EXPECT_EQ(argsBack[1].DefaultType, 0);
    CAppConfig::GetMethodArguments(config->Configurator()->FindChild(L"MethArgs"), L"Close", argsBack);
    EXPECT_TRUE(argsBack.empty());
}

TEST_F(AppConfigTest, AbsentValuesReadAsDefaults)
{
    WriteConfig("<Configurator version=\"1.1\"><Formats><Item7 enabled=\"x\"><KeyTypes>0x7ffff</KeyTypes>"
                "</Item7><Other enabled=\"2\"><KeyTypes>zz</KeyTypes><KeySize>12ab</KeySize></Other></Formats>"
                "</Configurator>");
    CAppConfigRef config = CAppConfig::GetInstance();
    const CMXNode* formats = config->Configurator()->FindChild(L"Formats");
    KeyFormatItem first, second;
    first.Name = L"stale";
    CAppConfig::ReadFormatItem(formats->Children[0], first);
    EXPECT_EQ(first.Enabled, 0u);
    EXPECT_EQ(first.Name, L"");
    EXPECT_EQ(first.KeyTypes, 0x7FFFFu);
    EXPECT_EQ(first.KeySize, 0u);
    CAppConfig::ReadFormatItem(formats->Children[1], second);
    EXPECT_EQ(second.Enabled, 1u);
    EXPECT_EQ(second.KeyTypes, 0u);
    EXPECT_EQ(second.KeySize, 12u);
}

TEST(AppConfigNumbers, TextConversions)
{
    EXPECT_EQ(CAppConfig::ReadHex(L"7ffff"), 0x7FFFFu);
    EXPECT_EQ(CAppConfig::ReadHex(L"0x7FFFF"), 0x7FFFFu);
    EXPECT_EQ(CAppConfig::ReadHex(L""), 0u);
    EXPECT_EQ(CAppConfig::HexText(0x1C060), L"1c060");
    EXPECT_EQ(CAppConfig::ReadDec(L"-42px"), -42);
    EXPECT_EQ(CAppConfig::ReadDec(L"px"), 0);
    EXPECT_EQ(CAppConfig::DecText(-7), L"-7");
    EXPECT_EQ(CAppConfig::ReadConfirmFlags(L"0"), 0u);
    EXPECT_EQ(CAppConfig::ReadConfirmFlags(L"5"), 5u);
    EXPECT_EQ(CAppConfig::ReadConfirmFlags(L"junk"), 7u);
}
