# The key-format library, its dialogs, the key-type groups, the read-keys and sound pages: the pure
# logic (formats/), and the pages in process on the GUI harness's application fixture
# (formats/gui/, under Xvfb, holding the window lock like every test that starts the program).
# Included after Gui.cmake, whose parvel_gui_test it uses.
file(GLOB CFGFORMATS_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/formats/*.cpp)
set(CFGFORMATS_HARNESS ${CMAKE_CURRENT_LIST_DIR}/gui/AppFixture.cpp ${CMAKE_CURRENT_LIST_DIR}/gui/ScriptedUi.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/UserInput.cpp)
set(CFGFORMATS_GUI OFF)
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/gui/AppFixture.cpp)
    set(CFGFORMATS_GUI ON)
    file(GLOB CFGFORMATS_GUI_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/formats/gui/*.cpp)
    list(APPEND CFGFORMATS_TEST_SOURCES ${CFGFORMATS_GUI_SOURCES} ${CFGFORMATS_HARNESS}
         ${CMAKE_SOURCE_DIR}/tests/support/SimControl.cpp)
endif()
add_executable(cfgformats_tests ${CFGFORMATS_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/TestMain.cpp
               ${CONFIGPARVEL_RC})
target_link_libraries(cfgformats_tests PRIVATE configparvel_lib gtest ws2_32)
target_include_directories(cfgformats_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_CURRENT_LIST_DIR}/gui
                           ${CMAKE_CURRENT_LIST_DIR}/formats/gui)
parvel_resource_script(${CONFIGPARVEL_RC} ${CONFIGPARVEL_RC_INCLUDES})
add_dependencies(cfgformats_tests parvel_messages)
if(TARGET Parvel)
    add_dependencies(cfgformats_tests Parvel)
    target_compile_definitions(cfgformats_tests PRIVATE PARVEL_DLL_PATH="$<TARGET_FILE:Parvel>")
endif()
if(CFGFORMATS_GUI)
    add_dependencies(cfgformats_tests window_probe)
    parvel_gui_test(cfgformats COMMAND $<TARGET_FILE:cfgformats_tests> --gtest_filter=-LiveTest.*)
    # The keyboard and the Mifare key's refusal under the Russian interface as well.
    parvel_gui_test(cfgformats_russian COMMAND $<TARGET_FILE:cfgformats_tests>
        --gtest_filter=ReadKeysByHand.*:FormatsPageTest.Space*:FormatsPageTest.DeleteLeaves*:KTGroupsTest.Space*:FormatDialogTest.Space*:FormatDialogTest.OkRefusesAKeySize*:KTGroupsTest.AddingAGroupShowsItsTab
        ENV "LC_ALL=ru_RU.UTF-8")
    # The format dialog's live test beside the reader simulator's hub, whose simulated COM ports
    # are mapped into the GUI tests' prefix; one test per process.
    foreach(live Unloaded:ACardShowsWhatTheFormatMakesAndTheAddinIsUnloadedAfter
                 russian:RussianEventNamesAreShownToo open:ADeviceOpenBeforeStaysOpenAndFormatTempIsRemoved
                 userformat:AUsersFormatTempIsNeitherRunNorDeletedAndThePortIsPutBack
                 template:AnUnreadableTemplateShowsItsErrorInPlaceOfTheLastResult)
        string(REPLACE ":" ";" parts ${live})
        list(GET parts 0 suffix)
        list(GET parts 1 name)
        string(TOLOWER ${suffix} suffix)
        add_test(NAME cfgformats_live_${suffix}
                 COMMAND ${PARVEL_GTEST_VERDICT} ${CMAKE_SOURCE_DIR}/tools/with-readersim.sh ${PARVEL_GUI_WINEPREFIX}
                 ${CMAKE_SOURCE_DIR}/tools/gui-run.sh ${PARVEL_GUI_WINE_RUN} $<TARGET_FILE:window_probe>
                 $<TARGET_FILE:cfgformats_tests> --gtest_filter=LiveTest.${name})
        set_tests_properties(cfgformats_live_${suffix} PROPERTIES FIXTURES_REQUIRED wineserver_gui TIMEOUT 300
                             RESOURCE_LOCK "ConfigParvelWindow;comports" LABELS "wine;gui;sim")
    endforeach()
    # The template's error, read whole, under the Russian interface as well.
    add_test(NAME cfgformats_live_template_russian
             COMMAND ${PARVEL_GTEST_VERDICT} ${CMAKE_SOURCE_DIR}/tools/with-readersim.sh ${PARVEL_GUI_WINEPREFIX}
             ${CMAKE_SOURCE_DIR}/tools/gui-run.sh ${PARVEL_GUI_WINE_RUN} $<TARGET_FILE:window_probe>
             $<TARGET_FILE:cfgformats_tests> --gtest_filter=LiveTest.AnUnreadableTemplateShowsItsErrorInPlaceOfTheLastResult)
    set_tests_properties(cfgformats_live_template_russian PROPERTIES FIXTURES_REQUIRED wineserver_gui TIMEOUT 300
                         RESOURCE_LOCK "ConfigParvelWindow;comports" LABELS "wine;gui;sim"
                         ENVIRONMENT "LC_ALL=ru_RU.UTF-8")
else()
    parvel_wine_test(cfgformats cfgformats_tests)
endif()
