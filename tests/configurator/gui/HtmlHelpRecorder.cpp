// The recording HtmlHelpW. Defined in the test program, it takes the place of the import-library
// stub, so the program's own calls come here.
#include "HtmlHelpRecorder.h"
#include <htmlhelp.h>

namespace {

using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

HtmlHelpFn RealFunction()
{
    static HtmlHelpFn real = [] {
        HMODULE module = LoadLibraryW(L"hhctrl.ocx");
        return module ? reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(GetProcAddress(module, "HtmlHelpW")))
                      : nullptr;
    }();
    return real;
}

} // namespace

std::vector<HelpCall>& RecordedHelpCalls()
{
    static std::vector<HelpCall> calls;
    return calls;
}

HWND RealHtmlHelp(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data)
{
    HtmlHelpFn real = RealFunction();
    return real ? real(caller, file, command, data) : nullptr;
}

extern "C" HWND WINAPI HtmlHelpW(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data)
{
    HWND window = RealHtmlHelp(caller, file, command, data);
    HelpCall call;
    call.file = file ? file : L"";
    call.command = command;
    call.data = data;
    call.window = window;
    RecordedHelpCalls().push_back(call);
    return window;
}
