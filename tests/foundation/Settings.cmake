# The registry layout of the settings store, checked with the system's own registry tool in the
# build's private Wine prefix: a small program writes a record to the real settings key, the shell
# test reads the key back with "reg query".
add_executable(settings_tool ${CMAKE_CURRENT_LIST_DIR}/tools/settings_tool.cpp)
target_link_libraries(settings_tool PRIVATE parvel_foundation_addin)
target_link_options(settings_tool PRIVATE -municode)

add_test(NAME foundation_registry_layout
         COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/registry_layout_test.sh ${PARVEL_WINE_RUN} $<TARGET_FILE:settings_tool>)
set_tests_properties(foundation_registry_layout PROPERTIES
    FIXTURES_REQUIRED wineserver
    TIMEOUT 120
    LABELS wine
    RESOURCE_LOCK parvel_settings_key)
