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
