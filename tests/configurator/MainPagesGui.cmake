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
    # A prefix of its own whose Wine session starts on the Xvfb display: the shared session of the
    # other tests runs without a display, and there no top-level window can be made. The session
    # is ended afterwards, so that the next run does not meet a desktop of a display that is gone.
    set(MAINPAGES_GUI_PREFIX ${CMAKE_BINARY_DIR}/gui-prefix)
    add_test(NAME mainpages_gui COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" sh -c
             "export WINEPREFIX=\"$0\" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' WINEARCH=win64
              \"$1\" init \"$0\" && wine \"$2\"; rc=$?; wineserver -k; wineserver -w; exit $rc"
             ${MAINPAGES_GUI_PREFIX} ${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh $<TARGET_FILE:mainpages_gui_tests>)
    set_tests_properties(mainpages_gui PROPERTIES TIMEOUT 300 RESOURCE_LOCK ConfigParvelWindow LABELS "wine;gui")
endif()
