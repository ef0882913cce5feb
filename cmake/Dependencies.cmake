# Optional dependencies of the tools and tests. None of them is needed to
# configure and build the DLLs; where one is missing the parts that need it
# are left out, and the test command gets a test in their place that fails
# and names what to install, so nothing vanishes from the tests silently.

# missing_dependency_test(<test name> <what is missing and how to get it>)
function(missing_dependency_test name reason)
    message(WARNING "${reason}")
    if(BUILD_TESTING)
        set(script ${CMAKE_BINARY_DIR}/missing-dependencies/${name}.cmake)
        file(WRITE ${script} "message(FATAL_ERROR [[not built: ${reason}]])\n")
        add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -P ${script})
    endif()
endfunction()

# GoogleTest: natively the installed package. The cross build needs it
# compiled for Windows, from the sources that Debian's googletest package
# installs (GOOGLETEST_SOURCE_DIR names another copy).
if(NOT CMAKE_CROSSCOMPILING)
    find_package(GTest CONFIG QUIET)
endif()
if(NOT TARGET GTest::gtest)
    find_path(GOOGLETEST_SOURCE_DIR NAMES googletest/CMakeLists.txt
              PATHS /usr/src/googletest NO_CMAKE_FIND_ROOT_PATH
              DOC "GoogleTest sources, for builds that cannot use an installed GoogleTest")
    if(GOOGLETEST_SOURCE_DIR)
        set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
        # GoogleTest's own build names its targets GTest::gtest and GTest::gtest_main.
    endif()
endif()
set(HAVE_GOOGLETEST FALSE)
if(TARGET GTest::gtest)
    set(HAVE_GOOGLETEST TRUE)
endif()
