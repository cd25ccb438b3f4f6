// The add-in library's load hook: remembers the module whose resources hold every text.
// The static initialisers (MessageLcid among them) have run before it.
#include "ModuleState.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH || reason == DLL_THREAD_ATTACH)
        ModuleHandle = instance;
    return TRUE;
}
