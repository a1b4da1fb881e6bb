# Plays one scenario on PELDAN.so natively and on PELDAN.dll emulated; both
# runs must pass and their transcripts must be identical byte for byte.
execute_process(COMMAND ${HOST} run ${NATIVE_LIBRARY} ${SCENARIO}
                OUTPUT_VARIABLE native RESULT_VARIABLE native_rc)
execute_process(COMMAND ${HOST} run ${DLL} ${SCENARIO}
                OUTPUT_VARIABLE emulated ERROR_VARIABLE emulated_err RESULT_VARIABLE emulated_rc)
if(NOT native_rc EQUAL 0)
  message(FATAL_ERROR "native run exited ${native_rc}:\n${native}")
endif()
if(NOT emulated_rc EQUAL 0)
  message(FATAL_ERROR "emulated run exited ${emulated_rc}:\n${emulated}\n${emulated_err}")
endif()
if(NOT native STREQUAL emulated)
  file(WRITE ${OUT_DIR}/native.txt "${native}")
  file(WRITE ${OUT_DIR}/emulated.txt "${emulated}")
  message(FATAL_ERROR "transcripts differ; see ${OUT_DIR}/native.txt and emulated.txt")
endif()
string(REGEX MATCH "panel-host: [^\n]+" summary "${native}")
message(STATUS "identical transcripts; ${summary}")
