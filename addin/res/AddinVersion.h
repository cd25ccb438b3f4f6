// The add-in's version: one place for the version resource and GetVersion.
#pragma once

#define PARVEL_VERSION_MAJOR 1
#define PARVEL_VERSION_MINOR 7
#define PARVEL_VERSION_BUILD 2
#define PARVEL_VERSION_REVISION 1
#define PARVEL_VERSION_TEXT "1.7.2.1"
#define PARVEL_VERSION_WTEXT L"1.7.2.1"
