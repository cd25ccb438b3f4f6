// String-table ids of the test host's texts. Shared by the resource script and the code.
#pragma once

#define IDS_TEST_INIT_FAILED        190   // "Failed to initialize Parvel component."
#define IDS_TEST_CREATE_FAILED      191   // "Failed to create component Parvel."
#define IDS_TEST_SET_PROP_FAILED    194   // "Failed to set property "%s" components =%s."
#define IDS_TEST_CALL_FAILED        196   // "Failed to execute method "%s"."
#define IDS_TEST_METHOD_NOT_FOUND   197   // ""%s" method not found."
#define IDS_TEST_PROP_NOT_FOUND     198   // ""%s" property not found."
