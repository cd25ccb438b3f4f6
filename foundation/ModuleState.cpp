// Module-wide state: the resource module and the message language.
#include "ModuleState.h"

HMODULE ModuleHandle = nullptr;
volatile LCID MessageLcid = InitMessageLcid();

LCID InitMessageLcid()
{
    return GetSystemDefaultLCID();
}
