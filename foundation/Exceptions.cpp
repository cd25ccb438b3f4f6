// The exception classes and the OS-error-to-cause table.
#include "Exceptions.h"
#include "CodePage.h"
#include "FoundationStrings.h"
#include "ResText.h"
#include "WFormat.h"

COSException::COSException(DWORD code, const wchar_t* function) : m_code(code)
{
    std::wstring text;
    FormatResString(text, IDS_OS_CALL_FAILED_TEXT, function ? function : L"", static_cast<int>(code));
    if (code != 0) {
        std::wstring system;
        if (GetErrorText(system, nullptr, code))
            text += system;
    }
    m_wideMessage = std::move(text);
    WideToAnsi(m_message, m_wideMessage.c_str(), static_cast<int>(m_wideMessage.size()));
}

COSException::COSException(DWORD code, std::wstring message) : m_code(code), m_wideMessage(std::move(message))
{
    WideToAnsi(m_message, m_wideMessage.c_str(), static_cast<int>(m_wideMessage.size()));
}

COSException::COSException(DWORD code, std::string message) : m_code(code), m_message(std::move(message))
{
    AnsiToWide(m_wideMessage, m_message.c_str(), static_cast<int>(m_message.size()));
}

std::wstring ExceptionMessage(const std::exception& e)
{
    if (const IExceptionMessage* own = dynamic_cast<const IExceptionMessage*>(&e))
        return own->Message();
    std::wstring text;
    AnsiToWide(text, e.what());
    return text;
}

CFileException::CFileException(int cause, DWORD osError, const wchar_t* fileName)
    : m_cause(cause), m_osError(osError)
{
    if (fileName)
        m_fileName = fileName;
    std::wstring text;
    if (osError == NoOsError)
        text = CauseName(cause);
    else
        GetErrorText(text, nullptr, osError);
    if (!m_fileName.empty())
        text += L" (" + m_fileName + L")";
    m_wideMessage = std::move(text);
    WideToAnsi(m_message, m_wideMessage.c_str(), static_cast<int>(m_wideMessage.size()));
}

const wchar_t* CFileException::CauseName(int cause)
{
    static const wchar_t* const names[] = {
        L"Unknown Error",      L"File Not Found",  L"Bad Path",          L"Too Many Open Files",
        L"Access Denied",      L"Invalid File",    L"Remove Current Dir", L"Directory Full",
        L"Bad Seek",           L"Hard IO",         L"Sharing Violation", L"Lock Violation",
        L"Disk Full",          L"End Of File",
    };
    if (cause < 0 || cause >= static_cast<int>(sizeof(names) / sizeof(names[0])))
        return names[0];
    return names[cause];
}

int CFileException::OsErrorToCause(int osError)
{
    struct Row { int cause; int codes[20]; };
    static const Row table[] = {
        {FileNotFound, {2, 6, 18, 107}},
        {BadPath, {3, 15, 17, 34, 52, 53, 55, 67, 70, 85, 111, 123, 124, 125, 144, 154, 161, 206, 208, 267}},
        {TooManyOpenFiles, {4, 36, 68, 113}},
        {AccessDenied, {5, 12, 19, 29, 54, 58, 64, 65, 71, 80, 82, 86, 170, 183, 999}},
        {InvalidFile, {11, 26, 60, 66, 114, 182, 191, 193}},
        {RemoveCurrentDir, {16, 145}},
        {DirectoryFull, {62}},
        {BadSeek, {24, 25, 27, 30, 131, 132}},
        {HardIO, {20, 21, 22, 23, 57, 59, 88, 117, 995, 996, 997}},
        {SharingViolation, {32}},
        {LockViolation, {33, 108, 167}},
        {DiskFull, {39, 112}},
        {EndOfFile, {38}},
    };
    if (osError <= 0)
        return UnknownError;
    for (const Row& row : table)
        for (int code : row.codes)
            if (code == osError)
                return row.cause;
    return UnknownError;
}

void ThrowOSException(DWORD code, const wchar_t* function)
{
    throw COSException(code, function);
}

void ThrowFileException(int cause, DWORD osError, const wchar_t* fileName)
{
    throw CFileException(cause, osError, fileName);
}

void ThrowFileExceptionFromOsError(DWORD osError, const wchar_t* fileName)
{
    throw CFileException(CFileException::OsErrorToCause(static_cast<int>(osError)), osError, fileName);
}
