# A release made from a maker's data folder, checked as the placeholder
# release is: a folder holding only the ktr cabinet's balloon and the
# import's record of its source (as an import wrote it before it said who
# gave the licence) is configured in a build of its own, the
# archive made, and release.check run on it. The archive must bear a data
# tag in its name and credit the source and licence, with QSA, QSB and QSC
# on their placeholders.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/configure_and_build.cmake)
set(data ${WORK_DIR}/data)
set(build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${data})
file(COPY_FILE ${SOURCE_DIR}/models/data/ktr.f32 ${data}/ktr.f32)
file(WRITE ${data}/ktr.source.txt
     "# ktr.f32: imported by balloon import-sofa\n"
     "Title: Measured test cabinet\nOrganization: Test Lab\nAuthorContact: lab@example.org\n"
     "License: CC-BY-SA 4.0\nDatabaseName: tests\nDateCreated: 2026-12-08\nComment: \n"
     "File: cabinet.sofa\nSHA-256: 0\nCombination: measurement 1 of 1\nCommand: balloon import-sofa\n")

configure_and_build(${SOURCE_DIR} ${build} ${TOOLCHAIN} ${BUILD_TYPE} ${data} release_package)

file(GLOB archives ${build}/line-array-plugins-*.zip)
list(LENGTH archives count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one archive, found: ${archives}")
endif()
get_filename_component(release_name ${archives} NAME_WLE)
if(NOT release_name MATCHES "^line-array-plugins-${VERSION}(-measured-[0-9a-f]+)-win32$")
    message(FATAL_ERROR "a release of measured data is named ${release_name}.zip, without a data tag")
endif()
set(tag ${CMAKE_MATCH_1})
execute_process(COMMAND ${CMAKE_COMMAND} -D ARCHIVE=${archives} -D RELEASE_NAME=${release_name} -D VERSION=${VERSION}
                        -D WORK_DIR=${WORK_DIR}/check -D EXPORT_LIST=${SOURCE_DIR}/plugin/exports.inc
                        -D DATA_ORIGINS_FILE=${build}/packaging/data-origins.txt -D DATA_TAG=${tag}
                        "-D EMULATOR=${EMULATOR}" -P ${SOURCE_DIR}/packaging/check_package.cmake
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "release.check refuses the measured release:\n${out}${err}")
endif()
file(READ ${WORK_DIR}/check/${release_name}/README.txt readme)
foreach(line IN ITEMS "KTR (ktr2, ktr4): measured: Measured test cabinet, Test Lab, licence CC-BY-SA 4.0"
                      "QSA (qspan): placeholder")
    string(FIND "${readme}" "${line}" at)
    if(at LESS 0)
        message(FATAL_ERROR "README.txt of the measured release does not say '${line}'")
    endif()
endforeach()
message(STATUS "${release_name}.zip: the measured release passes release.check and credits its source")
file(REMOVE_RECURSE ${build})
