// Module-wide state of the foundation: which module holds the resources, and in which language
// texts are looked up. Set once at load (the add-in's load hook, the configurator's entry function);
// MessageLcid is replaced later only by the add-in's SetLocale. Reads need no lock: a change made
// while another thread builds a text takes effect at that thread's next lookup.
#pragma once
#include <windows.h>

extern HMODULE ModuleHandle;
extern volatile LCID MessageLcid;

// The system default locale; used to initialise MessageLcid when the module loads.
LCID InitMessageLcid();
