// Keeping the bytes of settings files that could not be read whole, and the texts that say so.
#include "DamagedFile.h"
#include "Exceptions.h"
#include "FoundationStrings.h"
#include "Handles.h"
#include "Paths.h"
#include "ResText.h"
#include "WFormat.h"
#include <windows.h>

namespace {

// Enough for every copy a user could want; beyond it the file is left alone instead.
const int MaxCopies = 100;

// Writes the bytes to a new file; false when the name is taken. Throws CFileException otherwise.
bool WriteNewFile(const std::wstring& path, const std::string& bytes)
{
    CFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            return false;
        ThrowFileExceptionFromOsError(error, path.c_str());
    }
    DWORD written = 0;
    if (!bytes.empty() && (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                           written != bytes.size())) {
        DWORD error = GetLastError();
        file.Reset();
        DeleteFileW(path.c_str());
        if (written != bytes.size() && error == ERROR_SUCCESS)
            ThrowFileException(CFileException::DiskFull, CFileException::NoOsError, path.c_str());
        ThrowFileExceptionFromOsError(error, path.c_str());
    }
    return true;
}

} // namespace

DamagedFileCopy KeepIfDamaged(CMemXML& doc, const std::wstring& path, const wchar_t* rootName)
{
    DamagedFileCopy copy;
    copy.Damage = doc.Damage();
    // Whatever is written back must be one document with the expected root: a foreign first
    // element goes, and so does everything after the first. Processing instructions before it
    // (a style sheet, say) are no element and stay.
    CMXNode& root = doc.Root();
    std::size_t first = 0;
    while (first < root.Children.size() && root.Children[first]->Name.compare(0, 1, L"?") == 0)
        ++first;
    if (first < root.Children.size() && root.Children[first]->Name != rootName) {
        if (copy.Damage == XmlDamage::None)
            copy.Damage = XmlDamage::ForeignRoot;
        root.RemoveChildrenFrom(first);
    }
    root.RemoveChildrenFrom(first + 1);
    if (copy.Damage == XmlDamage::None)
        return copy;
    copy.Path = path;
    const std::string bytes = ReadFileBytes(path);
    for (int number = 0; number < MaxCopies; ++number) {
        copy.CopyPath = path + L".bad";
        if (number > 0)
            AppendFormat(copy.CopyPath, L".%d", number);
        if (FileExists(copy.CopyPath)) {
            if (ReadFileBytes(copy.CopyPath) == bytes)
                return copy;
            continue;
        }
        if (WriteNewFile(copy.CopyPath, bytes)) {
            copy.NewCopy = true;
            return copy;
        }
    }
    ThrowFileExceptionFromOsError(ERROR_FILE_EXISTS, copy.CopyPath.c_str());
}

std::wstring XmlDamageText(XmlDamage damage)
{
    if (damage == XmlDamage::None)
        return std::wstring();
    return LoadResString(IDS_XML_DAMAGE_FIRST + static_cast<UINT>(damage) - 1);
}

std::wstring DamagedFileMessage(const DamagedFileCopy& copy)
{
    std::wstring text;
    FormatString(text, LoadResString(IDS_SETTINGS_FILE_DAMAGED).c_str(), copy.Path.c_str(),
                 XmlDamageText(copy.Damage).c_str(), copy.CopyPath.c_str());
    return text;
}
