// Resource ids of the key-type groups dialogs (the list of groups and one group).
#pragma once

#define IDD_KT_GROUPS 902
#define IDD_KT_GROUP 903
#define IDC_GROUPS_LIST 1028
#define IDC_GROUP_ADD 1029
#define IDC_GROUP_CHANGE 1030
#define IDC_GROUP_DELETE 1031
#define IDC_GROUP_VISIBLE 1032
#define IDC_GROUP_NAME 1033
#define IDC_GROUP_MASK 1034
#define IDC_GROUP_KEY_TYPES 1035

#define IDM_KT_GROUPS 137

#define IDS_GROUP_NAME_EXISTS 126
#define IDS_GROUP_MASK_EXISTS 129
#define IDS_GROUP_COLUMN_FIRST 140 // 140-142
