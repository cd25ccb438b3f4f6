# The help topics for 1C developers checked against the add-in: the names of its methods,
# properties and events, and its error codes with their texts (read from the built Parvel.dll and
# from the component's reader events). The topics are read from the source tree.
file(GLOB ADDIN_HELP_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/help/*.cpp)
if(TARGET parvel_addin AND TARGET Parvel AND ADDIN_HELP_TEST_SOURCES)
    set(ADDIN_HELP_TEST_RC ${CMAKE_CURRENT_SOURCE_DIR}/help/HelpTests.rc)
    add_executable(addin_help_tests ${ADDIN_HELP_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/TestMain.cpp
                   ${ADDIN_HELP_TEST_RC})
    target_link_libraries(addin_help_tests PRIVATE parvel_addin gtest)
    target_include_directories(addin_help_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_CURRENT_SOURCE_DIR})
    parvel_resource_script(${ADDIN_HELP_TEST_RC} ${PARVEL_ADDIN_RC_INCLUDES})
    add_dependencies(addin_help_tests parvel_messages Parvel)
    target_compile_definitions(addin_help_tests PRIVATE PARVEL_HELP_DIR="${CMAKE_SOURCE_DIR}/docs/help"
                               PARVEL_DLL_PATH="$<TARGET_FILE:Parvel>")
    parvel_wine_test(addin_help addin_help_tests LABELS "help")
endif()
