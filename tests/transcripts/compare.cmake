# Plays one scenario on the native library and on the DLL under Wine; the two
# transcripts must be identical and both runs must pass.
execute_process(COMMAND ${NATIVE_HOST} run ${NATIVE_LIBRARY} ${SCENARIO}
                OUTPUT_VARIABLE native RESULT_VARIABLE native_rc)
execute_process(COMMAND ${WINE} ${WINDOWS_HOST} run ${WINDOWS_LIBRARY} ${SCENARIO}
                OUTPUT_VARIABLE windows ERROR_VARIABLE windows_err RESULT_VARIABLE windows_rc)
string(REPLACE "\r" "" windows "${windows}")
if(NOT native_rc EQUAL 0)
  message(FATAL_ERROR "native run exited ${native_rc}:\n${native}")
endif()
if(NOT windows_rc EQUAL 0)
  message(FATAL_ERROR "Windows run exited ${windows_rc}:\n${windows}\n${windows_err}")
endif()
if(NOT native STREQUAL windows)
  file(WRITE ${OUT_DIR}/native.txt "${native}")
  file(WRITE ${OUT_DIR}/windows.txt "${windows}")
  message(FATAL_ERROR "transcripts differ; see ${OUT_DIR}/native.txt and windows.txt")
endif()
string(REGEX MATCH "panel-host: [^\n]+" summary "${native}")
message(STATUS "identical transcripts; ${summary}")
