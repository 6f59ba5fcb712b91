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

# expect_json(STATUS KEY-PATH VALUE ARGS...): runs the tool with ARGS, checks its exit status and
# that standard output is one JSON document whose member at KEY-PATH (";"-separated) is VALUE.
function(expect_json expected_status key_path expected_value)
    execute_process(COMMAND ${PERCHLIGHT} ${ARGN}
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors
                    TIMEOUT 60)
    if(NOT status EQUAL expected_status)
        message(FATAL_ERROR "perchlight ${ARGN}: exit ${status}, expected ${expected_status}\n"
                            "${output}${errors}")
    endif()
    string(JSON value ERROR_VARIABLE problem GET "${output}" ${key_path})
    if(problem OR NOT value STREQUAL expected_value)
        message(FATAL_ERROR "perchlight ${ARGN}: ${key_path} is \"${value}\" ${problem}, "
                            "expected \"${expected_value}\" in:\n${output}")
    endif()
endfunction()
