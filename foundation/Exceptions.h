// The two exception classes through which every deep failure of both programs is reported.
// Each carries a finished, localised message, built once at construction, so any catch site can
// show or log it without knowing the kind of failure.
//
// Rule: what() is the message in the ANSI code page, which cannot hold every language (a Russian
// text on a system whose code page for non-Unicode programs is 1252 comes out as "?????"). Texts
// meant for the user are taken with ExceptionMessage, which keeps the message as it was built.
#pragma once
#include <windows.h>
#include <exception>
#include <string>

// Implemented by the exceptions of both programs: the message in UTF-16, as it was built.
class IExceptionMessage
{
public:
    virtual const std::wstring& Message() const = 0;

protected:
    ~IExceptionMessage() = default;
};

// The text of any exception for the user: our exceptions' own UTF-16 message, else what()
// widened from the ANSI code page.
std::wstring ExceptionMessage(const std::exception& e);

// A failed operating-system call: the Win32 error code and the API's name (without A/W suffix).
class COSException : public std::exception, public IExceptionMessage
{
public:
    COSException(DWORD code, const wchar_t* function);
    COSException(const COSException& other) = default;
    COSException& operator=(const COSException& other) = default;
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::wstring& Message() const override { return m_wideMessage; }

    DWORD Code() const { return m_code; }

protected:
    // For subsystem exceptions that build their message themselves.
    COSException(DWORD code, std::wstring message);
    COSException(DWORD code, std::string message);

    DWORD m_code = 0;
    std::string m_message;
    std::wstring m_wideMessage;
};

// A failed file operation: cause, OS error (0xFFFFFFFF = none) and the file's path.
class CFileException : public std::exception, public IExceptionMessage
{
public:
    enum Cause : int
    {
        UnknownError = 0,
        FileNotFound = 1,
        BadPath = 2,
        TooManyOpenFiles = 3,
        AccessDenied = 4,
        InvalidFile = 5,
        RemoveCurrentDir = 6,
        DirectoryFull = 7,
        BadSeek = 8,
        HardIO = 9,
        SharingViolation = 10,
        LockViolation = 11,
        DiskFull = 12,
        EndOfFile = 13,
    };
    static const DWORD NoOsError = 0xFFFFFFFF;

    CFileException(int cause, DWORD osError, const wchar_t* fileName);
    CFileException(const CFileException& other) = default;
    CFileException& operator=(const CFileException& other) = default;
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::wstring& Message() const override { return m_wideMessage; }

    int GetCause() const { return m_cause; }
    DWORD OsError() const { return m_osError; }
    const std::wstring& FileName() const { return m_fileName; }

    static int OsErrorToCause(int osError);
    // The untranslated name of a cause ("Disk Full"); "Unknown Error" for causes out of range.
    static const wchar_t* CauseName(int cause);

private:
    int m_cause;
    std::wstring m_fileName;
    DWORD m_osError;
    std::string m_message;
    std::wstring m_wideMessage;
};

[[noreturn]] void ThrowOSException(DWORD code, const wchar_t* function);
[[noreturn]] void ThrowFileException(int cause, DWORD osError, const wchar_t* fileName);
[[noreturn]] void ThrowFileExceptionFromOsError(DWORD osError, const wchar_t* fileName);
