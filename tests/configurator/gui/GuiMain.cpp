// Entry point of the GUI test program: a crash ends the program with a failing code (CrashExit.h),
// and the program's own resources stand in for ConfigParvel's.
// Run through tools/gui-run.sh, which gives it a display the Wine session can use.
#include "CrashExit.h"
#include "ModuleState.h"
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    InstallCrashExit();
    ModuleHandle = GetModuleHandleW(nullptr);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
