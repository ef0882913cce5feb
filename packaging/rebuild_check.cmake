# Builds TARGET again from a copy of SOURCE_DIR at another path, in a build
# folder of another name, and compares the bytes with EXPECTED.
#
# What this covers: the source and build paths, the time of the build, and a
# fresh configure (file order, generated sources). It uses the same compiler
# and model data as the build it checks.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/configure_and_build.cmake)
set(copy ${WORK_DIR}/elsewhere/line-array-source)
set(build ${WORK_DIR}/elsewhere/another-build-folder)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${copy})
file(COPY ${SOURCE_DIR}/ DESTINATION ${copy}
     PATTERN .git EXCLUDE
     PATTERN build EXCLUDE)  # the build trees; no source folder has this name

# Model data inside the source tree is taken from the copy; data elsewhere
# (a maker's imported balloons) from where it is.
string(FIND "${MODEL_DATA_DIR}/" "${SOURCE_DIR}/" inside)
if(inside EQUAL 0)
    string(REPLACE "${SOURCE_DIR}" "${copy}" data_dir "${MODEL_DATA_DIR}")
else()
    set(data_dir "${MODEL_DATA_DIR}")
endif()
string(REPLACE "${SOURCE_DIR}" "${copy}" toolchain "${TOOLCHAIN}")

configure_and_build(${copy} ${build} ${toolchain} ${BUILD_TYPE} ${data_dir} ${TARGET})

get_filename_component(name ${EXPECTED} NAME)
set(rebuilt ${build}/bin/${name})
file(SHA256 ${EXPECTED} expected_hash)
file(SHA256 ${rebuilt} rebuilt_hash)
if(NOT expected_hash STREQUAL rebuilt_hash)
    file(SIZE ${EXPECTED} expected_size)
    file(SIZE ${rebuilt} rebuilt_size)
    message(FATAL_ERROR "${name} differs when rebuilt elsewhere:\n"
            "  ${EXPECTED}: ${expected_size} bytes, sha256 ${expected_hash}\n"
            "  ${rebuilt}: ${rebuilt_size} bytes, sha256 ${rebuilt_hash}")
endif()
message(STATUS "${name} rebuilt at another path: identical, sha256 ${rebuilt_hash}")
file(REMOVE_RECURSE ${WORK_DIR}/elsewhere)
