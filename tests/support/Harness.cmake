# The test harness checked on itself: programs that crash on purpose must make their entries fail,
# promptly (no debugger may hold them), however the crash happens.
add_executable(crash_tests ${CMAKE_CURRENT_LIST_DIR}/CrashOnPurpose_test.cpp ${CMAKE_CURRENT_LIST_DIR}/PlainTestMain.cpp)
target_link_libraries(crash_tests PRIVATE gtest)
target_include_directories(crash_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
foreach(crash MainThread OtherThread AfterTheSummary)
    string(TOLOWER ${crash} suffix)
    add_test(NAME harness_crash_${suffix}
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/expect-crash.sh ${PARVEL_GTEST_VERDICT} ${PARVEL_WINE_RUN}
                     $<TARGET_FILE:crash_tests> --gtest_filter=CrashOnPurpose.${crash})
    set_tests_properties(harness_crash_${suffix} PROPERTIES FIXTURES_REQUIRED wineserver TIMEOUT 60
                         LABELS "wine;harness")
endforeach()
# A crash the system handles itself: the prefix starts no debugger (tools/wine-prefix.sh).
add_test(NAME harness_crash_withoutthefilter
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/expect-crash.sh --no-filter ${PARVEL_GTEST_VERDICT} ${PARVEL_WINE_RUN}
                 $<TARGET_FILE:crash_tests> --gtest_filter=CrashOnPurpose.WithoutTheFilter)
set_tests_properties(harness_crash_withoutthefilter PROPERTIES FIXTURES_REQUIRED wineserver TIMEOUT 60
                     LABELS "wine;harness")
# A program that ends with exit code 0 but without GoogleTest's summary fails on that alone.
add_test(NAME harness_quiet_exit
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/expect-crash.sh --no-summary ${PARVEL_GTEST_VERDICT} ${PARVEL_WINE_RUN}
                 $<TARGET_FILE:crash_tests> --gtest_filter=CrashOnPurpose.QuietExitBeforeTheSummary)
set_tests_properties(harness_quiet_exit PROPERTIES FIXTURES_REQUIRED wineserver TIMEOUT 60
                     LABELS "wine;harness")
