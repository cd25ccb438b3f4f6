// The entries that the sound page's in-place editor offers: the media files of a folder and its
// subfolders (.wav, .mid, .mp3), files of subfolders before the folder's own, each shown as its
// path followed by " \t// " and the shell's display name. Picking an entry stores only the path.
#pragma once
#include <string>
#include <vector>

extern const wchar_t MEDIA_ENTRY_SEPARATOR[]; // " \t// "

// The path, with the separator and the display name when there is one.
std::wstring MediaEntryText(const std::wstring& path, const std::wstring& displayName);
// The editor's text cut before the separator.
std::wstring EditorTextToPath(const std::wstring& text);
// The entries for the media files under `folder`, sorted as file lists are.
std::vector<std::wstring> MediaFileEntries(const std::wstring& folder);
// The system's media folder (the Windows folder's "Media").
std::wstring SystemMediaFolder();
