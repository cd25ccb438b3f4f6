// File search, the order of file lists and the choice of one file.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Appends the files of `folder` and all its subfolders, in the order the system lists them.
// With `extensions` (three texts with their dot, such as ".wav") only files whose extension equals
// one of them, without regard to case. A file of an empty folder text is appended by bare name.
void FindFiles(std::vector<std::wstring>& out, const std::wstring& folder, const wchar_t* const* extensions);
// Folders in case-insensitive order; within one folder the entries of subfolders come first.
bool PathLess(const std::wstring& a, const std::wstring& b);
// The system's open-file dialog (through the user-interface seam) for one existing sound file:
// true with the chosen path, false with an empty one.
bool BrowseForFile(std::wstring& path, HWND owner);
// The real dialog, bypassing the seam.
bool RunBrowseForFile(std::wstring& path, HWND owner);
