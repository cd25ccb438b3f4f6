# The connection page, the advanced page and the About box in the running program, on the
# in-process GUI harness (gui/AppFixture). Runs under Xvfb and, like every test that starts the
# application, holds the lock "ConfigParvelWindow".
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/gui/AppFixture.cpp)
    file(GLOB MAINPAGES_GUI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/mainpages_gui/*_test.cpp)
    add_executable(mainpages_gui_tests ${MAINPAGES_GUI_TEST_SOURCES}
                   ${CMAKE_CURRENT_LIST_DIR}/gui/AppFixture.cpp ${CMAKE_CURRENT_LIST_DIR}/gui/ScriptedUi.cpp
                   ${CMAKE_SOURCE_DIR}/tests/support/TestMain.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/mainpages_gui/MainPagesGuiTests.rc)
    target_include_directories(mainpages_gui_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/gui
                               ${CMAKE_SOURCE_DIR}/tests/support)
    target_link_libraries(mainpages_gui_tests PRIVATE configparvel_lib gtest)
    parvel_resource_script(${CMAKE_CURRENT_LIST_DIR}/mainpages_gui/MainPagesGuiTests.rc ${CONFIGPARVEL_RC_INCLUDES})
    add_dependencies(mainpages_gui_tests parvel_messages)
    add_test(NAME mainpages_gui COMMAND xvfb-run -a ${PARVEL_WINE_RUN} $<TARGET_FILE:mainpages_gui_tests>)
    set_tests_properties(mainpages_gui PROPERTIES FIXTURES_REQUIRED wineserver TIMEOUT 300
                         RESOURCE_LOCK ConfigParvelWindow LABELS "wine;gui")
endif()
