# Checks of the built Parvel.dll: its exports, imports and version resource (a shell test on the
# objdump of the file), and the path through which the ABI tests load it as the platform does.
if(TARGET Parvel)
    find_program(PARVEL_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
    add_test(NAME dll_exports
             COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/dll_exports_test.sh ${PARVEL_OBJDUMP} $<TARGET_FILE:Parvel>)
    set_tests_properties(dll_exports PROPERTIES TIMEOUT 60 LABELS "dll")
    if(TARGET addin_tests)
        add_dependencies(addin_tests Parvel)
        target_compile_definitions(addin_tests PRIVATE PARVEL_DLL_PATH="$<TARGET_FILE:Parvel>")
    endif()
endif()
