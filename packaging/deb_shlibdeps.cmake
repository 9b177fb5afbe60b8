# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the staged Debian package: adds the packages of
# the shared libraries its ELF files link, as dpkg-shlibdeps names them, to Depends.
#
# CPack's own CPACK_DEBIAN_PACKAGE_SHLIBDEPS would do the same, but it also adds postinst and
# postrm scripts that run ldconfig whenever a shared object lies in /usr/lib or one folder
# below it, which our private plugin in /usr/lib/tonvale does; nothing of ours is on the
# linker's search path, so the package needs no maintainer scripts.

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
set(elf_files)
foreach(file IN LISTS staged)
  if(NOT IS_SYMLINK "${file}")
    file(READ "${file}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
      list(APPEND elf_files "${file}")
    endif()
  endif()
endforeach()
if(NOT elf_files)
  return()
endif()

# dpkg-shlibdeps wants to run from a source tree: a folder holding debian/control.
set(work "${CPACK_TOPLEVEL_DIRECTORY}/shlibdeps")
file(REMOVE_RECURSE "${work}")
file(WRITE "${work}/debian/control" "")
execute_process(
  COMMAND "${CPACK_TONVALE_DPKG_SHLIBDEPS}" --ignore-missing-info -O ${elf_files}
  WORKING_DIRECTORY "${work}"
  OUTPUT_VARIABLE shlibdeps_output
  ERROR_VARIABLE shlibdeps_error
  RESULT_VARIABLE shlibdeps_result
  OUTPUT_STRIP_TRAILING_WHITESPACE)
file(REMOVE_RECURSE "${work}")
if(NOT shlibdeps_result EQUAL 0 OR NOT shlibdeps_output MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "dpkg-shlibdeps failed on ${elf_files}:\n${shlibdeps_error}")
endif()
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${CMAKE_MATCH_1}")
