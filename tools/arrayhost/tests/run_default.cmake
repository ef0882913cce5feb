# Runs the default scenario into a fresh OUT_DIR and requires a clean exit, a
# report on stdout and nothing but the sweep's progress on stderr.
file(REMOVE_RECURSE ${OUT_DIR})
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --quiet --out ${OUT_DIR}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "arrayhost exited with ${result}: ${err}")
endif()
if(NOT err STREQUAL "")
    message(FATAL_ERROR "arrayhost wrote to stderr: ${err}")
endif()
foreach(section "Plug-in " "Array: 12 cells" "Levels at the seat" "Sweep: " "Written:")
    string(FIND "${out}" "${section}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the report lacks `${section}`")
    endif()
endforeach()
