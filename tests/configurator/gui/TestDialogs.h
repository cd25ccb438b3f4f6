// Templates of the framework tests' own dialog.
#pragma once
#define IDD_TEST_DIALOG   20900
#define IDC_TEST_BUTTON   1001
#define IDC_TEST_EDIT     1002
#define IDC_TEST_LIST     1003
#define IDC_TEST_OTHER    1004
