# Running the Windows test programs under Wine.
# Every test program runs through the generated wine-run script (the cross-compiling emulator) in
# the build's private prefix; a fixture starts one persistent wineserver before the tests and ends
# it afterwards, so each Wine start costs a fraction of a second.

set(PARVEL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(PARVEL_PTYSHIM ${CMAKE_BINARY_DIR}/tools/libptyshim.so)
set(PARVEL_SOURCE_DIR ${CMAKE_SOURCE_DIR})
configure_file(${CMAKE_SOURCE_DIR}/tools/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
               WORLD_READ WORLD_EXECUTE)
set(PARVEL_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PARVEL_WINE_RUN})

# parvel_wine_test(<name> <target> [ARGS ...] [ENV ...] [LABELS ...])
# One ctest entry runs one whole test program (or one group of it) under Wine.
function(parvel_wine_test name target)
    cmake_parse_arguments(T "" "TIMEOUT" "ARGS;ENV;LABELS" ${ARGN})
    add_test(NAME ${name} COMMAND ${target} ${T_ARGS})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wineserver
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "${T_ENV}"
        LABELS "wine;${T_LABELS}")
endfunction()
