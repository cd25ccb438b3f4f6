# The program under Xvfb: the window framework and the main window driven in process (one test
# program linking configparvel_lib), and one out-of-process run of the real ConfigParvel.exe.
# Only one ConfigParvel may run in the Wine session at a time, so these entries (and any other that
# starts the program) hold the resource lock ConfigParvelWindow.
file(GLOB CONFIGPARVEL_GUI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/gui/*.cpp)
add_executable(configparvel_gui_tests ${CONFIGPARVEL_GUI_TEST_SOURCES}
               ${CMAKE_SOURCE_DIR}/tests/support/UserInput.cpp ${CMAKE_SOURCE_DIR}/tests/support/WindowFit.cpp
               ${CMAKE_CURRENT_LIST_DIR}/gui/GuiTests.rc)
target_link_libraries(configparvel_gui_tests PRIVATE configparvel_lib gtest urlmon ole32 uuid)
target_include_directories(configparvel_gui_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support
                           ${CMAKE_CURRENT_LIST_DIR}/gui)
# The add-in's table of its external events (a header of constants), which the test page must show.
target_include_directories(configparvel_gui_tests PRIVATE ${CMAKE_SOURCE_DIR}/addin)
parvel_resource_script(${CMAKE_CURRENT_LIST_DIR}/gui/GuiTests.rc ${CONFIGPARVEL_RC_INCLUDES}
                       ${CMAKE_CURRENT_LIST_DIR}/gui)
add_dependencies(configparvel_gui_tests parvel_messages window_probe)

# parvel_gui_test(<name> [PLAIN] COMMAND <program> [args...] [ENV ...]): under its own X server
# (through tools/gui-run.sh and the window probe), in the GUI tests' prefix (cmake/WineTests.cmake),
# with the window lock. The program is a GoogleTest program unless PLAIN says otherwise.
function(parvel_gui_test name)
    cmake_parse_arguments(T "PLAIN" "" "COMMAND;ENV" ${ARGN})
    set(verdict ${PARVEL_GTEST_VERDICT})
    if(T_PLAIN)
        set(verdict)
    endif()
    add_test(NAME ${name} COMMAND ${verdict} ${CMAKE_SOURCE_DIR}/tools/gui-run.sh ${PARVEL_GUI_WINE_RUN}
             $<TARGET_FILE:window_probe> ${T_COMMAND})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wineserver_gui TIMEOUT 300
                         RESOURCE_LOCK ConfigParvelWindow ENVIRONMENT "${T_ENV}" LABELS "wine;gui")
endfunction()

parvel_gui_test(configparvel_gui COMMAND $<TARGET_FILE:configparvel_gui_tests>)
parvel_gui_test(configparvel_gui_russian
    COMMAND $<TARGET_FILE:configparvel_gui_tests> --gtest_filter=Shell.*:Labels.*:Layout.*:Fit.*:AccessKeys.*
    ENV "LC_ALL=ru_RU.UTF-8")

add_executable(configparvel_smoke ${CMAKE_CURRENT_LIST_DIR}/smoke/ConfigParvelSmoke.cpp
               ${CMAKE_CURRENT_LIST_DIR}/smoke/ProgramRun.cpp)
target_include_directories(configparvel_smoke PRIVATE ${CMAKE_CURRENT_LIST_DIR}/smoke)
target_link_options(configparvel_smoke PRIVATE -municode)
target_link_libraries(configparvel_smoke PRIVATE shell32 user32)
add_dependencies(configparvel_smoke ConfigParvel window_probe)
parvel_gui_test(configparvel_smoke PLAIN COMMAND $<TARGET_FILE:configparvel_smoke> Z:$<TARGET_FILE:ConfigParvel>)

# The program at 120 and 144 DPI (screen scaling of 125 % and 150 %), each in a prefix of its own
# whose LogPixels says so (tools/wine-prefix.sh), on the screen that DPI is used with, in both
# languages: every page and dialog fits its window and the screen (gui/Fit_test.cpp). A Wine
# session keeps the screen size of the display its services first started on (1024 x 768 without
# one): the prefix's server starts under a display of that DPI's screen, and every entry of the
# prefix has the same.
foreach(dpi_screen 120:1280x1024 144:1920x1080)
    string(REPLACE ":" ";" dpi_screen ${dpi_screen})
    list(GET dpi_screen 0 dpi)
    list(GET dpi_screen 1 screen)
    set(prefix ${CMAKE_BINARY_DIR}/wineprefix-dpi${dpi})
    set(wine_run ${CMAKE_BINARY_DIR}/wine-run-dpi${dpi})
    parvel_wine_run_script(${wine_run} ${prefix})
    add_test(NAME wineserver_dpi${dpi}_start COMMAND xvfb-run -a -s "-screen 0 ${screen}x24"
             ${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh start ${prefix} ${dpi})
    add_test(NAME wineserver_dpi${dpi}_stop COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh stop ${prefix})
    set_tests_properties(wineserver_dpi${dpi}_start PROPERTIES FIXTURES_SETUP wineserver_dpi${dpi} TIMEOUT 120)
    set_tests_properties(wineserver_dpi${dpi}_stop PROPERTIES FIXTURES_CLEANUP wineserver_dpi${dpi})
    foreach(language en ru)
        set(env "PARVEL_GUI_SCREEN=${screen}")
        set(name configparvel_gui_dpi${dpi})
        if(language STREQUAL "ru")
            list(APPEND env "LC_ALL=ru_RU.UTF-8")
            set(name ${name}_russian)
        endif()
        add_test(NAME ${name} COMMAND ${PARVEL_GTEST_VERDICT} ${CMAKE_SOURCE_DIR}/tools/gui-run.sh ${wine_run}
                 $<TARGET_FILE:window_probe> $<TARGET_FILE:configparvel_gui_tests> --gtest_filter=Fit.*)
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wineserver_dpi${dpi} TIMEOUT 300
                             RESOURCE_LOCK ConfigParvelWindowDpi${dpi} ENVIRONMENT "${env}" LABELS "wine;gui")
    endforeach()
endforeach()
