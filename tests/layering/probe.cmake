# Builds one layering probe and checks that it builds, or that it fails
# because HEADER cannot be found.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD} --target ${TARGET}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(EXPECT STREQUAL "builds")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${TARGET} should build, and did not:\n${out}")
  endif()
  return()
endif()
if(status EQUAL 0)
  message(FATAL_ERROR "${TARGET} built: ${HEADER} is reachable across a forbidden edge")
endif()
string(REGEX MATCH "${HEADER}[:']? *(No such file or directory|file not found)" missing "${out}")
if(NOT missing)
  message(FATAL_ERROR "${TARGET} failed, but not for want of ${HEADER}:\n${out}")
endif()
