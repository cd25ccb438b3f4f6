// The two exception classes through which every deep failure of both programs is reported.
// Each carries a finished, localised message in the ANSI code page, built once at construction,
// so any catch site can show or log it without knowing the kind of failure.
#pragma once
#include <windows.h>
#include <exception>
#include <string>

// A failed operating-system call: the Win32 error code and the API's name (without A/W suffix).
class COSException : public std::exception
{
public:
    COSException(DWORD code, const wchar_t* function);
    COSException(const COSException& other) = default;
    COSException& operator=(const COSException& other) = default;
    const char* what() const noexcept override { return m_message.c_str(); }

    DWORD Code() const { return m_code; }

protected:
    // For subsystem exceptions that build their message themselves.
    COSException(DWORD code, std::string message) : m_code(code), m_message(std::move(message)) {}

    DWORD m_code = 0;
    std::string m_message;
};

// A failed file operation: cause, OS error (0xFFFFFFFF = none) and the file's path.
class CFileException : public std::exception
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
};

[[noreturn]] void ThrowOSException(DWORD code, const wchar_t* function);
[[noreturn]] void ThrowFileException(int cause, DWORD osError, const wchar_t* fileName);
[[noreturn]] void ThrowFileExceptionFromOsError(DWORD osError, const wchar_t* fileName);
