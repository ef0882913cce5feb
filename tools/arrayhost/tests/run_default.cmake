# Runs the default scenario into a fresh OUT_DIR and requires a clean exit, a
# report on stdout and no complaint on stderr (where a fresh Wine prefix may
# say that it was made).
file(REMOVE_RECURSE ${OUT_DIR})
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --quiet --out ${OUT_DIR}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "arrayhost exited with ${result}: ${err}")
endif()
if(err MATCHES "arrayhost:")
    message(FATAL_ERROR "arrayhost complained: ${err}")
endif()
foreach(section "Plug-in " "Array: 12 cells" "Levels at the seat" "Sweep: " "Written:")
    string(FIND "${out}" "${section}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the report lacks `${section}`")
    endif()
endforeach()
