// Entry point of the test programs that link none of the project's modules: a crash ends the
// program with a failing code (CrashExit.h), then GoogleTest runs.
#include "CrashExit.h"
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    InstallCrashExit();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
