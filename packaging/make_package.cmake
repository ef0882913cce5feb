# Stages FILES into STAGE_DIR, adds SHA256SUMS over them, and packs the folder
# into ARCHIVE (zip). File times in the archive are those of the last commit
# (or SOURCE_DATE_EPOCH), so the same source gives the same archive.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${STAGE_DIR})
file(MAKE_DIRECTORY ${STAGE_DIR})
set(sums "")
foreach(path IN LISTS FILES)
    get_filename_component(name ${path} NAME)
    file(COPY_FILE ${path} ${STAGE_DIR}/${name})
    file(SHA256 ${STAGE_DIR}/${name} hash)
    list(APPEND names ${name})
    set(line_${name} "${hash}  ${name}\n")
endforeach()
list(SORT names)
foreach(name IN LISTS names)
    string(APPEND sums "${line_${name}}")
endforeach()
file(WRITE ${STAGE_DIR}/SHA256SUMS "${sums}")

if(DEFINED ENV{SOURCE_DATE_EPOCH})
    string(TIMESTAMP mtime "%Y-%m-%d %H:%M:%S" UTC)  # reads SOURCE_DATE_EPOCH
else()
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC
                            git -C ${SOURCE_DIR} log -1 "--date=format-local:%Y-%m-%d %H:%M:%S" --format=%cd
                    OUTPUT_VARIABLE mtime OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE git_result ERROR_QUIET)
    if(NOT git_result EQUAL 0 OR mtime STREQUAL "")
        set(mtime "1980-01-01 00:00:00")
    endif()
endif()
string(APPEND mtime " UTC")

get_filename_component(stage_parent ${STAGE_DIR} DIRECTORY)
get_filename_component(top ${STAGE_DIR} NAME)
file(REMOVE ${ARCHIVE})
file(GLOB_RECURSE members RELATIVE ${stage_parent} ${STAGE_DIR}/*)
list(SORT members)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ARCHIVE} --format=zip --mtime=${mtime} ${members}
                WORKING_DIRECTORY ${stage_parent} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "could not write ${ARCHIVE}")
endif()
message(STATUS "Wrote ${ARCHIVE}")
