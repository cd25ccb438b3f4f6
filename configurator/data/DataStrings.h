// String-table ids of the configurator data core's own texts: what went wrong with a settings
// file, and what was and was not saved because of it.
#pragma once

#define IDS_FILE_NOT_SAVED          421   // path, why: the file could not be written
#define IDS_FILE_NOT_READ           422   // path, why: the file could not be read
#define IDS_FAULT_FOLDER            423   // why: a folder has the file's name
#define IDS_FAULT_READ_ONLY         424   // why: the file is read-only
#define IDS_FAULT_IN_USE            425   // why: another program holds the file open
#define IDS_SAVED_ADDIN_FILE        426   // path: the add-in's settings were written there
#define IDS_SAVED_ADDIN_REGISTRY    427   // the add-in's settings were written to the registry
#define IDS_NOT_SAVED_CONFIG        428   // what ConfigParvel.xml holds was not saved
#define IDS_NOTHING_SAVED           429
#define IDS_ADDIN_NOT_LOADED        430   // the add-in's settings were not loaded and are kept
#define IDS_CONFIG_NOT_LOADED       431   // the library and window state were not loaded and are kept
