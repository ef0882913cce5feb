# release.check must fail on an archive that misstates its data: this takes
# the built archive apart, spoils it one way at a time (a kind's origin
# dropped from README.txt, DATA-NOTICES.txt left out), packs it again and
# runs the check on it, which must fail naming what is wrong.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/clean)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ARCHIVE} WORKING_DIRECTORY ${WORK_DIR}/clean RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot unpack ${ARCHIVE}")
endif()
file(STRINGS ${DATA_ORIGINS_FILE} first_kind REGEX "^kind: [A-Z]+$" LIMIT_COUNT 1)  # the build's own key and value
string(REGEX REPLACE "^kind: " "" kind "${first_kind}")

set(failures "")
foreach(spoil IN ITEMS readme notices)
    set(dir ${WORK_DIR}/${spoil})
    file(COPY ${WORK_DIR}/clean/${RELEASE_NAME} DESTINATION ${dir})
    if(spoil STREQUAL "readme")
        file(READ ${dir}/${RELEASE_NAME}/README.txt text)
        string(REGEX REPLACE "\n  ${kind} \\([^)]*\\): [^\n]*" "" text "${text}")
        file(WRITE ${dir}/${RELEASE_NAME}/README.txt "${text}")
        set(expected "README.txt does not say '${kind} (")
    else()
        file(REMOVE ${dir}/${RELEASE_NAME}/DATA-NOTICES.txt)
        set(expected "files: ")
    endif()
    file(GLOB_RECURSE members RELATIVE ${dir} ${dir}/*)
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${dir}.zip --format=zip ${members} WORKING_DIRECTORY ${dir})
    execute_process(COMMAND ${CMAKE_COMMAND} -D ARCHIVE=${dir}.zip -D RELEASE_NAME=${RELEASE_NAME} -D VERSION=${VERSION}
                            -D WORK_DIR=${dir}-check -D EXPORT_LIST=${EXPORT_LIST} -D DATA_ORIGINS_FILE=${DATA_ORIGINS_FILE}
                            "-D DATA_TAG=${DATA_TAG}" "-D EMULATOR=${EMULATOR}" -P ${CHECK_SCRIPT}
                    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE result)
    string(FIND "${out}${err}" "${expected}" at)
    if(result EQUAL 0 OR at LESS 0)
        string(APPEND failures "  ${spoil}: the check exited ${result} without '${expected}':\n${out}${err}\n")
    endif()
endforeach()
if(failures)
    message(FATAL_ERROR "release.check lets a spoiled archive pass:\n${failures}")
endif()
message(STATUS "release.check refuses an archive without ${kind}'s origin in README.txt, and one without DATA-NOTICES.txt")
