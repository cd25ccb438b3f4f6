// String-table ids of the reader engine's texts: connection failure texts and the log messages
// that reader threads write. Shared by the resource script and the code; the numbers are fixed
// because log lines carry them.
#pragma once

#define IDS_UNABLE_TO_CONNECT     105 // "Unable to connect to the reader."
#define IDS_PORT_OPEN_TIMED_OUT   109 // port name, milliseconds: a serial open given up on
#define IDS_MODEL_NOT_SUPPORTED   112 // "Reader model (0x%.2X) is not supported."
#define IDS_ON_COMMAND            114 // "on command." (reason of a requested disconnection)
#define IDS_WINSOCK_VERSION_NEEDED 117 // required Winsock major and minor version

// Log messages below 140 are written whenever the log is on: once per connection, how a network
// converter passes 0xFF. Arguments: port name, the converter's bytes that showed it (hex text):
// a Telnet sign, or (135, 136) a reader's frame that is a sound reply only read one way.
#define IDS_LOG_CONVERTER_RAW_CHECK    135
#define IDS_LOG_CONVERTER_TELNET_CHECK 136
#define IDS_LOG_CONVERTER_UNKNOWN 137
#define IDS_LOG_CONVERTER_TELNET  138
#define IDS_LOG_CONVERTER_RAW     139

// Log messages 140-149: port.
#define IDS_LOG_PORT_OPEN         140 // port name, baud, 'N', 8, stop-bits text
#define IDS_LOG_PORT_OPEN_FAILED  141 // port name, baud, 'N', 8, stop bits (1 or 2), code, text
#define IDS_LOG_PORT_CLOSED       142 // port name
#define IDS_LOG_PORT_ERROR        143 // code, text
#define IDS_LOG_RECEIVED          144 // received bytes as text
#define IDS_LOG_SENT              145 // sent bytes as text
#define IDS_LOG_PORT_CONFIGURED   146 // baud, 'N', 8, stop-bits text
#define IDS_LOG_PORT_CONFIG_FAILED 147 // baud, 'N', 8, stop-bits text, code, text
#define IDS_LOG_STOPBITS_MAPPED   148 // port name
#define IDS_LOG_PORT_QUEUES       149 // port name, code, text

// Log messages 150-159: reader.
#define IDS_LOG_CONNECTED         150 // model name, serial number, firmware version text
#define IDS_LOG_CONNECT_FAILED    151 // last error text
#define IDS_LOG_OS_ERROR          152 // code, text
#define IDS_LOG_ERROR             153 // text
#define IDS_LOG_KEY_READ          154 // key type short name, key text
#define IDS_LOG_DISCONNECTED      155 // reason text
#define IDS_LOG_MODEL_GIVEN_UP    156 // device code, identifications in a row
#define IDS_LOG_DISCARDED         157 // discarded input as text
#define IDS_LOG_TRAFFIC_OMITTED   158 // received bytes not logged, milliseconds
#define IDS_LOG_LINE_DROPPED      159 // the longest line kept, in bytes
