# Plays one scenario on the native library, on the DLL under Wine, and on the
# same DLL emulated by the native panel-host; the three transcripts must be
# identical and every run must pass.
execute_process(COMMAND ${NATIVE_HOST} run ${NATIVE_LIBRARY} ${SCENARIO}
                OUTPUT_VARIABLE native RESULT_VARIABLE native_rc)
execute_process(COMMAND ${WINE} ${WINDOWS_HOST} run ${WINDOWS_LIBRARY} ${SCENARIO}
                OUTPUT_VARIABLE windows ERROR_VARIABLE windows_err RESULT_VARIABLE windows_rc)
execute_process(COMMAND ${NATIVE_HOST} run ${WINDOWS_LIBRARY} ${SCENARIO}
                OUTPUT_VARIABLE emulated ERROR_VARIABLE emulated_err RESULT_VARIABLE emulated_rc)
string(REPLACE "\r" "" windows "${windows}")
if(NOT native_rc EQUAL 0)
  message(FATAL_ERROR "native run exited ${native_rc}:\n${native}")
endif()
if(NOT windows_rc EQUAL 0)
  message(FATAL_ERROR "Windows run exited ${windows_rc}:\n${windows}\n${windows_err}")
endif()
if(NOT emulated_rc EQUAL 0)
  message(FATAL_ERROR "emulated run exited ${emulated_rc}:\n${emulated}\n${emulated_err}")
endif()
if(NOT native STREQUAL windows OR NOT windows STREQUAL emulated)
  file(WRITE ${OUT_DIR}/native.txt "${native}")
  file(WRITE ${OUT_DIR}/windows.txt "${windows}")
  file(WRITE ${OUT_DIR}/emulated.txt "${emulated}")
  message(FATAL_ERROR "transcripts differ; see native.txt, windows.txt and emulated.txt in ${OUT_DIR}")
endif()
string(REGEX MATCH "panel-host: [^\n]+" summary "${native}")
message(STATUS "identical transcripts; ${summary}")
