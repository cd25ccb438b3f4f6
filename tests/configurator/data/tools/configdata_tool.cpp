// Writes the add-in's settings the way the configurator's Save does in registry mode, so that a
// shell test can read the key with the system's own registry tool; "delete" removes the key.
// Runs only in the build's private Wine prefix (the tests' wine-run script).
#include "AppData.h"
#include <windows.h>
#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    if (wcscmp(argv[1], L"delete") == 0) {
        LONG result = RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Corvane\\Parvel");
        return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND ? 0 : 1;
    }
    if (wcscmp(argv[1], L"save") != 0 || argc < 3)
        return 2;
    try {
        CAppData app;
        app.SetLocation(false, argv[2]);
        app.Portname = L"COM9";
        app.KeyTypes = 0x7E;
        KeyFormatItem on;
        on.Name = L"HelmSaaS";
        on.Template = L"%.3u,%.5u";
        on.Params = L"b2 w01";
        on.KeyTypes = 0x7E;
        on.Enabled = 1;
        KeyFormatItem off = on;
        off.Name = L"Disabled";
        off.Enabled = 0;
        app.Formats = {off, on};
        app.Save(DATA_ADDIN | DATA_LIBRARY);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
