// Resource ids of the device dialog, its parameter form and its XML pages.
#pragma once

#define IDD_DEV_OPEN         904
#define IDC_DEVOPEN_TABS     1097

#define IDD_PARAMS_PAGE      957
#define IDC_PARAMS_CAPTION   1104
#define IDC_PARAMS_DRIVER    1103
#define IDC_PARAMS_STATE     1099
#define IDC_PARAMS_VERSION   1100
#define IDC_PARAMS_TABS      1101
#define IDC_PARAMS_SAVE      1095
#define IDC_PARAMS_FUNCTIONS 1098
#define IDM_DEVICE_TEST      144
#define ID_DEVICE_TEST       32793
#define ID_ACTION_FIRST      800
#define IDB_FUNCTION_ICONS   141

#define IDD_XML_PAGE         960
#define IDC_XML_TEXT         1087
#define IDM_XML_CONTEXT      145
#define ID_XML_COPY          32795
#define ID_XML_COPY_ALL      32796
#define ID_XML_SELECT_ALL    32798

#define IDD_XMLPARS_PAGE     961
