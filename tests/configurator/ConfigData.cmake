# The data core's tests: the settings file, the library, the application data with both stores,
# and the test-bench hooks against the real add-in.
file(GLOB CONFIGDATA_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/data/*.cpp)
add_executable(configdata_tests ${CONFIGDATA_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/TestMain.cpp
               ${CMAKE_CURRENT_LIST_DIR}/data/ConfigDataTests.rc)
target_link_libraries(configdata_tests PRIVATE configparvel_data gtest)
target_include_directories(configdata_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
parvel_resource_script(${CMAKE_CURRENT_LIST_DIR}/data/ConfigDataTests.rc ${PARVEL_TESTBENCH_RC_INCLUDES}
                       ${PARVEL_CONFIGDATA_RC_INCLUDES})
add_dependencies(configdata_tests parvel_messages)
target_compile_definitions(configdata_tests PRIVATE
    PARVEL_DEFAULT_CONFIG="${CMAKE_SOURCE_DIR}/configurator/data/DefaultConfig.xml")
if(TARGET Parvel)
    add_dependencies(configdata_tests Parvel)
    target_compile_definitions(configdata_tests PRIVATE PARVEL_DLL_PATH="$<TARGET_FILE:Parvel>")
endif()
parvel_wine_test(configdata configdata_tests)
