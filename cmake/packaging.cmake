# Release packages: `cpack` in a build folder makes a Debian package on Linux and a .zip
# on Windows (cross-built or native). Only the programs, the README and, on Linux, the
# window's desktop entry go in; libraries and tests stay out.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME pzrq480)
set(CPACK_PACKAGE_VENDOR "PZ-RQ480 configurator developers")
set(CPACK_PACKAGE_CONTACT "PZ-RQ480 configurator developers <pzrq480@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Reads and writes the settings of the PZ-RQ480 XpressNet/S88 PC interface")
set(CPACK_PACKAGE_VERSION_MAJOR 1)
set(CPACK_PACKAGE_VERSION_MINOR 0)
set(CPACK_PACKAGE_VERSION_PATCH 0)
set(CPACK_STRIP_FILES ON)

# On Windows the package is one flat folder: the two programs and the README side by
# side.
if(WIN32)
  set(_pz_bindir .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT programs)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
else()
  set(_pz_bindir ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
          COMPONENT programs)
  if(TARGET pzrq480)
    install(FILES ${PROJECT_SOURCE_DIR}/cmake/pzrq480.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT programs)
  endif()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The library dependencies (Qt, the C++ run-time) come from dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

# The emulated device is a Linux program: on Windows there is no pzrq480-sim target.
foreach(program pzrq480 pzrq480-cli pzrq480-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${_pz_bindir} COMPONENT programs)
  endif()
endforeach()

include(CPack)
