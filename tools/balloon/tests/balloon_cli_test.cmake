# The balloon tool from the command line: regenerating writes the four
# balloons, text out and back in gives the same bytes, damaged text is refused
# with its file and line, and a plot is written. The regenerated values go
# through the maths library, so they are compared with the committed files
# within a tolerance, by the Generator tests, not here byte for byte.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/generated ${WORK_DIR}/imported)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${ARGN} failed (${status}): ${out}${err}")
    endif()
endfunction()

function(same a b)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${a} ${b} RESULT_VARIABLE differ)
    if(differ)
        message(FATAL_ERROR "${a} and ${b} differ")
    endif()
endfunction()

execute_process(COMMAND ${BALLOON} generate ${WORK_DIR}/generated
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "balloon generate failed (${status}): ${out}${err}")
endif()
foreach(kind KTR QSA QSB QSC)
    string(TOLOWER ${kind} file)
    file(SIZE ${WORK_DIR}/generated/${file}.f32 bytes)
    file(SIZE ${DATA_DIR}/${file}.f32 committed)
    if(NOT bytes EQUAL committed)
        message(FATAL_ERROR "generated ${file}.f32 holds ${bytes} bytes, the committed one ${committed}")
    endif()
    if(NOT out MATCHES "${kind}: min [^\n]*\n(  [^\n]*\n)*  worst Q ratio ")
        message(FATAL_ERROR "no report for ${kind}: ${out}")
    endif()
endforeach()

run(${BALLOON} export ${DATA_DIR}/qsc.f32 QSC ${WORK_DIR}/qsc.txt)
run(${BALLOON} import ${WORK_DIR}/qsc.txt ${WORK_DIR}/imported)
same(${WORK_DIR}/imported/qsc.f32 ${DATA_DIR}/qsc.f32)

file(STRINGS ${WORK_DIR}/qsc.txt lines)
list(GET lines 5 fifth)
file(APPEND ${WORK_DIR}/qsc.txt "${fifth}\n")
list(LENGTH lines count)
math(EXPR last "${count} + 1")
execute_process(COMMAND ${BALLOON} import ${WORK_DIR}/qsc.txt ${WORK_DIR}/imported
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(status EQUAL 0 OR NOT err MATCHES "qsc.txt:${last}: node QSC 100 Hz, meridian 0, polar 15 already given on line 6")
    message(FATAL_ERROR "duplicate node not refused as expected: ${status} ${err}")
endif()

run(${BALLOON} plot ${DATA_DIR}/ktr.f32 8000 ${WORK_DIR}/ktr.svg KTR)
file(READ ${WORK_DIR}/ktr.svg document)
if(NOT document MATCHES "^<svg" OR NOT document MATCHES "class=\"pattern\"")
    message(FATAL_ERROR "plot is not an SVG document")
endif()
