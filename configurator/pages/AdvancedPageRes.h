// Resource ids of the advanced page (dialog 954).
#pragma once
#include "AppResource.h" // the template id IDD_PAGE_ADVANCED

#define IDC_AP_CONFIRM_DELETE 1050
#define IDC_AP_CONFIRM_LOAD 1051
#define IDC_AP_CONFIRM_SAVE 1052
