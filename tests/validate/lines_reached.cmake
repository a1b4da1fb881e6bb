# validate on the real DLL with its PDB writes the panel's source lines it
# reached as an lcov tracefile, names only the panel's own sources there, and
# gives the same count in its summary and its JSON; the same DLL without its
# PDB beside it has no lines to give, and says nothing of them.
#   cmake -DPANEL_HOST=... -DDLL_FOLDER=... -DOUT=... -P lines_reached.cmake
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT}/without-pdb)
execute_process(COMMAND ${PANEL_HOST} validate ${DLL_FOLDER}/PELDAN.dll --sessions 300
                        --out ${OUT}/failures --coverage-out ${OUT}/lines.info --json ${OUT}/report.json
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "validate exited ${status}:\n${output}\n${errors}")
endif()
string(REGEX MATCH "panel source lines reached in PELDAN.dll: ([1-9][0-9]*) of ([1-9][0-9]*) \\("
       said "${output}")
if(NOT said)
  message(FATAL_ERROR "validate gave no panel source lines:\n${output}")
endif()
set(reached ${CMAKE_MATCH_1})
set(lines ${CMAKE_MATCH_2})

file(STRINGS ${OUT}/lines.info sources REGEX "^SF:")
list(LENGTH sources files)
if(files LESS 5)
  message(FATAL_ERROR "the tracefile names ${files} source files:\n${sources}")
endif()
foreach(source ${sources})
  if(NOT source MATCHES "^SF:(panels/Studio_A/PELDAN|script_helper)/[A-Za-z_]+\\.(cpp|h)$")
    message(FATAL_ERROR "the tracefile names a file that is not the panel's own: ${source}")
  endif()
endforeach()
file(STRINGS ${OUT}/lines.info found REGEX "^LF:")
file(STRINGS ${OUT}/lines.info hit REGEX "^LH:")
set(total 0)
foreach(entry ${found})
  string(SUBSTRING ${entry} 3 -1 count)
  math(EXPR total "${total} + ${count}")
endforeach()
set(totalHit 0)
foreach(entry ${hit})
  string(SUBSTRING ${entry} 3 -1 count)
  math(EXPR totalHit "${totalHit} + ${count}")
endforeach()
if(NOT total EQUAL lines OR NOT totalHit EQUAL reached)
  message(FATAL_ERROR "the tracefile has ${totalHit} of ${total} lines; the summary said ${reached} of ${lines}")
endif()
file(READ ${OUT}/report.json report)
string(JSON jsonLines GET "${report}" sourceLines lines)
string(JSON jsonReached GET "${report}" sourceLines reached)
if(NOT jsonLines EQUAL lines OR NOT jsonReached EQUAL reached)
  message(FATAL_ERROR "the JSON says ${jsonReached} of ${jsonLines}; the summary ${reached} of ${lines}")
endif()

# Without the PDB: the same run, and no lines.
file(COPY ${DLL_FOLDER}/PELDAN.dll ${DLL_FOLDER}/vesk_string.dll ${DLL_FOLDER}/PELDAN.vesk_ui
     DESTINATION ${OUT}/without-pdb)
execute_process(COMMAND ${PANEL_HOST} validate ${OUT}/without-pdb/PELDAN.dll --sessions 50
                        --out ${OUT}/failures --coverage-out ${OUT}/without-pdb/lines.info
                        --json ${OUT}/without-pdb/report.json
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR output MATCHES "source lines")
  message(FATAL_ERROR "without its PDB, validate exited ${status} and said:\n${output}\n${errors}")
endif()
file(SIZE ${OUT}/without-pdb/lines.info size)
file(READ ${OUT}/without-pdb/report.json report)
string(JSON kind TYPE "${report}" sourceLines)
if(NOT size EQUAL 0 OR NOT kind STREQUAL "NULL")
  message(FATAL_ERROR "without its PDB: a ${size}-byte tracefile, sourceLines ${kind}")
endif()
message("validate reached ${reached} of the panel's ${lines} source lines in PELDAN.dll, in ${files} files")
