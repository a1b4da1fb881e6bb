# validate's default run on LIBRARY must fail with a fault shrunk to at most
# MOST steps, and `panel-host run` of the saved scenario must fail with
# REPLAY_STATUS (4: a native script crashed; 1: a breach, as an emulated
# script's fault is), saying REPLAY_SAYS; on REAL, the library without the
# fault, when given, it must pass. With PLACE (a regular expression), the
# saved scenario's account of the failure, and the replay's, must name the
# fault's place so.
#   cmake -DPANEL_HOST=... -DLIBRARY=... -DOUT=... -DMOST=20 -DREPLAY_STATUS=1
#         -DREPLAY_SAYS="script fault" -P finds_and_replays.cmake
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${PANEL_HOST} validate ${LIBRARY} --out ${OUT}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
message("${output}")
if(NOT status EQUAL 1)
  message(FATAL_ERROR "validate exited ${status}, not 1 (a fault found):\n${errors}")
endif()
string(REGEX MATCH "shrunk from [0-9]+ to ([0-9]+) steps in [0-9]+ tries: ([^\n]+)" found "${output}")
if(NOT found)
  message(FATAL_ERROR "validate shrank no failure")
endif()
set(steps ${CMAKE_MATCH_1})
set(scenario ${CMAKE_MATCH_2})
if(steps GREATER MOST)
  message(FATAL_ERROR "the failure shrank to ${steps} steps, more than ${MOST}")
endif()
execute_process(COMMAND ${PANEL_HOST} run ${LIBRARY} ${scenario}
                RESULT_VARIABLE replay OUTPUT_VARIABLE replayed ERROR_VARIABLE replayed)
if(NOT replay EQUAL REPLAY_STATUS)
  message(FATAL_ERROR "panel-host run of ${scenario} exited ${replay}, not ${REPLAY_STATUS}:\n${replayed}")
endif()
string(FIND "${replayed}" "${REPLAY_SAYS}" says)
if(says EQUAL -1)
  message(FATAL_ERROR "panel-host run of ${scenario} does not say '${REPLAY_SAYS}':\n${replayed}")
endif()
if(PLACE)
  file(READ ${scenario} story LIMIT 200000)
  if(NOT story MATCHES "${PLACE}" OR NOT replayed MATCHES "${PLACE}")
    message(FATAL_ERROR "the saved scenario or its replay does not name the place '${PLACE}':\n${story}\n${replayed}")
  endif()
endif()
if(REAL)
  execute_process(COMMAND ${PANEL_HOST} run ${REAL} ${scenario}
                  RESULT_VARIABLE real OUTPUT_VARIABLE realOutput ERROR_VARIABLE realOutput)
  if(NOT real EQUAL 0)
    message(FATAL_ERROR "${scenario} fails on ${REAL} too (${real}):\n${realOutput}")
  endif()
endif()
message("found, shrunk to ${steps} steps, and replayed: ${scenario}")
