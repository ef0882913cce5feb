# arrayhost --design on an example venue writes the chosen array as a
# scenario, its setup blob (the same bytes as the scenario's comment), the
# report and the plot; and the written scenario runs as it stands.
# With PLUGIN, the plug-in is given by its file, as --plugin <path>: the
# design tells the product by the plug-in's own name.
set(plugin_option "")
if(PLUGIN)
    set(plugin_option --plugin ${PLUGIN})
endif()
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --design --quiet --out ${OUT_DIR} ${SCENARIO} ${plugin_option}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "arrayhost --design ${SCENARIO}: exit ${result}\n${out}\n${err}")
endif()
message("${out}")
foreach(name arrayhost-design.txt arrayhost-design-blob.bin arrayhost-design-report.txt arrayhost-design-profile.png)
    if(NOT EXISTS ${OUT_DIR}/${name})
        message(FATAL_ERROR "arrayhost --design did not write ${name}")
    endif()
endforeach()

file(READ ${OUT_DIR}/arrayhost-design-blob.bin blob HEX)
file(STRINGS ${OUT_DIR}/arrayhost-design.txt lines)
set(commented "")
set(inBlob FALSE)
foreach(line IN LISTS lines)
    if(line MATCHES "^# The setup blob")
        set(inBlob TRUE)
    elseif(inBlob AND line MATCHES "^#(( [0-9a-f][0-9a-f])+)$")
        string(REPLACE " " "" bytes "${CMAKE_MATCH_1}")
        string(APPEND commented "${bytes}")
    endif()
endforeach()
if(NOT blob STREQUAL commented OR blob STREQUAL "")
    message(FATAL_ERROR "the blob file (${blob}) differs from the scenario's comment (${commented})")
endif()

execute_process(COMMAND ${EMULATOR} ${PROGRAM} --quiet --no-images --out ${OUT_DIR}/rerun ${OUT_DIR}/arrayhost-design.txt
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the designed scenario does not run: exit ${result}\n${out}\n${err}")
endif()
