// Error texts: the message table in both languages, the string-table lookup and the two
// exception classes.
#include "Exceptions.h"
#include "FoundationStrings.h"
#include "Messages.h"
#include "ModuleState.h"
#include "ResText.h"
#include "CodePage.h"
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

struct MessageRow
{
    DWORD code;
    const wchar_t* english;
};

const MessageRow kMessages[] = {
    {0x80040201u, L"Parameter does not exist."},
    {0x80040202u, L"Invalid parameter type."},
    {0x80040203u, L"Index out of range."},
    {0x80040210u, L"Incorrect port name."},
    {0x80040211u, L"Port not exists."},
    {0x80040212u, L"Port is busy."},
    {0x80040213u, L"Port is disconnected."},
    {0x80040214u, L"Not found a suitable version of Winsock.dll."},
    {0x80040215u, L"Timeout TCP connection."},
    {0x80040216u, L"Timeout sending request data to the port."},
    {0x80040217u, L"Timeout response data from the port."},
    {0x80040218u, L"Reader sent an invalid response."},
    {0x80040219u, L"Reader returned an error."},
    {0x8004021Au, L"No key."},
    {0x8004021Bu, L"Key authorization error."},
    {0x8004021Cu, L"Error accessing key data."},
    {0x8004021Du, L"Key data is locked from overwriting."},
    {0x8004021Eu, L"Command is not supported."},
    {0x8004021Fu, L"The reader message was not recognized. Probably not factory firmware."},
    {0x80040230u, L"Timeout readers search."},
    {0x80040231u, L"No more readers."},
    {0x80040232u, L"Reader is not found."},
    {0x80040233u, L"Reader is not registered by the function \"Open\"."},
    {0x80040234u, L"Incorrect format name."},
    {0x80040235u, L"Format with the specified name already exists."},
    {0x80040236u, L"Not enough parameters."},
    {0x80040237u, L"Template specifier is not supported."},
    {0x80040238u, L"Unknown keyword."},
    {0x80040239u, L"Unexpected end of expression."},
    {0x8004023Au, L"Unknown symbol."},
    {0x8004023Bu, L"Expected '(' or '['."},
    {0x8004023Cu, L"Expected ')' or ']'."},
    {0x8004023Du, L"Bad suffix on number."},
    {0x8004023Eu, L"Unexpected operator."},
};

// Switches the message language for one test and restores it afterwards.
class LanguageScope
{
public:
    explicit LanguageScope(LCID lcid) : m_saved(MessageLcid) { MessageLcid = lcid; }
    ~LanguageScope() { MessageLcid = m_saved; }

private:
    LCID m_saved;
};

bool HasCyrillic(const std::wstring& s)
{
    for (wchar_t c : s)
        if (c >= 0x0400 && c <= 0x04FF)
            return true;
    return false;
}

std::wstring SystemText(DWORD code)
{
    std::wstring text;
    GetErrorText(text, nullptr, code);
    return text;
}

} // namespace

// Every text is one line without the line end of the table: callers put it into sentences, event
// data and the platform's messages.
bool EndsWithLineEnd(const std::wstring& text)
{
    return !text.empty() && (text.back() == L'\r' || text.back() == L'\n');
}

TEST(MessageTable, EnglishTextsAreTheTablesWithoutLineEnd)
{
    LanguageScope en(1033);
    ASSERT_EQ(34u, sizeof(kMessages) / sizeof(kMessages[0]));
    for (const MessageRow& row : kMessages) {
        std::wstring text;
        ASSERT_TRUE(GetErrorText(text, nullptr, row.code)) << std::hex << row.code;
        EXPECT_EQ(std::wstring(row.english), text) << std::hex << row.code;
    }
}

TEST(MessageTable, RussianTextsAreCyrillicAndDiffer)
{
    LanguageScope ru(1049);
    for (const MessageRow& row : kMessages) {
        std::wstring text;
        ASSERT_TRUE(GetErrorText(text, nullptr, row.code)) << std::hex << row.code;
        EXPECT_TRUE(HasCyrillic(text)) << std::hex << row.code;
        EXPECT_NE(std::wstring(row.english), text) << std::hex << row.code;
        EXPECT_FALSE(EndsWithLineEnd(text)) << std::hex << row.code;
    }
    std::wstring open;
    GetErrorText(open, nullptr, PE_NOT_OPENED);
    EXPECT_NE(std::wstring::npos, open.find(L"Подключить"));
}

TEST(MessageTable, LanguageWithoutTableFallsBackToEnglish)
{
    LanguageScope de(1031);
    std::wstring text;
    ASSERT_TRUE(GetErrorText(text, nullptr, PE_PORT_NOT_EXISTS));
    EXPECT_EQ(L"Port not exists.", text);
    std::wstring s;
    EXPECT_GT(LoadResString(s, IDS_OS_CALL_FAILED), 0);
}

TEST(ErrorText, SystemCodesAndMissingTexts)
{
    LanguageScope en(1033);
    std::wstring text = L"unchanged";
    EXPECT_TRUE(GetErrorText(text, nullptr, 0x80004005)); // E_FAIL from the system
    EXPECT_FALSE(text.empty());
    EXPECT_NE(L"unchanged", text);
    EXPECT_FALSE(EndsWithLineEnd(text)) << "the system's line end stays on its text";

    text = L"unchanged";
    EXPECT_FALSE(GetErrorText(text, nullptr, 0x800402FF)); // our facility, no such message
    EXPECT_EQ(L"unchanged", text);
}

TEST(ErrorText, InsertsAreNotReadWhenNotGiven)
{
    LanguageScope en(1033);
    // ERROR_BAD_EXE_FORMAT's system text carries %1: it must come back, not fail.
    std::wstring text;
    ASSERT_TRUE(GetErrorText(text, nullptr, ERROR_BAD_EXE_FORMAT));
    EXPECT_FALSE(text.empty());
    std::wstring filled;
    ASSERT_TRUE(GetErrorText(filled, nullptr, ERROR_BAD_EXE_FORMAT, {L"C:\\x.dll"}));
    if (text.find(L"%1") != std::wstring::npos) {
        EXPECT_NE(std::wstring::npos, filled.find(L"C:\\x.dll"));
        EXPECT_EQ(std::wstring::npos, filled.find(L"%1"));
    }
}

TEST(ResString, LanguagesAndAbsentIds)
{
    {
        LanguageScope en(1033);
        std::wstring s = L"x";
        EXPECT_EQ(47, LoadResString(s, IDS_OS_CALL_FAILED));
        EXPECT_EQ(L"A call to an OS function \"%s\" failed (code %d).", s);
        EXPECT_EQ(0, LoadResString(s, 101)); // same block, empty entry
        EXPECT_TRUE(s.empty());
        EXPECT_EQ(0, LoadResString(s, 4000)); // no such block
    }
    {
        LanguageScope ru(1049);
        std::wstring s;
        ASSERT_GT(LoadResString(s, IDS_OS_CALL_FAILED), 0);
        EXPECT_TRUE(HasCyrillic(s));
        EXPECT_NE(std::wstring::npos, s.find(L"%s"));
        EXPECT_NE(std::wstring::npos, s.find(L"%d"));
    }
}

TEST(OSException, MessageIsTextAndSystemText)
{
    LanguageScope en(1033);
    COSException e(2, L"CreateFile");
    EXPECT_EQ(2u, e.Code());
    std::string expected = "A call to an OS function \"CreateFile\" failed (code 2)." + WideToAnsi(SystemText(2));
    EXPECT_EQ(expected, e.what());
    EXPECT_NE('\n', expected.back());
    EXPECT_NE('\r', expected.back());

    COSException zero(0, L"RegOpenKeyEx");
    EXPECT_STREQ("A call to an OS function \"RegOpenKeyEx\" failed (code 0).", zero.what());

    COSException copy(e);
    EXPECT_STREQ(e.what(), copy.what());
    EXPECT_EQ(e.Code(), copy.Code());

    try {
        ThrowOSException(5, L"DeleteFile");
        FAIL();
    } catch (const std::exception& caught) {
        EXPECT_NE(nullptr, strstr(caught.what(), "\"DeleteFile\" failed (code 5)."));
    }
}

TEST(OSException, MessageKeepsItsLanguage)
{
    std::string english;
    {
        LanguageScope en(1033);
        english = COSException(0, L"CreateThread").what();
    }
    LanguageScope ru(1049);
    COSException russian(0, L"CreateThread");
    EXPECT_NE(english, russian.what());
    std::wstring wide = AnsiToWide(std::string(russian.what()));
    EXPECT_NE(std::wstring::npos, wide.find(L"CreateThread"));
}

// A Windows whose code page for non-Unicode programs is 1252 while its user reads Russian: the
// texts the user is shown must keep their Cyrillic; only what() may lose it.
TEST(ExceptionMessage, RussianTextsSurviveAWesternCodePage)
{
    LanguageScope ru(1049);
    CAnsiCodePageScope western(1252);
    ASSERT_EQ(1252u, AnsiCodePage());

    COSException os(ERROR_ACCESS_DENIED, L"CreateFile");
    const std::wstring osText = ExceptionMessage(os);
    EXPECT_TRUE(HasCyrillic(osText)) << osText;
    EXPECT_NE(std::wstring::npos, osText.find(L"CreateFile"));
    EXPECT_NE(nullptr, strchr(os.what(), '?')); // the narrow copy did lose it: the scope is in force

    CFileException file(CFileException::DiskFull, CFileException::NoOsError, L"D:\\\u041E\u0442\u0447\u0451\u0442.xml");
    EXPECT_EQ(L"Disk Full (D:\\\u041E\u0442\u0447\u0451\u0442.xml)", ExceptionMessage(file));

    // Copies and catches by the base keep the text.
    try {
        ThrowOSException(ERROR_ACCESS_DENIED, L"CreateFile");
    } catch (const std::exception& caught) {
        EXPECT_EQ(osText, ExceptionMessage(caught));
    }
    // A foreign exception has only its narrow text.
    EXPECT_EQ(L"plain", ExceptionMessage(std::runtime_error("plain")));
}

TEST(FileException, Messages)
{
    LanguageScope en(1033);
    CFileException full(CFileException::DiskFull, CFileException::NoOsError, L"D:\\a.xml");
    EXPECT_STREQ("Disk Full (D:\\a.xml)", full.what());
    EXPECT_EQ(12, full.GetCause());
    EXPECT_EQ(L"D:\\a.xml", full.FileName());

    EXPECT_STREQ("Disk Full", CFileException(12, CFileException::NoOsError, nullptr).what());
    EXPECT_STREQ("Disk Full", CFileException(12, CFileException::NoOsError, L"").what());

    try {
        ThrowFileExceptionFromOsError(32, L"C:\\p.xml");
        FAIL();
    } catch (const CFileException& e) {
        EXPECT_EQ(CFileException::SharingViolation, e.GetCause());
        EXPECT_EQ(32u, e.OsError());
        std::string expected = WideToAnsi(SystemText(32) + L" (C:\\p.xml)");
        EXPECT_EQ(expected, e.what());
        EXPECT_EQ(nullptr, strstr(e.what(), "Sharing Violation"));
    }

    CFileException copy(full);
    EXPECT_STREQ(full.what(), copy.what());
    EXPECT_EQ(full.OsError(), copy.OsError());
}

TEST(FileException, OsErrorToCauseTable)
{
    struct Row { int cause; std::vector<int> codes; };
    const Row table[] = {
        {1, {2, 6, 18, 107}},
        {2, {3, 15, 17, 34, 52, 53, 55, 67, 70, 85, 111, 123, 124, 125, 144, 154, 161, 206, 208, 267}},
        {3, {4, 36, 68, 113}},
        {4, {5, 12, 19, 29, 54, 58, 64, 65, 71, 80, 82, 86, 170, 183, 999}},
        {5, {11, 26, 60, 66, 114, 182, 191, 193}},
        {6, {16, 145}},
        {7, {62}},
        {8, {24, 25, 27, 30, 131, 132}},
        {9, {20, 21, 22, 23, 57, 59, 88, 117, 995, 996, 997}},
        {10, {32}},
        {11, {33, 108, 167}},
        {12, {39, 112}},
        {13, {38}},
        {0, {0, 1, 209, 268, -5, 100000}},
    };
    for (const Row& row : table)
        for (int code : row.codes)
            EXPECT_EQ(row.cause, CFileException::OsErrorToCause(code)) << code;
}
