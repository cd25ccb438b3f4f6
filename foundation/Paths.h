// Folder, path and whole-file helpers.
#pragma once
#include <string>

// Creates the folder and every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// Appends one backslash, always: callers pass folders without one.
std::wstring IncludeTrailingBackslash(const std::wstring& folder);
// Removes leading and trailing spaces (U+0020 only).
void TrimSpaces(std::wstring& text);
// The folder part of a path (before its last backslash); empty when it has none.
std::wstring ExtractFolder(const std::wstring& path);
bool FileExists(const std::wstring& path);
// The whole file as bytes (a file that shrinks while it is read gives what was there). Throws
// CFileException with the path.
std::string ReadFileBytes(const std::wstring& path);
