# The vtable slots, compiled for the Microsoft ABI, match the fixed order.
# A class's table is emitted where its constructor is defined, so the panel's
# own source is compiled beside the probe.
set(dump "")
set(INCLUDES -I${SOURCE_ROOT}/include -I${SOURCE_ROOT}/script_helper
             -I${SOURCE_ROOT}/panels/Studio_A/PELDAN)
foreach(source ${PROBE} ${PANEL_SOURCE})
  execute_process(
    COMMAND ${CLANGXX} --target=i686-pc-windows-msvc -fms-extensions -fno-rtti -c -o ${OUT}
            -Xclang -fdump-vtable-layouts ${INCLUDES} ${source}
    OUTPUT_VARIABLE one ERROR_VARIABLE errors RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${source} did not compile for the vtable dump:\n${errors}")
  endif()
  string(APPEND dump "${one}")
endforeach()
file(READ ${EXPECTED} expected)
string(REGEX MATCHALL "VFTable (indices for '[^']+'|for '[^']+' in '[^']+' in 'PELDAN') \\([0-9]+ entries\\)\\.\n( +[0-9]+ \\| [^\n]+\n)+" blocks "${dump}")
list(REMOVE_DUPLICATES blocks)
string(REPLACE ";" "" got "${blocks}")
if(NOT got STREQUAL expected)
  message(FATAL_ERROR "vtable layout differs.\nexpected:\n${expected}\ngot:\n${got}")
endif()
message(STATUS "vtable layouts match")
