// Settings files that could not be read or written, told so that a user can act on it: which file,
// why (a folder in its place, read-only, held by another program, else the system's own reason),
// and what was and was not saved or loaded because of it.
#pragma once
#include "Exceptions.h"
#include <windows.h>
#include <exception>
#include <string>

enum class FileFault
{
    Folder,     // a folder has the file's name
    ReadOnly,
    InUse,      // another program holds the file open
    Other,
};

// Why an operation on `path` failed with `osError`, judged from the failure and from the path as
// it is now.
FileFault FindFileFault(const std::wstring& path, DWORD osError);

// A failure whose text was made for the user; Text keeps what the ANSI code page cannot hold.
class CFileProblem : public std::exception, public IExceptionMessage
{
public:
    explicit CFileProblem(std::wstring text);
    const char* what() const noexcept override { return m_ansi.c_str(); }
    const std::wstring& Text() const { return m_text; }
    const std::wstring& Message() const override { return m_text; }

private:
    std::wstring m_text;
    std::string m_ansi;
};

// "Could not save (or read) "<file>": <why>", then `outcome` on a line of its own when not empty.
std::wstring FileProblemText(const CFileException& e, bool writing, const std::wstring& outcome);
// The same for a file that is a folder, found before any system call failed.
std::wstring FolderProblemText(const std::wstring& path, bool writing, const std::wstring& outcome);
