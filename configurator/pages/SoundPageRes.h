// Resource ids of the sound page.
#pragma once

#define IDD_SOUND_PAGE 953
#define IDC_SOUND_ENABLED 1057
#define IDC_SOUND_EDITOR 1059
#define IDC_SOUND_LIST 1138

#define IDB_SOUND_IMAGES 141

#define IDS_SOUND_COLUMN_FIRST 130 // 130-134
#define IDS_SOUND_EVENT_FIRST 135  // 135-138
