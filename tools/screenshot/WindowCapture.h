// Copies what a window shows on the screen into a 24-bit BMP file. The window must be visible and
// on top: the pixels are read from the screen (of the Wine virtual desktop this runs in), so the
// frame and caption that the desktop draws are in the picture.
#pragma once
#include <windows.h>
#include <string>

// Writes the window's screen rectangle to `path`; false (with a message on stderr) on failure.
// width and height receive the size written.
bool CaptureWindowToBmp(HWND window, const std::wstring& path, int& width, int& height);
