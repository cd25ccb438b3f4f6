// Telling a user what went wrong with a settings file (see FileProblem.h).
#include "FileProblem.h"
#include "CodePage.h"
#include "DataStrings.h"
#include "Handles.h"
#include "ResText.h"
#include "WFormat.h"

namespace {

std::wstring Problem(const std::wstring& path, bool writing, const std::wstring& why, const std::wstring& outcome)
{
    std::wstring text;
    FormatResString(text, writing ? IDS_FILE_NOT_SAVED : IDS_FILE_NOT_READ, path.c_str(), why.c_str());
    if (!outcome.empty())
        text += L"\r\n" + outcome;
    return text;
}

} // namespace

FileFault FindFileFault(const std::wstring& path, DWORD osError)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return FileFault::Folder;
    if (osError == ERROR_SHARING_VIOLATION || osError == ERROR_LOCK_VIOLATION)
        return FileFault::InUse;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return FileFault::ReadOnly;
    // Replacing a file that another program holds open fails as "access denied": asking for the
    // right to replace it, with every kind of sharing granted, tells that case apart.
    if (attributes != INVALID_FILE_ATTRIBUTES && osError == ERROR_ACCESS_DENIED) {
        CFileHandle probe(CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
        if (!probe && GetLastError() == ERROR_SHARING_VIOLATION)
            return FileFault::InUse;
    }
    return FileFault::Other;
}

CFileProblem::CFileProblem(std::wstring text) : m_text(std::move(text))
{
    WideToAnsi(m_ansi, m_text.c_str());
}

std::wstring FileProblemText(const CFileException& e, bool writing, const std::wstring& outcome)
{
    const std::wstring& path = e.FileName();
    std::wstring why;
    switch (FindFileFault(path, e.OsError())) {
    case FileFault::Folder:
        why = LoadResString(IDS_FAULT_FOLDER);
        break;
    case FileFault::ReadOnly:
        why = LoadResString(IDS_FAULT_READ_ONLY);
        break;
    case FileFault::InUse:
        why = LoadResString(IDS_FAULT_IN_USE);
        break;
    case FileFault::Other:
        why = e.Message();
        break;
    }
    return Problem(path, writing, why, outcome);
}

std::wstring FolderProblemText(const std::wstring& path, bool writing, const std::wstring& outcome)
{
    return Problem(path, writing, LoadResString(IDS_FAULT_FOLDER), outcome);
}
