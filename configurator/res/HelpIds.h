// The help topics ConfigParvel opens: a page's topic is HTML Help context HELP_CONTEXT_BASE + the
// page's help id. The help build reads the IDH_ lines below (number and topic file) to write the
// help project's map and aliases, so the program and the help files cannot drift apart: keep one
// define per line, in the form "#define IDH_NAME number // topic.htm".
#pragma once

#define HELP_CONTEXT_BASE       0x20000

#define IDH_PAGE_MAIN           950   // page-main.htm
#define IDH_PAGE_FORMATS        951   // page-formats.htm
#define IDH_PAGE_READKEYS       952   // page-readkeys.htm
#define IDH_PAGE_SOUND          953   // page-sound.htm
#define IDH_PAGE_ADVANCED       954   // page-advanced.htm
#define IDH_PAGE_TEST           955   // page-test.htm

#ifdef __cplusplus
// The help id of each page, in tab order.
constexpr int kPageHelpIds[] = {IDH_PAGE_MAIN,     IDH_PAGE_FORMATS, IDH_PAGE_READKEYS,
                                IDH_PAGE_SOUND,    IDH_PAGE_ADVANCED, IDH_PAGE_TEST};
#endif
