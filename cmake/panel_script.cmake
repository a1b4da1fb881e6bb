# add_panel_script(NAME SOURCES file... LAYOUT file [RESOURCE file] [EXAMPLES folder])
#
# A panel script built on the script base: the object library NAME_code (the
# panel's own code, for unit tests), the library NAME.so natively or NAME.dll
# in the win32 preset (Microsoft's C++ binary interface, the version resource
# and the DLL entry point), the layout copied beside it (the host reads it
# from the script's folder), the install rules, and its checks in ctest (see
# register_panel_script_tests, called once panel-host exists).
function(add_panel_script name)
  cmake_parse_arguments(PANEL "" "LAYOUT;RESOURCE;EXAMPLES" "SOURCES" ${ARGN})
  if(NOT PANEL_SOURCES OR NOT PANEL_LAYOUT)
    message(FATAL_ERROR "add_panel_script(${name}): SOURCES and LAYOUT are required")
  endif()
  get_filename_component(layout ${PANEL_LAYOUT} ABSOLUTE)
  get_filename_component(layout_name ${layout} NAME)
  if(NOT PANEL_EXAMPLES)
    set(PANEL_EXAMPLES ${CMAKE_CURRENT_SOURCE_DIR}/examples)
  endif()

  # The panel's code: C runtime only, like the base it derives from.
  add_library(${name}_code OBJECT ${PANEL_SOURCES})
  target_include_directories(${name}_code PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name}_code PUBLIC script_helper PRIVATE dll_code_flags)
  set_target_properties(${name}_code PROPERTIES POSITION_INDEPENDENT_CODE ON)

  # Hosts load a script by its file name: NAME.so natively, NAME.dll on Windows.
  add_library(${name} SHARED $<TARGET_OBJECTS:${name}_code> $<TARGET_OBJECTS:script_helper>)
  target_link_libraries(${name} PRIVATE vesk_string)
  set_target_properties(${name} PROPERTIES PREFIX "")
  if(WIN32)
    if(PANEL_RESOURCE)
      target_sources(${name} PRIVATE ${PANEL_RESOURCE})
    endif()
    target_link_libraries(${name} PRIVATE win32_runtime)
    target_link_options(${name} PRIVATE /entry:_DllMainCRTStartup)
  endif()

  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${name}_layout.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E copy ${layout} $<TARGET_FILE_DIR:${name}>/${layout_name}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${layout} ${name})
  add_custom_target(${name}_layout ALL DEPENDS ${stamp})

  # Native installs carry the library and its layout in the script folder,
  # beside the string library it links to.
  if(NOT WIN32)
    set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${name} LIBRARY DESTINATION ${PANEL_HOST_SCRIPT_DIR})
    install(FILES ${layout} DESTINATION ${PANEL_HOST_SCRIPT_DIR})
  endif()

  set_property(GLOBAL APPEND PROPERTY PANEL_SCRIPTS ${name})
  set_property(GLOBAL PROPERTY PANEL_SCRIPT_${name}_EXAMPLES ${PANEL_EXAMPLES})
endfunction()

# The checks every panel script gets, once panel-host and testing exist: each
# example in its folder played natively (NAME.example.X) and compared with the
# DLL on the emulated route (NAME.emulated.X), validate at level 3 on the .so
# (NAME.validate_level_3), and validate --compare of the .so with the .dll
# (NAME.validate_compare). The DLL checks carry the label "dll" and need the
# win32 preset's DLLs in PELDAN_DLL_FOLDER.
function(register_panel_script_tests)
  get_property(panels GLOBAL PROPERTY PANEL_SCRIPTS)
  foreach(name ${panels})
    get_property(examples_folder GLOBAL PROPERTY PANEL_SCRIPT_${name}_EXAMPLES)
    file(GLOB examples ${examples_folder}/*.scenario)
    set(dll ${PELDAN_DLL_FOLDER}/${name}.dll)
    foreach(example ${examples})
      get_filename_component(example_name ${example} NAME_WE)
      add_test(NAME ${name}.example.${example_name}
               COMMAND panel-host run $<TARGET_FILE:${name}> ${example})
      set(out ${CMAKE_BINARY_DIR}/panel-checks/${name}/${example_name})
      file(MAKE_DIRECTORY ${out})
      add_test(NAME ${name}.emulated.${example_name}
               COMMAND ${CMAKE_COMMAND} -DHOST=$<TARGET_FILE:panel-host>
                       -DNATIVE_LIBRARY=$<TARGET_FILE:${name}> -DDLL=${dll}
                       -DSCENARIO=${example} -DOUT_DIR=${out}
                       -P ${PROJECT_SOURCE_DIR}/tests/route/compare_routes.cmake)
      set_tests_properties(${name}.emulated.${example_name} PROPERTIES LABELS dll)
    endforeach()
    set(found ${CMAKE_BINARY_DIR}/panel-checks/${name}/validate-failures)
    add_test(NAME ${name}.validate_level_3
             COMMAND panel-host validate $<TARGET_FILE:${name}> --level 3 --sessions 1000
                     --out ${found})
    add_test(NAME ${name}.validate_compare
             COMMAND panel-host validate $<TARGET_FILE:${name}> --compare ${dll} --sessions 60
                     --out ${found})
    set_tests_properties(${name}.validate_compare PROPERTIES LABELS dll)
  endforeach()
endfunction()
