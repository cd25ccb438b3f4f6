// String-table ids of the foundation's own texts. Shared by the resource scripts and the code.
#pragma once

#define IDS_OS_CALL_FAILED      102   // add-in: "A call to an OS function "%s" failed (code %d)."
#define IDS_OS_CALL_FAILED_CFG  195   // the configurator's copy of the same text

#ifdef PARVEL_CONFIGURATOR
#define IDS_OS_CALL_FAILED_TEXT IDS_OS_CALL_FAILED_CFG
#else
#define IDS_OS_CALL_FAILED_TEXT IDS_OS_CALL_FAILED
#endif
