// The bytes both settings files are written with: a representative library (the built-in one plus
// entries full of characters that need escaping, line breaks, TABs and characters outside the
// basic plane), the add-in's values and the user-interface state, saved in portable mode, must come
// out exactly as the files in golden/. Those files were written by the writer every earlier version
// used, so any change to the writer or the stores that alters one byte of an existing user's file
// shows here.
#include "ConfigTestSupport.h"
#include <algorithm>

namespace {

std::wstring GoldenFile(const wchar_t* name)
{
    return UnixPath(PARVEL_GOLDEN_DIR) + L"\\" + name;
}

// Equal bytes, or a failure naming the first differing offset and the text around it.
void ExpectSameBytes(const std::string& expected, const std::string& actual, const char* what)
{
    if (expected == actual)
        return;
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    size_t from = at > 40 ? at - 40 : 0;
    ADD_FAILURE() << what << ": " << expected.size() << " bytes expected, " << actual.size()
                  << " written; first difference at offset " << at << "\n  expected: ..."
                  << expected.substr(from, 80) << "\n  written:  ..." << actual.substr(from, 80);
}

KeyFormatItem Entry(const wchar_t* name, const wchar_t* templ, const wchar_t* params, const wchar_t* comment,
                    uint32_t keyTypes, uint32_t keySize, uint32_t enabled)
{
    KeyFormatItem item;
    item.Name = name;
    item.Template = templ;
    item.Params = params;
    item.Comment = comment;
    item.KeyTypes = keyTypes;
    item.KeySize = keySize;
    item.Enabled = enabled;
    return item;
}

void FillEverything(CAppData& app)
{
    // Escapes, entity look-alikes, line breaks, TABs, blanks at both ends, a surrogate pair, empty texts.
    app.Formats.push_back(Entry(L"Quotes \"double\" and 'single'", L"%.3u,%.5u", L"b2 w01",
                                L"a < b > c & d", 0x7e, 0, 1));
    app.Formats.push_back(Entry(L"&amp; is not an entity here", L"&#x41;&lt;", L"l012Z\r\n\tw01\r\n",
                                L"  blanks at both ends  ", 0xFFFFFFFF, 255, 1));
    app.Formats.push_back(Entry(L"Смайл \U0001F600 и ёЁ", L"", L"", L"", 0, 0, 0));
    app.Formats.push_back(Entry(L"]]> -- <!-- ?> />", L"%u", L"\t", L"\r\n", 0x1600, 7, 1));
    app.KTGroups.push_back(KeyTypeGroup{L"Группа \"<&>\"", 0x62, 0});

    app.Portname = L"COM7 \"&<>'\"";
    app.Model = 3;
    app.Speed = 19200;
    app.Flags = 5;
    app.Log = 1;
    app.LogFlags = 0x1F;
    app.RxPeriod = -1;
    app.Prefix = -5;
    app.LoadAtStartup = 1;
    app.KeyTypes = 0x62;
    app.ReadMf = ReadMfSettings{1, 3, 2, 2, 0x0F, 0x112233445566ULL};
    app.ReadUL = ReadULSettings{1, 8, 3};
    app.SoundEnabled = 1;
    app.SoundFiles = {L"C:\\a.wav", L"", L"C:\\Медиа\\c & d.mp3", L"d.wav"};

    app.ConfirmFlags = 5;
    app.AppWinRect = RECT{10, 20, 810, 620};
    app.DevOpenRect = RECT{-100, 5, 200, 300};
    app.FormatsKTGroup = 3;
    app.FormatsOnlyEnabled = true;
    app.FormatsSortColumn = -2;
    app.FormatsColumns = {{1, 30}, {2, 150}, {3, 60}};
    app.EventsColumns = {{1, 80}, {4, 300}};
    MethodArguments check(2);
    check[0].Type = 8;
    check[0].Value = L"%u";
    check[1].Type = 8;
    check[1].Value = L"b0 \"x\" <&>\r\n";
    app.SetMethodArgs(L"CheckFormat", check);
    app.SetMethodArgs(L"Close", MethodArguments());
}

} // namespace

TEST_F(AppDataTest, BothFilesAreWrittenByteForByteAsEver)
{
    m_app.SetLocation(true, m_folder.Path());
    WriteDefault();
    m_app.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    ASSERT_EQ(m_app.Formats.size(), 42u);
    FillEverything(m_app);
    m_app.Save(DATA_LIBRARY | DATA_UI | DATA_ADDIN);

    const std::string config = ReadFileBytes(ConfigFile());
    const std::string addin = ReadFileBytes(m_app.AddinSettingsFile());
    ExpectSameBytes(ReadFileBytes(GoldenFile(AppConfigFileName)), config, "ConfigParvel.xml");
    ExpectSameBytes(ReadFileBytes(GoldenFile(L"Parvel.xml")), addin, "Parvel.xml");

    // What the readers make of those bytes is written back unchanged.
    CAppData back;
    back.SetLocation(true, m_folder.Path());
    back.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    back.Save(DATA_LIBRARY | DATA_UI | DATA_ADDIN);
    ExpectSameBytes(config, ReadFileBytes(ConfigFile()), "ConfigParvel.xml read and written again");
    ExpectSameBytes(addin, ReadFileBytes(m_app.AddinSettingsFile()), "Parvel.xml read and written again");
}
