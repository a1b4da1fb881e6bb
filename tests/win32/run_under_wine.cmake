# Runs one Windows check program under Wine; fails on a non-zero exit and,
# when STDERR_MATCH is given, unless standard error matches it.
execute_process(COMMAND ${WINE} ${PROGRAM} WORKING_DIRECTORY ${WORKDIR}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
message("${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with ${rc}\n${err}")
endif()
if(DEFINED STDERR_MATCH AND NOT err MATCHES "${STDERR_MATCH}")
  message(FATAL_ERROR "standard error does not show [${STDERR_MATCH}]:\n${err}")
endif()
