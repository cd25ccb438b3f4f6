// Entry point of every test program: a crash ends the program with a failing code (CrashExit.h),
// the program's own resources stand in for the module that carries the texts (the add-in or the
// configurator), then GoogleTest runs.
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
