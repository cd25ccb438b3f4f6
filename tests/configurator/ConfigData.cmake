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
    PARVEL_DEFAULT_CONFIG="${CMAKE_SOURCE_DIR}/configurator/data/DefaultConfig.xml"
    PARVEL_GOLDEN_DIR="${CMAKE_CURRENT_LIST_DIR}/data/golden")
if(TARGET Parvel)
    add_dependencies(configdata_tests Parvel)
    target_compile_definitions(configdata_tests PRIVATE PARVEL_DLL_PATH="$<TARGET_FILE:Parvel>")
endif()
parvel_wine_test(configdata configdata_tests)

# Registry mode seen from outside: the system's "reg query" reads what Save wrote to the add-in's
# key in the build's private prefix.
add_executable(configdata_tool ${CMAKE_CURRENT_LIST_DIR}/data/tools/configdata_tool.cpp)
target_link_libraries(configdata_tool PRIVATE configparvel_data)
target_link_options(configdata_tool PRIVATE -municode)
add_test(NAME configdata_registry_mode
         COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/data/registry_mode_test.sh ${PARVEL_WINE_RUN}
                 $<TARGET_FILE:configdata_tool> ${CMAKE_BINARY_DIR})
set_tests_properties(configdata_registry_mode PROPERTIES
    FIXTURES_REQUIRED wineserver
    TIMEOUT 120
    LABELS wine
    RESOURCE_LOCK parvel_settings_key)
