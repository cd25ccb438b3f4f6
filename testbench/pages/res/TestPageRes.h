// Resource ids of the test page, the events page and the reader-search dialog.
#pragma once

#define IDD_TEST_PAGE        955
#define IDC_TEST_LOAD        1041
#define IDC_TEST_DEVICES     1081
#define IDC_TEST_OPEN        1102
#define IDC_TEST_CLOSE       1082
#define IDC_TEST_RECONNECT   1083
#define IDC_TEST_TABS        1084

#define IDD_EVENTS_PAGE      956
#define IDC_EVENTS_LIST      1040
#define ID_EVENTS_CLEAR      32789
#define ID_EVENTS_ENGLISH    32791
#define ID_EVENTS_RUSSIAN    32792
#define IDM_EVENTS_CONTEXT   139
#define IDB_EVENT_LEVELS     138

#define IDD_SEARCH_READERS   906
#define IDC_SEARCH_FOUND     1133
#define IDC_SEARCH_PROGRESS  1134
#define IDC_SEARCH_STATUS    1135
#define IDC_SEARCH_ABORT     3
#define IDC_SEARCH_AGAIN     4
