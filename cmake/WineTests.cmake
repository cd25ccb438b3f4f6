# Running the Windows test programs under Wine.
# Every test program runs through the generated wine-run script (the cross-compiling emulator) in
# the build's private prefix; a fixture starts one persistent wineserver before the tests and ends
# it afterwards, so each Wine start costs a fraction of a second.

#
# The tests that make top-level windows run in a second prefix with a wineserver of its own
# (fixture wineserver_gui, script wine-run-gui). A Wine session's desktop process takes the display
# of whichever process first needs it, and a display-less one makes CreateWindowEx fail in every
# process of the session; when the X server of the desktop's display goes away (xvfb-run ends it
# as its test ends, without waiting), the desktop process dies with it and the next process that
# needs a desktop makes a new one with its own display. Sharing one session, a display-less test
# could thus take the desktop away from a GUI test after that test's window probe had succeeded.
# In the GUI prefix every process has a display.
set(PARVEL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(PARVEL_GUI_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix-gui)
set(PARVEL_PTYSHIM ${CMAKE_BINARY_DIR}/tools/libptyshim.so)
set(PARVEL_SOURCE_DIR ${CMAKE_SOURCE_DIR})
function(parvel_wine_run_script script prefix)
    set(PARVEL_WINEPREFIX ${prefix})
    configure_file(${CMAKE_SOURCE_DIR}/tools/wine-run.in ${script}
                   @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                   WORLD_READ WORLD_EXECUTE)
endfunction()
set(PARVEL_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
set(PARVEL_GUI_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run-gui)
parvel_wine_run_script(${PARVEL_WINE_RUN} ${PARVEL_WINEPREFIX})
parvel_wine_run_script(${PARVEL_GUI_WINE_RUN} ${PARVEL_GUI_WINEPREFIX})
set(CMAKE_CROSSCOMPILING_EMULATOR ${PARVEL_WINE_RUN})

# A GoogleTest entry passes only on GoogleTest's own summary with no failed test and exit code 0:
# put PARVEL_GTEST_VERDICT in front of the entry's command (outside every other wrapper).
set(PARVEL_GTEST_VERDICT ${CMAKE_SOURCE_DIR}/tools/gtest-verdict.sh)

# parvel_wine_test(<name> <target> [PLAIN] [ARGS ...] [ENV ...] [LABELS ...])
# One ctest entry runs one whole GoogleTest program (or one group of it) under Wine; PLAIN marks a
# program that is not a GoogleTest program, whose exit code alone is the verdict.
function(parvel_wine_test name target)
    cmake_parse_arguments(T "PLAIN" "TIMEOUT" "ARGS;ENV;LABELS" ${ARGN})
    if(T_PLAIN)
        add_test(NAME ${name} COMMAND ${target} ${T_ARGS})
    else()
        add_test(NAME ${name} COMMAND ${PARVEL_GTEST_VERDICT} ${PARVEL_WINE_RUN} $<TARGET_FILE:${target}> ${T_ARGS})
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wineserver
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "${T_ENV}"
        LABELS "wine;${T_LABELS}")
endfunction()
