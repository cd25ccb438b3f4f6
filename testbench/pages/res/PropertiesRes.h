// Resource ids of the properties page and the property dialog.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_PROPERTIES_PAGE  958
#define IDC_PROPS_LIST       1091
#define IDC_PROPS_REFRESH    1092
#define IDC_PROPS_CHANGE     1112
#define IDC_PROPS_LOAD       1110
#define IDC_PROPS_SAVE       1111

#define IDD_PROPERTY         905
#define IDC_PROP_ENGLISH     1113
#define IDC_PROP_RUSSIAN     1114
#define IDC_PROP_TYPE        1115
#define IDC_PROP_VALUE_AREA  1116
// Value controls made at run time (shared with the method-argument dialog).
#define IDC_VALUE_DECIMAL    1118
#define IDC_VALUE_HEX        1119
#define IDC_VALUE_YES        1167
#define IDC_VALUE_NO         1168
#define IDC_VALUE_NUMBER     1169
#define IDC_VALUE_SPIN       1170
#define IDC_VALUE_TEXT       1171
