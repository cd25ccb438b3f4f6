// Room after the captions of group boxes. A group box erases its frame line only as wide as its
// caption measures, and where it draws the caption through a bitmap of that width it cuts off
// whatever of the letters reaches past it. The letters of a substituted font can reach past their
// measured width (rounding that adds up along the caption); the line then resumes on the last
// letter, or the letter loses its end. The caption gets blanks after it to cover what its letters
// reach past, and one for a gap, which costs nothing where the font measures true. Code that reads
// a caption back as a field name drops the blanks (FieldName does).
#pragma once
#include <windows.h>

// Gives `group` (a group box with a caption, its font set) its blanks; nothing for any other
// control, or when the caption ends with a blank already.
void PadGroupCaption(HWND group);
// The same for every group box among the children of `dialog`.
void PadGroupCaptions(HWND dialog);
