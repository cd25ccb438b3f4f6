# The worked examples of the key-format help topics, run through the add-in's own CheckFormat and
# Format: a group of the add-in's test program that reads the topics from the source tree.
if(TARGET addin_tests)
    target_compile_definitions(addin_tests PRIVATE PARVEL_HELP_DIR="${CMAKE_SOURCE_DIR}/docs/help")
    parvel_wine_test(help_examples addin_tests ARGS --gtest_filter=HelpExamples.*)
endif()
