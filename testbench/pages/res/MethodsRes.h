// Resource ids of the methods page and the method-call dialogs.
#pragma once
#include "PropertiesRes.h"

#define IDD_METHODS_PAGE     959
#define IDC_METHS_LIST       1093
#define IDC_METHS_REFRESH    1094
#define IDC_METHS_SEARCH     1132

#define IDD_METHOD           149
#define IDC_METHOD_ENGLISH   1157
#define IDC_METHOD_RUSSIAN   1158
#define IDC_METHOD_ARGS      1159
#define IDC_METHOD_EXECUTE   1160
#define IDC_METHOD_OUTPUT    1161

#define IDD_METHOD_ARG       150
#define IDC_ARG_NUMBER       1162
#define IDC_ARG_TYPE         1163
#define IDC_ARG_DEFAULT_TEXT 1164
#define IDC_ARG_VALUE_AREA   1172
#define IDC_ARG_DEFAULT      1173
