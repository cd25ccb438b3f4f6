# The connection page, the advanced page and the About box: their data exchange and texts as plain
# tests (no windows).
set(MAINPAGES_LOGIC_SOURCES
    ${CMAKE_SOURCE_DIR}/configurator/pages/ControlNumbers.cpp
    ${CMAKE_SOURCE_DIR}/configurator/pages/MainPageExchange.cpp
    ${CMAKE_SOURCE_DIR}/configurator/pages/AboutText.cpp)
file(GLOB MAINPAGES_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/mainpages/*_test.cpp)
add_executable(mainpages_tests ${MAINPAGES_TEST_SOURCES} ${MAINPAGES_LOGIC_SOURCES}
               ${CMAKE_SOURCE_DIR}/tests/support/TestMain.cpp)
target_include_directories(mainpages_tests PRIVATE ${CMAKE_SOURCE_DIR}/configurator/pages
                           ${CMAKE_SOURCE_DIR}/tests/support)
target_link_libraries(mainpages_tests PRIVATE parvel_foundation_cfg gtest)
parvel_wine_test(mainpages mainpages_tests)

# The screenshot tool: its PNG writer, and a real capture once the program is built.
set(MAINPAGES_SHOTS_TEST ${CMAKE_CURRENT_LIST_DIR}/mainpages/test_screenshots.py)
add_test(NAME screenshot_png COMMAND python3 ${MAINPAGES_SHOTS_TEST} ConverterTest)
set_tests_properties(screenshot_png PROPERTIES TIMEOUT 60 LABELS "tools")
if(TARGET ConfigParvel)
    add_test(NAME screenshots COMMAND python3 ${MAINPAGES_SHOTS_TEST} CaptureTest)
    set_tests_properties(screenshots PROPERTIES TIMEOUT 300 LABELS "wine;gui"
                         ENVIRONMENT "PARVEL_BUILD_DIR=${CMAKE_BINARY_DIR}")
endif()
