// Resource ids of the About box (dialog 900).
#pragma once
#include "AppResource.h" // the template id IDD_ABOUT

#define IDC_AB_TITLE 1004
#define IDC_AB_VERSION 1005
#define IDC_AB_WEB 1006
#define IDC_AB_MAIL 1007
