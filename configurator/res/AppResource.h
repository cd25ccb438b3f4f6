// Resource ids of the program shell and the window framework, shared by the resource scripts and
// the code. Pages and dialogs keep their control ids in their own small headers.
#pragma once

// Program
#define IDS_APP_TITLE           103   // "Parvel Configurator"
#define IDS_ABOUT_MENU          106   // "&About Parvel Configurator..."
#define IDI_APP                 107
#define IDS_SAVE_FAILED_QUIT    108   // "Failed to save settings. Quit anyway?"
#define IDR_ACCELERATORS        109
#define IDS_REALLY              120   // "Really?"
#define IDS_SAVE_CHANGES        127   // "Save changes?"
#define IDS_SUCCESSFULLY        128   // "Successfully."
#define IDB_SORT_ARROWS         136
#define IDS_SOUND_FILTER        202   // filter of the open-file dialog for sounds
#define IDS_NUMBER_OUT_OF_RANGE 420   // a number field's refusal: field name, lowest, highest

// Commands; the button captions are the strings of the same ids.
#define ID_APP_LOAD             32775
#define ID_APP_SAVE             32776
#define ID_APP_ABOUT            32777
#define ID_APP_HELP             32803
#define ID_APP_DEFAULT          32805
#define ID_APP_NEXT_PAGE        32806 // Ctrl+Tab, Ctrl+PgDn
#define ID_APP_PREV_PAGE        32807 // Ctrl+Shift+Tab, Ctrl+PgUp

// Main window children
#define IDC_MAIN_TAB            1

// Pages: dialog templates, tab captions and help ids share the numbers 950-955.
#define IDD_PAGE_MAIN           950
#define IDD_PAGE_FORMATS        951
#define IDD_PAGE_READKEYS       952
#define IDD_PAGE_SOUND          953
#define IDD_PAGE_ADVANCED       954
#define IDD_PAGE_TEST           955
#define IDS_TAB_FIRST           950
#define IDD_ABOUT               900

