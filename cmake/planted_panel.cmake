# planted_panel(NAME FILE file ANCHOR text (LINES text | LINES_FILE path) [TRACE_COMPARES])
#
# PELDAN with a fault planted, for validate to find: the real panel code, but
# for a copy of one of its files made here with a few lines put in before an
# anchor line, so that only the library's own code leads there. NAME.dll in
# the win32 preset, NAME.so natively (with the panel's layout beside it, as
# the panel shows it). TRACE_COMPARES builds the native library's panel code
# with compare tracing, for faults behind a compare in the panel's own code.
# Configuring fails if the anchor is gone from the panel.
function(planted_panel name)
  cmake_parse_arguments(PARSE_ARGV 1 PLANTED "TRACE_COMPARES" "FILE;ANCHOR;LINES;LINES_FILE" "")
  set(panel_folder ${PROJECT_SOURCE_DIR}/panels/Studio_A/PELDAN)
  set(panel_sources PELDAN.cpp export.cpp labels.cpp parameters.cpp selection.cpp signature.cpp)
  if(PLANTED_LINES_FILE)
    file(READ ${PLANTED_LINES_FILE} PLANTED_LINES)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PLANTED_LINES_FILE})
  endif()
  file(READ ${panel_folder}/${PLANTED_FILE} text)
  string(FIND "${text}" "${PLANTED_ANCHOR}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PLANTED_FILE} no longer has the line where ${name}'s fault is planted")
  endif()
  string(REPLACE "${PLANTED_ANCHOR}" "${PLANTED_LINES}${PLANTED_ANCHOR}" text "${text}")
  file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${name}/${PLANTED_FILE} CONTENT "${text}")
  set(sources)
  foreach(source ${panel_sources})
    if(source STREQUAL PLANTED_FILE)
      list(APPEND sources ${CMAKE_CURRENT_BINARY_DIR}/${name}/${PLANTED_FILE})
    else()
      list(APPEND sources ${panel_folder}/${source})
    endif()
  endforeach()
  add_library(${name} SHARED ${sources} $<TARGET_OBJECTS:script_helper>)
  target_include_directories(${name} PRIVATE ${panel_folder})
  target_link_libraries(${name} PRIVATE script_helper vesk_string dll_code_flags)
  set_target_properties(${name} PROPERTIES PREFIX "")
  if(WIN32)
    target_link_libraries(${name} PRIVATE win32_runtime)
    target_link_options(${name} PRIVATE /entry:_DllMainCRTStartup)
    add_dependencies(${name} PELDAN_layout)
  else()
    if(PLANTED_TRACE_COMPARES)
      # GCC traces compares alone; clang only beside a kind of coverage, so
      # there with guards, whose callbacks panel-host exports too.
      if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        target_compile_options(${name} PRIVATE -fsanitize-coverage=trace-pc-guard,trace-cmp)
      else()
        target_compile_options(${name} PRIVATE -fsanitize-coverage=trace-cmp)
      endif()
    endif()
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy ${panel_folder}/PELDAN.vesk_ui
              $<TARGET_FILE_DIR:${name}>/PELDAN.vesk_ui)
  endif()
endfunction()

# The faults behind a value the panel compares its input with, one library
# each: a text compared for equality, a prefix test, a number compared by the
# string library, a number read from a text and compared in the panel's own
# code, and a text compared only after two earlier steps. The words are kept
# masked in the binary (unmasked as the panel runs), so neither the library's
# strings nor their neighbours can give them away.
function(planted_comparison_panels suffix)
  set(planted ${PROJECT_SOURCE_DIR}/tests/fixtures/planted)
  planted_panel(planted_page_word${suffix} FILE selection.cpp
                ANCHOR "    textPut(\"page\", page, panelText(), \"SourceSel\");\n"
                LINES_FILE ${planted}/page_word.inc)
  planted_panel(planted_label_prefix${suffix} FILE labels.cpp
                ANCHOR "    textPut(\"text\", revertive.text()" LINES_FILE ${planted}/label_prefix.inc)
  planted_panel(planted_source_number${suffix} FILE selection.cpp
                ANCHOR "    int source = value;\n" LINES_FILE ${planted}/source_number.inc)
  planted_panel(planted_param_number${suffix} FILE parameters.cpp
                ANCHOR "        myParam = value;\n" LINES_FILE ${planted}/param_number.inc
                TRACE_COMPARES)
  planted_panel(planted_instance_word${suffix} FILE parameters.cpp
                ANCHOR "        if (value != instanceName)\n" LINES_FILE ${planted}/instance_word.inc)
endfunction()
