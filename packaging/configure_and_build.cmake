# Configures SOURCE in BUILD for the Windows toolchain, without tests and with
# the model data in DATA_DIR, and builds TARGET there with every processor.
# Stops the calling script on either failure.
include(ProcessorCount)

function(configure_and_build source build toolchain build_type data_dir target)
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${source} -B ${build}
                            -D CMAKE_TOOLCHAIN_FILE=${toolchain} -D CMAKE_BUILD_TYPE=${build_type}
                            -D BUILD_TESTING=OFF -D MODEL_DATA_DIR=${data_dir}
                    RESULT_VARIABLE result OUTPUT_QUIET)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "configuring ${source} in ${build} with the model data ${data_dir} failed")
    endif()
    ProcessorCount(jobs)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} --target ${target} -j ${jobs}
                    RESULT_VARIABLE result OUTPUT_QUIET)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "building ${target} in ${build} with the model data ${data_dir} failed")
    endif()
endfunction()
