# Acoustic model data of the three products: the balloons in models/data/
# embedded into the libraries, their generator and importer, and the tests.

set(MODEL_DATA_DIR ${PROJECT_SOURCE_DIR}/models/data)
set(MODEL_BALLOON_BYTES 223776)  # 21 x 72 x 37 f32

# add_balloon_library(<target> <kind>...): a static library holding the named
# balloons (models/data/<kind>.f32) as symbols models_balloon_<kind>.
function(add_balloon_library target)
    set(sources)
    foreach(kind IN LISTS ARGN)
        set(BALLOON_FILE ${MODEL_DATA_DIR}/${kind}.f32)
        set(BALLOON_SYMBOL models_balloon_${kind})
        file(SIZE ${BALLOON_FILE} bytes)
        if(NOT bytes EQUAL MODEL_BALLOON_BYTES)
            message(FATAL_ERROR "${BALLOON_FILE} holds ${bytes} bytes, a balloon is ${MODEL_BALLOON_BYTES}")
        endif()
        set(source ${CMAKE_BINARY_DIR}/generated/balloon_${kind}.cpp)
        configure_file(${PROJECT_SOURCE_DIR}/acoustics/balloon_embed.cpp.in ${source} @ONLY)
        # The assembler reads the data file; rebuild when it changes.
        set_source_files_properties(${source} PROPERTIES OBJECT_DEPENDS ${BALLOON_FILE})
        list(APPEND sources ${source})
    endforeach()
    add_library(${target} STATIC ${sources})
endfunction()

# One archive member per balloon: a program or library that links the core
# takes in only the balloons its model records refer to, so each deliverable
# carries its own model's data and no other's.
add_balloon_library(model_data ktr qsa qsb qsc)
target_link_libraries(plugin_core INTERFACE model_data)
# Names for code that wants one product's balloons spelled out.
add_library(model_data_ktr ALIAS model_data)
add_library(model_data_qspan ALIAS model_data)

# Whole-balloon measures, for the tools and the tests.
add_library(balloon_analysis STATIC acoustics/balloon_analysis.cpp)
target_include_directories(balloon_analysis PUBLIC ${PROJECT_SOURCE_DIR})

if(BUILD_TESTING)
    # The embedded tables as the libraries see them, in both builds.
    add_executable(model_data_tests tests/model_data/model_tables_test.cpp tests/model_data/balloon_data_test.cpp
                                    tests/model_data/deliverable_data_test.cpp)
    target_link_libraries(model_data_tests PRIVATE balloon_analysis model_data gtest_main)
    target_compile_definitions(model_data_tests PRIVATE
        MODEL_DATA_DIR="${MODEL_DATA_DIR}"
        KTR2_LIBRARY="$<TARGET_FILE:ktr2>" KTR4_LIBRARY="$<TARGET_FILE:ktr4>"
        QSPAN_LIBRARY="$<TARGET_FILE:qspan>")
    add_dependencies(model_data_tests ktr2 ktr4 qspan)
    add_test(NAME model_data COMMAND model_data_tests)
endif()

# ---- Tools: native only ----
if(NOT CMAKE_CROSSCOMPILING)
    add_library(balloon_tools STATIC
        tools/balloon/balloon_io.cpp
        tools/balloon/balloon_model.cpp
        tools/balloon/balloon_text.cpp
        tools/balloon/polar_plot.cpp)
    target_link_libraries(balloon_tools PUBLIC balloon_analysis)

    add_executable(balloon tools/balloon/main.cpp)
    target_link_libraries(balloon PRIVATE balloon_tools)

    if(BUILD_TESTING)
        add_executable(balloon_tool_tests tests/model_data/generator_test.cpp tests/model_data/balloon_text_test.cpp
                                          tests/model_data/polar_plot_test.cpp)
        target_link_libraries(balloon_tool_tests PRIVATE balloon_tools gtest_main)
        target_compile_definitions(balloon_tool_tests PRIVATE MODEL_DATA_DIR="${MODEL_DATA_DIR}")
        add_test(NAME balloon_tools COMMAND balloon_tool_tests)

        # The command line end to end: regenerate, then text out and back in.
        add_test(NAME balloon_cli COMMAND ${CMAKE_COMMAND}
                 -DBALLOON=$<TARGET_FILE:balloon> -DDATA_DIR=${MODEL_DATA_DIR}
                 -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/balloon_cli
                 -P ${PROJECT_SOURCE_DIR}/tests/model_data/balloon_cli_test.cmake)
    endif()
endif()
