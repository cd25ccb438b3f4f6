// Makes the calling thread, and the C runtime's locale, follow a language.
#pragma once
#include <windows.h>

// The add-in's threads: uses MessageLcid and changes the runtime locale of the calling thread
// only (never the process's, which belongs to the host). Never throws: a locale name the runtime
// does not know leaves the runtime's locale as it was.
void SetThreadLanguage();
// The configurator's form: the language is given, and the runtime locale is the process's.
void SetThreadLanguage(LCID lcid);
