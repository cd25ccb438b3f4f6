// Resource ids shared by every key-type list: the long names of the 19 key types, "All", and the
// "Check all" / "Uncheck all" menu of the lists.
#pragma once

#define IDS_ALL_KEY_TYPES 149
#define IDS_KEY_TYPE_FIRST 150 // 150-168, one per key type in bit order

#define IDM_KEY_TYPES 132
#define ID_KEY_TYPES_CHECK_ALL 32773
#define ID_KEY_TYPES_UNCHECK_ALL 32774
