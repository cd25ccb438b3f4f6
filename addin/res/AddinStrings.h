// String-table ids of the component's own texts. Shared by the resource script and the code; the
// log message numbers are fixed because log lines carry them.
#pragma once

#define IDS_FORMAT_NOT_SPECIFIED   115 // reason of a failed transfer: no format accepts the key
#define IDS_FORMAT_EMPTY_RESULT    116 // reason of a failed transfer: the format printed nothing
#define IDS_DRIVER_DESCRIPTION     119 // GetDescription
#define IDS_AUTO                   120 // caption of the automatic choice in the parameters document
#define IDS_BAD_HEX_DATA           121 // card command data: text that is not pairs of hex digits
#define IDS_BAD_MIFARE_KEY         123 // Mifare Classic key that is not a number of at most 48 bits
#define IDS_BAD_TCP_PORT           124 // port name: a converter's address without a TCP port of 1-65535
#define IDS_LOG_HEADER             130 // day, month, year, add-in version text, Windows version text
#define IDS_LOG_EVENT_REFUSED      131 // event name, data (the platform's event buffer was full)
#define IDS_LOG_LINES_LOST         132 // number of log lines given up (the file could not take them in time)
#define IDS_LOG_TRANSFERRED        160 // the key's text
#define IDS_LOG_TRANSFER_FAILED    161 // the reason
#define IDS_PAGE_PARAMETERS        170
#define IDS_GROUP_CONNECTION       171
#define IDS_PARAMETER_CAPTION      172 // 172 + property number, for properties 0-13
#define IDS_GROUP_DEVICE           186
