// Makes the calling thread, and the C runtime's process-wide locale, follow a language.
#pragma once
#include <windows.h>

// Uses MessageLcid. Never throws: a locale name the runtime does not know leaves the runtime's
// locale as it was.
void SetThreadLanguage();
// The configurator's form: the language is given.
void SetThreadLanguage(LCID lcid);
