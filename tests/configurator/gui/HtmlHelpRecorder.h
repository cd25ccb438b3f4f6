// A recording stand-in for HtmlHelpW in the GUI tests: every call the program makes is kept (what
// it asked for and what the real viewer answered) and passed on to the system's hhctrl.ocx, so a
// test sees both which topic was asked for and that a help window opened.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct HelpCall
{
    std::wstring file;
    UINT command = 0;
    DWORD_PTR data = 0;
    HWND window = nullptr;   // what the real HtmlHelpW returned
};

std::vector<HelpCall>& RecordedHelpCalls();
// The system's own HtmlHelpW, bypassing the recorder (null when hhctrl.ocx is missing).
HWND RealHtmlHelp(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data);
