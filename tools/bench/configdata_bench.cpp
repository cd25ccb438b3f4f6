// Load and save of the configurator's settings with a library of 10,000 formats (not a test):
// prints the times of Save and Load of ConfigParvel.xml and of the add-in's settings file, in
// portable mode, with few and with all formats enabled. Goal: under 200 ms each under Wine.
#include "AppData.h"
#include "BenchTiming.h"
#include "Paths.h"
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const int LibrarySize = 10000;

void FillLibrary(CAppData& app, int enabledEvery)
{
    app.Formats.clear();
    for (int i = 0; i < LibrarySize; ++i) {
        KeyFormatItem item;
        item.Name = L"Формат " + std::to_wstring(i);
        item.Template = L"%.3u,%.5u";
        item.Params = L"b2 w01";
        item.Comment = L"Контроллеры серии " + std::to_wstring(i % 97);
        item.KeyTypes = 1u << (i % 19);
        item.KeySize = i % 8;
        item.Enabled = i % enabledEvery == 0 ? 1 : 0;
        app.Formats.push_back(item);
    }
    app.KTGroups = {KeyTypeGroup{L"HID", 4, 1}, KeyTypeGroup{L"Mifare 1K/4K", 0x60, 1}};
}

void Measure(const std::wstring& folder, const char* label, int enabledEvery)
{
    CAppData app;
    app.SetLocation(true, folder);
    FillLibrary(app, enabledEvery);
    double saveConfig = BestOf([&] { app.ModifiedFlags = 3; app.Save(DATA_LIBRARY | DATA_UI); });
    double saveAddin = BestOf([&] { app.Save(DATA_ADDIN); });
    double saveAll = BestOf([&] { app.Save(DATA_LIBRARY | DATA_UI | DATA_ADDIN); });
    CAppData back;
    back.SetLocation(true, folder);
    double loadAll = BestOf([&] { back.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN); });
    std::printf("%-28s save ConfigParvel.xml %7.1f ms, save Parvel.xml %7.1f ms, save all %7.1f ms, "
                "load all %7.1f ms (%zu formats back)\n",
                label, saveConfig, saveAddin, saveAll, loadAll, back.Formats.size());
}

} // namespace

int main()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"configdata-bench-" + std::to_wstring(GetCurrentProcessId());
    ForceDirectories(folder);
    std::printf("Settings with a library of %d formats, best of %d runs (goal: under 200 ms each):\n", LibrarySize,
                Runs);
    Measure(folder, "1 in 100 formats enabled:", 100);
    Measure(folder, "every format enabled:", 1);
    DeleteFileW((folder + L"\\ConfigParvel.xml").c_str());
    DeleteFileW((folder + L"\\Parvel.xml").c_str());
    RemoveDirectoryW(folder.c_str());
    return 0;
}
