# expect_run(STATUS TEXT ARGS...): runs the tool with ARGS and checks its exit status and that its
# output holds TEXT.
function(expect_run expected_status expected_output)
    execute_process(COMMAND ${PERCHLIGHT} ${ARGN}
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors
                    TIMEOUT 60)
    if(NOT status EQUAL expected_status)
        message(FATAL_ERROR "perchlight ${ARGN}: exit ${status}, expected ${expected_status}\n"
                            "${output}${errors}")
    endif()
    string(FIND "${output}${errors}" "${expected_output}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "perchlight ${ARGN}: output lacks \"${expected_output}\":\n"
                            "${output}${errors}")
    endif()
endfunction()
