# Bad input stops arrayhost with a non-zero exit and a message naming the
# file, the line and the key.
function(expect_refusal expected_exit pattern)
    execute_process(COMMAND ${EMULATOR} ${PROGRAM} --quiet --no-images --out ${OUT_DIR} ${ARGN}
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL expected_exit)
        message(FATAL_ERROR "arrayhost ${ARGN}: exit ${result}, expected ${expected_exit}\n${out}\n${err}")
    endif()
    if(NOT err MATCHES "${pattern}")
        message(FATAL_ERROR "arrayhost ${ARGN}: stderr `${err}` does not match `${pattern}`")
    endif()
    message("arrayhost ${ARGN}: exit ${result}: ${err}")
endfunction()

expect_refusal(1 "bad-splays.txt:8: splays: expected 12 values \\(one per cell\\), found 11"
               ${SCENARIO_DIR}/bad-splays.txt)
expect_refusal(1 "bad-number.txt:5: humidity: `5O` is not a number" ${SCENARIO_DIR}/bad-number.txt)
expect_refusal(1 "missing.txt: cannot be opened" ${SCENARIO_DIR}/missing.txt)
# Found only once the plug-in is loaded: its cells carry no kind.
expect_refusal(1 "qspan.txt:[0-9]+: kinds: the cells of this plug-in carry no cabinet kind"
               --plugin ktr4 ${EXAMPLES_DIR}/qspan.txt)
expect_refusal(2 "no-such-plugin" --plugin no-such-plugin.dll)
expect_refusal(1 "unknown option --colour" --colour)
expect_refusal(1 "bad-audience-line.txt:7: audience_line: point 2 lies 3 m off the array's vertical plane"
               ${SCENARIO_DIR}/bad-audience-line.txt)
expect_refusal(1 "qspan.txt: audience_line: missing: --design needs an audience line"
               --design ${EXAMPLES_DIR}/qspan.txt)
expect_refusal(1 "--tilt takes two angles in degrees, MIN <= MAX" --design --tilt 5 -5)
expect_refusal(1 "--bands takes two band centres in Hz, low then high" --design --bands 1000 300)
expect_refusal(1 "bad-lock.txt:8: lock: cell 2 cannot be set to 2.5 degrees in the setup dialog; the nearest it reaches is 3.3"
               --design ${SCENARIO_DIR}/bad-lock.txt)
expect_refusal(1 "shrinking-locks.txt:8: lock: cell 3 is locked at 1.7 degrees, below cell 2's 5.0, and splays may not shrink down the array"
               --design ${SCENARIO_DIR}/shrinking-locks.txt)
