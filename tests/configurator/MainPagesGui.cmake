# The connection page, the advanced page and the About box in the running program, on the
# in-process GUI harness (gui/AppFixture), run like the other GUI tests (parvel_gui_test, Gui.cmake).
file(GLOB MAINPAGES_GUI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/mainpages_gui/*_test.cpp)
add_executable(mainpages_gui_tests ${MAINPAGES_GUI_TEST_SOURCES}
               ${CMAKE_CURRENT_LIST_DIR}/gui/AppFixture.cpp ${CMAKE_CURRENT_LIST_DIR}/gui/ScriptedUi.cpp
               ${CMAKE_CURRENT_LIST_DIR}/gui/GuiMain.cpp ${CMAKE_SOURCE_DIR}/tests/support/UserInput.cpp
               ${CMAKE_CURRENT_LIST_DIR}/mainpages_gui/MainPagesGuiTests.rc)
target_include_directories(mainpages_gui_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/gui
                           ${CMAKE_SOURCE_DIR}/tests/support)
target_link_libraries(mainpages_gui_tests PRIVATE configparvel_lib gtest)
parvel_resource_script(${CMAKE_CURRENT_LIST_DIR}/mainpages_gui/MainPagesGuiTests.rc ${CONFIGPARVEL_RC_INCLUDES})
add_dependencies(mainpages_gui_tests parvel_messages window_probe)
parvel_gui_test(mainpages_gui COMMAND $<TARGET_FILE:mainpages_gui_tests>)
parvel_gui_test(mainpages_gui_russian COMMAND $<TARGET_FILE:mainpages_gui_tests> ENV "LC_ALL=ru_RU.UTF-8")
