# The key-format tools of the add-in's tests: the batch expression evaluator and its cross-check
# against the reference model (one Wine start for all cases).
if(TARGET parvel_addin)
    add_executable(keyexpr_eval ${CMAKE_CURRENT_SOURCE_DIR}/tools/keyexpr_eval.cpp
                   ${CMAKE_CURRENT_SOURCE_DIR}/tools/keyexpr_eval.rc)
    target_link_libraries(keyexpr_eval PRIVATE parvel_addin)
    parvel_resource_script(${CMAKE_CURRENT_SOURCE_DIR}/tools/keyexpr_eval.rc ${PARVEL_ADDIN_RC_INCLUDES})
    add_dependencies(keyexpr_eval parvel_messages)
    add_test(NAME keyexpr_oracle
             COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/oracle/cross_check.py ${PARVEL_WINE_RUN}
                     $<TARGET_FILE:keyexpr_eval>)
    set_tests_properties(keyexpr_oracle PROPERTIES FIXTURES_REQUIRED wineserver TIMEOUT 600)
endif()
