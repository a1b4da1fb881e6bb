# What a user takes away: the Windows deliverable of the panel (a ZIP from the
# win32 preset) and the workbench (a Debian package from the release preset).
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)

if(WIN32)
  # The maker's string library is the host's; our stand-in never ships.
  set(panel_folder ${PROJECT_SOURCE_DIR}/panels/Studio_A/PELDAN)
  set(release_files $<TARGET_FILE:PELDAN> ${panel_folder}/PELDAN.vesk_ui)
  set(sums ${CMAKE_BINARY_DIR}/SHA256SUMS)
  add_custom_command(OUTPUT ${sums}
    COMMAND ${CMAKE_COMMAND} "-DFILES=$<JOIN:${release_files},|>" -DOUTPUT=${sums}
            -P ${PROJECT_SOURCE_DIR}/cmake/sha256sums.cmake
    DEPENDS PELDAN ${panel_folder}/PELDAN.vesk_ui ${PROJECT_SOURCE_DIR}/cmake/sha256sums.cmake
    COMMENT "SHA-256 sums of the release files" VERBATIM)
  add_custom_target(release_sums ALL DEPENDS ${sums})
  install(FILES ${release_files} ${panel_folder}/INSTALL.txt ${sums} DESTINATION .)

  # The symbols ship apart from the deliverable: PELDAN.pdb (matched to the
  # DLL by the GUID and age they share) and its sum, in a second ZIP.
  set(symbols_name PELDAN-${PROJECT_VERSION}-win32-symbols)
  set(symbols_folder ${CMAKE_BINARY_DIR}/symbols/${symbols_name})
  set(symbols_zip ${CMAKE_BINARY_DIR}/symbols/${symbols_name}.zip)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/symbols)
  add_custom_command(OUTPUT ${symbols_zip}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${symbols_folder}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${symbols_folder}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_PDB_FILE:PELDAN> ${symbols_folder}
    COMMAND ${CMAKE_COMMAND} -DFILES=$<TARGET_PDB_FILE:PELDAN> -DOUTPUT=${symbols_folder}/SHA256SUMS
            -P ${PROJECT_SOURCE_DIR}/cmake/sha256sums.cmake
    COMMAND ${CMAKE_COMMAND} -E tar cf ${symbols_zip} --format=zip --mtime=1980-01-01
            ${symbols_name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/symbols
    DEPENDS PELDAN ${PROJECT_SOURCE_DIR}/cmake/sha256sums.cmake
    COMMENT "The symbols' ZIP: ${symbols_name}.zip" VERBATIM)
  add_custom_target(symbols_zip ALL DEPENDS ${symbols_zip})
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME PELDAN-${PROJECT_VERSION}-win32)
  include(CPack)
  return()
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION share/panel-host/examples
        FILES_MATCHING PATTERN "*.scenario")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION share/doc/panel-host)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/panel-host)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME panel-host)
set(CPACK_PACKAGE_VENDOR "Studio A engineering")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "emulated panel host for panel scripts, with the PELDAN panel and its browser page")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Studio A engineering <panel-host@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# The shared libraries panel-host and PELDAN.so link to (Unicorn, libmicrohttpd,
# the C++ runtime) become the package's dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# llvm-symbolizer reads a DLL's PDB: faults by function and line, lines reached.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS llvm)
include(CPack)
