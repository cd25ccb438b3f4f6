// Resource ids of the key-format library page.
#pragma once

#define IDD_FORMATS_PAGE 951
#define IDC_FORMATS_LIST 1002
#define IDC_FORMATS_TABS 1026
#define IDC_FORMAT_ADD 1036
#define IDC_FORMAT_CHANGE 1037
#define IDC_FORMAT_DELETE 1038
#define IDC_ONLY_ENABLED 32784 // the check box and the list menu's command

#define IDM_FORMATS_LIST 131
#define IDM_FORMATS_TABS 133
#define ID_TAB_ALL 32782
#define ID_CUSTOMIZE_TABS 32780
#define ID_GROUP_FIRST 2000 // 2000 + group index: show or hide that group's tab

#define IDS_REMOVE_ITEMS 104
#define IDS_FIELD_REQUIRED 105
#define IDS_TAB_ALL 107
#define IDS_FORMAT_COLUMN_FIRST 110 // 110-116, one per column
#define IDS_LIST_EMPTY 143
