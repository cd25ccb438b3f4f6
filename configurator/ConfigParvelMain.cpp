// The program's entry: everything else is in configparvel_lib, which the tests link as well.
#include "App.h"
#include "ModuleState.h"

// The one application object, constructed before the entry function runs.
static CConfigParvelApp theApp;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand)
{
    ModuleHandle = instance;
    int result = theApp.InitInstance(showCommand);
    if (result != 0)
        return result;
    return theApp.Run();
}
