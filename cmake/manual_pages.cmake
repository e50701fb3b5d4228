# Manual pages of the three programs, made from their --help with help2man at build time
# (gzipped, as Debian installs them). Sanitizer builds are never packaged and skip them.
# A cross build runs its programs under the toolchain's emulator for that.
find_program(PZ_HELP2MAN help2man)
if(NOT PZ_HELP2MAN OR NOT PZ_SANITIZE STREQUAL "")
  if(NOT PZ_HELP2MAN)
    message(WARNING "help2man not found: the package gets no manual pages")
  endif()
  return()
endif()
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(WARNING "a cross build without an emulator cannot run its programs: the package "
                  "gets no manual pages (set CMAKE_CROSSCOMPILING_EMULATOR)")
  return()
endif()

set(_pz_man_pzrq480 "window that reads and writes the settings of the PZ-RQ480")
set(_pz_man_pzrq480-cli "read and write the settings of the PZ-RQ480 from the command line")
set(_pz_man_pzrq480-sim "an emulated PZ-RQ480 on a pseudo-terminal")

set(_pz_man_pages)
foreach(program pzrq480 pzrq480-cli pzrq480-sim)
  if(NOT TARGET ${program})
    continue()
  endif()
  set(_page ${CMAKE_BINARY_DIR}/packaging/${program}.1)
  # help2man names the page after the file it runs: under emulation, a script of the
  # program's own name that runs it through the emulator.
  set(_run $<TARGET_FILE:${program}>)
  if(CMAKE_CROSSCOMPILING)
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " _emulator)
    set(_run ${CMAKE_BINARY_DIR}/packaging/emulated/${program})
    file(GENERATE OUTPUT ${_run}
         CONTENT "#!/bin/sh\nexec ${_emulator} '$<TARGET_FILE:${program}>' \"$@\"\n"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                          WORLD_READ WORLD_EXECUTE)
  endif()
  add_custom_command(
    OUTPUT ${_page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND ${PZ_HELP2MAN} --no-info --no-discard-stderr
            --version-string=${CPACK_PACKAGE_VERSION_MAJOR}.${CPACK_PACKAGE_VERSION_MINOR}.${CPACK_PACKAGE_VERSION_PATCH}
            --name=${_pz_man_${program}} --output=${_page} ${_run}
    COMMAND gzip -9nf ${_page}
    DEPENDS ${program}
    VERBATIM)
  list(APPEND _pz_man_pages ${_page}.gz)
endforeach()
add_custom_target(manual_pages ALL DEPENDS ${_pz_man_pages})
install(FILES ${_pz_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
