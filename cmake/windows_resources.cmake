# The Windows resources of a program: the application icon, its manifest and a
# VERSIONINFO block from the project's version, compiled by the resource compiler (windres
# for MinGW, rc for MSVC) into the .exe. A third argument names the manifest to use when
# it is not the target's own (a test program that must run as the window does).
set(PZ_PRODUCT_NAME "PZ-RQ480 configurator")
set(PZ_VENDOR "PZ-RQ480 configurator developers")
set(PZ_COPYRIGHT "2026 ${PZ_VENDOR}")

function(pz_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(_dir ${PROJECT_SOURCE_DIR}/resources/windows)
  set(_out ${CMAKE_CURRENT_BINARY_DIR}/resources)
  set(PZ_RC_NAME ${target})
  set(PZ_RC_FILE_NAME ${target}.exe)
  set(PZ_RC_DESCRIPTION "${description}")
  set(PZ_RC_VERSION4 ${PROJECT_VERSION}.0)
  set(PZ_RC_ICON ${PROJECT_SOURCE_DIR}/resources/icons/pzrq480.ico)
  set(_manifest ${target})
  if(ARGC GREATER 2)
    set(_manifest ${ARGV2})
  endif()
  set(PZ_RC_MANIFEST ${_out}/${target}.manifest)
  file(READ ${_dir}/manifest_common.xml PZ_MANIFEST_COMMON)
  configure_file(${_dir}/${_manifest}.manifest.in ${PZ_RC_MANIFEST} @ONLY)
  configure_file(${_dir}/program.rc.in ${_out}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${_out}/${target}.rc)
  # The resource is compiled whenever the icon or the manifest changes.
  set_source_files_properties(${_out}/${target}.rc PROPERTIES
    OBJECT_DEPENDS "${PZ_RC_ICON};${PZ_RC_MANIFEST}")
  # MSVC's linker would add a second manifest of its own.
  if(MSVC)
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  endif()
endfunction()
