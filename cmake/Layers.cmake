# The product code is built in layers, each a library that links only the
# layers below it:
#
#     models -> geometry -> acoustics -> plugin -> dialog
#
# A layer's code sees its own headers and those of the layers it links, and
# nothing else: each layer publishes its headers through a folder of the build
# tree that holds only a link to the layer's source folder. An include that
# runs upward therefore fails to compile. Tools and tests sit above every
# layer and see the whole source tree.

# The folder that publishes <layer>'s headers as "<layer>/...".
function(layer_include_directory layer out)
    set(dir ${CMAKE_BINARY_DIR}/layers/${layer})
    if(NOT IS_SYMLINK ${dir}/${layer})
        file(MAKE_DIRECTORY ${dir})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${layer} ${dir}/${layer} SYMBOLIC)
    endif()
    set(${out} ${dir} PARENT_SCOPE)
endfunction()

# add_layer_library(<target> LAYER <folder> [SOURCES <file>...] [LINKS <target>...]
#                   [MODEL <KTR2|KTR4|QSPAN> SHARES <0|1>])
# Product code of layer <folder>, seeing only its own and the linked layers'
# headers. Without MODEL: a static library of portable code, which the
# layers above link. With MODEL: the code of one deliverable, compiled for
# the model it is bound to, as objects for that deliverable alone.
# Nothing may throw out of a plug-in, and only the exports leave it
# (everything else may be inlined and bound directly, also in the native
# shared libraries).
function(add_layer_library target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "LAYER;MODEL;SHARES" "SOURCES;LINKS")
    layer_include_directory(${ARG_LAYER} include_dir)
    if(ARG_MODEL)
        add_library(${target} OBJECT ${ARG_SOURCES})
        set(scope PRIVATE)
        target_compile_definitions(${target} PRIVATE PLUGIN_MODEL_${ARG_MODEL} PLUGIN_SHARES_ENTRY_POINTS=${ARG_SHARES})
    else()
        add_library(${target} STATIC ${ARG_SOURCES})
        set(scope PUBLIC)
        # The fuzz targets compile the whole portable core again with coverage.
        list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
        set_property(GLOBAL APPEND PROPERTY PLUGIN_CORE_SOURCES ${ARG_SOURCES})
    endif()
    target_include_directories(${target} ${scope} ${include_dir})
    target_link_libraries(${target} ${scope} ${ARG_LINKS})
    target_compile_options(${target} PRIVATE ${PLUGIN_CODE_OPTIONS})
    set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()
