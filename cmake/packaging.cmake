# Release packages: `cpack` in a build folder makes a Debian package on Linux and a .zip
# on Windows (cross-built or native). Only the programs, the README and, on Linux, the
# window's desktop entry and icon go in; libraries and tests stay out.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME pzrq480)
set(CPACK_PACKAGE_VENDOR "${PZ_VENDOR}")
set(CPACK_PACKAGE_CONTACT "PZ-RQ480 configurator developers <maintainers@pzrq480.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Reads and writes the settings of the PZ-RQ480 XpressNet/S88 PC interface")
# One text: the Debian package wraps it into its extended description as it stands.
set(CPACK_PACKAGE_DESCRIPTION
    "The PZ-RQ480 connects a PC to a model railway: to the XpressNet command bus
and to the S88 feedback bus. This package reads and writes its five settings
(XpressNet address, baud rate, S88 start address, S88 module count, command
station) over a serial port. pzrq480 is the window; pzrq480-cli does the same
from the command line and lists the serial ports, what each is and who holds
it; pzrq480-sim emulates the device on a pseudo-terminal for trying it out.")
# The project's version, which the programs' --version and resources show as well.
set(CPACK_PACKAGE_VERSION_MAJOR ${PROJECT_VERSION_MAJOR})
set(CPACK_PACKAGE_VERSION_MINOR ${PROJECT_VERSION_MINOR})
set(CPACK_PACKAGE_VERSION_PATCH ${PROJECT_VERSION_PATCH})
set(CPACK_STRIP_FILES ON)

# On Windows the package is one flat folder: the two programs, a quick-start for Windows
# users and the licence, the texts with Windows' line ends so that every editor shows them.
if(WIN32)
  set(_pz_bindir .)
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows/README-Windows.txt
                 ${CMAKE_BINARY_DIR}/packaging/README-Windows.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/packaging/LICENSE.txt @ONLY
                 NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/README-Windows.txt
                ${CMAKE_BINARY_DIR}/packaging/LICENSE.txt DESTINATION . COMPONENT programs)
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
    # The application icon in the hicolor theme, where the desktop entry finds it.
    foreach(size 16 24 32 48 64 128 256)
      install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/${size}/pzrq480.png
              DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
              COMPONENT programs)
    endforeach()
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/pzrq480.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT programs)
  endif()
  # The copyright file and the changelog (gzipped as Debian keeps it) beside the README.
  set(_pz_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
  add_custom_command(
    OUTPUT ${_pz_changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/cmake/debian/changelog > ${_pz_changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
    VERBATIM)
  add_custom_target(package_docs ALL DEPENDS ${_pz_changelog})
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${_pz_changelog}
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT programs)
  include(${CMAKE_CURRENT_LIST_DIR}/manual_pages.cmake)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # CPack names the build machine's architecture; a cross build's package is the target's
  # (aarch64-linux-gnu is arm64, arm-linux-gnueabihf is armhf).
  if(CMAKE_CROSSCOMPILING)
    execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _pz_arch_result)
    if(NOT _pz_arch_result EQUAL 0 OR CPACK_DEBIAN_PACKAGE_ARCHITECTURE STREQUAL "")
      message(FATAL_ERROR "dpkg-architecture does not know '${CMAKE_LIBRARY_ARCHITECTURE}': the "
                          "package's architecture is unknown (install dpkg-dev; the toolchain "
                          "file sets CMAKE_LIBRARY_ARCHITECTURE to the GNU triplet)")
    endif()
  endif()
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The library dependencies (Qt, the C++ run-time) come from dpkg-shlibdeps; Qt only
  # recommends its platform plugins, without which the window cannot start.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(TARGET pzrq480)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
  endif()
endif()

# The emulated device is a Linux program: on Windows there is no pzrq480-sim target.
foreach(program pzrq480 pzrq480-cli pzrq480-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${_pz_bindir} COMPONENT programs)
  endif()
endforeach()

include(CPack)
