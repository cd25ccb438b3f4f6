// Resource ids of the About box (dialog 900).
#pragma once

#define IDD_ABOUT_BOX 900

#define IDC_AB_TITLE 1004
#define IDC_AB_VERSION 1005
#define IDC_AB_WEB 1006
#define IDC_AB_MAIL 1007
