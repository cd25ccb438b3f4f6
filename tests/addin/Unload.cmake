# Parvel.dll leaves the process when its host frees it, after a reader ran on a serial port. A
# program of its own: it loads the library once and must not load it again (see the test).
if(TARGET Parvel)
    add_executable(module_unload_tests ${CMAKE_CURRENT_SOURCE_DIR}/unload/ModuleUnload_test.cpp
                   ${CMAKE_SOURCE_DIR}/tests/support/SimControl.cpp ${CMAKE_SOURCE_DIR}/tests/support/PlainTestMain.cpp)
    target_link_libraries(module_unload_tests PRIVATE gtest ws2_32)
    target_include_directories(module_unload_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support
                               ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/addin)
    target_compile_definitions(module_unload_tests PRIVATE PARVEL_DLL_PATH="$<TARGET_FILE:Parvel>")
    add_dependencies(module_unload_tests Parvel)
    add_test(NAME module_unload COMMAND ${PARVEL_GTEST_VERDICT} ${CMAKE_SOURCE_DIR}/tools/with-readersim.sh ${PARVEL_WINEPREFIX}
             ${PARVEL_WINE_RUN} $<TARGET_FILE:module_unload_tests>)
    set_tests_properties(module_unload PROPERTIES FIXTURES_REQUIRED wineserver TIMEOUT 120 LABELS "wine;sim"
                         RESOURCE_LOCK comports)
endif()

# The library leaves the process once the reader threads that Close and Done left to a driver that
# takes 15 s to open a port have ended. A build of the add-in with that driver, and a program that
# loads it as the platform does.
if(TARGET parvel_addin AND EXISTS ${CMAKE_SOURCE_DIR}/addin/Exports.cpp)
    add_library(ParvelSlowOpen SHARED ${CMAKE_SOURCE_DIR}/addin/Exports.cpp
                ${CMAKE_CURRENT_SOURCE_DIR}/unload/SlowOpenHook.cpp ${CMAKE_CURRENT_SOURCE_DIR}/unload/ParvelSlowOpen.def
                ${CMAKE_SOURCE_DIR}/addin/res/Parvel.rc)
    set_target_properties(ParvelSlowOpen PROPERTIES PREFIX "" OUTPUT_NAME ParvelSlowOpen)
    target_link_libraries(ParvelSlowOpen PRIVATE parvel_addin)
    target_include_directories(ParvelSlowOpen PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    parvel_resource_script(${CMAKE_SOURCE_DIR}/addin/res/Parvel.rc ${PARVEL_ADDIN_RC_INCLUDES})
    add_dependencies(ParvelSlowOpen parvel_messages)

    add_executable(module_unload_stuck_tests ${CMAKE_CURRENT_SOURCE_DIR}/unload/StuckDriverUnload_test.cpp
                   ${CMAKE_SOURCE_DIR}/tests/support/PlainTestMain.cpp)
    target_link_libraries(module_unload_stuck_tests PRIVATE gtest)
    target_include_directories(module_unload_stuck_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support
                               ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/addin)
    target_compile_definitions(module_unload_stuck_tests PRIVATE PARVEL_SLOW_DLL_PATH="$<TARGET_FILE:ParvelSlowOpen>")
    add_dependencies(module_unload_stuck_tests ParvelSlowOpen)
    add_test(NAME module_unload_stuck COMMAND ${PARVEL_GTEST_VERDICT} ${PARVEL_WINE_RUN}
             $<TARGET_FILE:module_unload_stuck_tests>)
    set_tests_properties(module_unload_stuck PROPERTIES FIXTURES_REQUIRED wineserver TIMEOUT 120 LABELS "wine")
endif()
