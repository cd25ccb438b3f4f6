# Helpers for Windows resources: message tables compiled from UTF-8 .mc files with windmc.

# parvel_message_table(<target-name> <mc-file>)
# Runs windmc on a UTF-8 .mc file and produces <binary-dir>/<name>.rc, <name>.h and the .bin tables.
# The .rc is meant to be #included by a deliverable's main .rc so that all resources of one
# module are compiled together; the generated folder is added to the target's include path.
function(parvel_message_table target mc)
    get_filename_component(name ${mc} NAME_WE)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/mc)
    add_custom_command(
        OUTPUT ${out}/${name}.rc ${out}/${name}.h
        COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
        COMMAND ${CMAKE_MC_COMPILER} -U -C 65001 -h ${out} -r ${out} ${mc}
        DEPENDS ${mc}
        COMMENT "Compiling message table ${name}.mc"
        VERBATIM)
    add_custom_target(${target} DEPENDS ${out}/${name}.rc ${out}/${name}.h)
    set(${target}_DIR ${out} PARENT_SCOPE)
endfunction()

# parvel_resource_script(<rc-source> <include-folder>...)
# Gives a module's main resource script its include folders and makes it depend on every resource
# script, header and manifest in them: windres records no included files of its own, so without this a
# changed string table would not rebuild the modules that carry it.
function(parvel_resource_script source)
    set(deps ${PARVEL_MESSAGES_DIR}/Messages.rc)
    foreach(dir ${ARGN})
        file(GLOB found CONFIGURE_DEPENDS ${dir}/*.rc ${dir}/*.h ${dir}/*.manifest)
        list(APPEND deps ${found})
    endforeach()
    set_property(SOURCE ${source} APPEND PROPERTY INCLUDE_DIRECTORIES ${ARGN})
    set_property(SOURCE ${source} APPEND PROPERTY OBJECT_DEPENDS ${deps})
endfunction()
