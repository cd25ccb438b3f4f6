// String-table ids of the foundation's own texts. Shared by the resource scripts and the code.
#pragma once

#define IDS_OS_CALL_FAILED      102   // add-in: "A call to an OS function "%s" failed (code %d)."
#define IDS_OS_CALL_FAILED_CFG  195   // the configurator's copy of the same text

// Settings files not read whole: what was wrong, one text per XmlDamage from Truncated on (in
// that order), and the message naming the file, the fault and the kept copy (also the add-in's
// log line, so its number is fixed).
#define IDS_XML_DAMAGE_FIRST        400
#define IDS_SETTINGS_FILE_DAMAGED   406   // file, what was wrong, copy
// The configurator's refusal to save settings it could not load.
#define IDS_NOT_SAVED_UNLOADED      407

#ifdef PARVEL_CONFIGURATOR
#define IDS_OS_CALL_FAILED_TEXT IDS_OS_CALL_FAILED_CFG
#else
#define IDS_OS_CALL_FAILED_TEXT IDS_OS_CALL_FAILED
#endif
