# The GUI tests of the help (tests/configurator/gui/Help_test.cpp) copy the built help files from
# the build's Languages folder; the Russian run checks that a Russian system opens Parvel_RUS.chm
# (the viewer's own check of both files runs once, in the English entry).
if(TARGET configparvel_gui_tests AND TARGET help_files)
    add_dependencies(configparvel_gui_tests help_files)
    target_compile_definitions(configparvel_gui_tests PRIVATE
        PARVEL_BUILT_HELP_FOLDER="Z:${CMAKE_BINARY_DIR}/configurator/Languages")
    parvel_gui_test(configparvel_gui_help_russian
        COMMAND $<TARGET_FILE:configparvel_gui_tests> --gtest_filter=Help.HelpButton*:Help.F1*
        ENV "LC_ALL=ru_RU.UTF-8")
endif()
