// String-table ids of the test-bench pages and dialogs, shared by their resource scripts and code.
#pragma once

#define IDS_SEARCH_RUNNING        118   // "Searching for readers..."
#define IDS_SEARCH_FOUND          119   // "Search finished. Readers found: %d."
#define IDS_SEARCH_NOTHING        123   // "Nothing found."
#define IDS_YES                   124
#define IDS_NO                    125
#define IDS_SUCCESSFULLY          128   // owned by the main window's table
#define IDS_EVENTS_COL_TIME       180
#define IDS_EVENTS_COL_SOURCE     181
#define IDS_EVENTS_COL_MESSAGE    182
#define IDS_EVENTS_COL_DATA       183
#define IDS_ARGS_ROW_TYPE         186
#define IDS_ARGS_ROW_VALUE        187
#define IDS_ARGS_ROW_DEFAULT      188
#define IDS_TEST_LOAD             192
#define IDS_TEST_UNLOAD           193
#define IDS_DRIVER_INSTALLED      203
#define IDS_SERIAL_NUMBER         204   // "s/n %d"
#define IDS_METHOD_CALL           205
#define IDS_METHOD_RESULT         206   // "Result: (%s) \"%s\""
#define IDS_METHOD_OUTPUT_VALUES  207
#define IDS_DECIMAL               208
#define IDS_HEXADECIMAL           209
#define IDS_TAB_EVENTS            231
#define IDS_TAB_PROPERTIES        232
#define IDS_TAB_METHODS           233
#define IDS_PROPS_COL_FIRST       240   // 240-245: "#", names, type, value, attributes
#define IDS_METHS_COL_FIRST       250   // 250-255: "#", names, return value, count, defaults
#define IDS_DEVOPEN_TAB_FORM      260
#define IDS_DEVOPEN_TAB_PARAMS    261
#define IDS_DEVOPEN_TAB_ACTIONS   262
#define IDS_DEVICE_STATE_BASE     270   // + state 1-3: "disconnected", "connecting...", "connected"
// The program's own texts of the test bench (23000-23999).
#define IDS_BENCH_NO_ARGUMENTS    23000 // the argument grid of a method without parameters
#define IDS_BENCH_NOT_A_NUMBER    23001 // after a number parameter's caption and ": "
#define IDS_BENCH_BLOB_NOT_HEX    23002 // a BLOB argument whose text is not hexadecimal pairs
#define IDS_BENCH_NOT_OF_TYPE     23003 // a property value that is no number of its type: text, type, range, hex digits
#define IDS_BENCH_ARG_NOT_OF_TYPE 23004 // the same of a method argument
#define IDS_BENCH_DEVICE_TEST_RUNNING 23005 // after the device dialog's title while Device Test runs
