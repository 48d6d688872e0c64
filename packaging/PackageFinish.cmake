# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the package's staged tree, after the install rules and
# before the package is made: what Debian's policy asks of every package and the install rules do
# not do for other installations. Programs and libraries are stripped as dh_strip strips them (the
# build's debug information stays in the build folder). The copyright file and the changelog go
# into the package's documentation folder, the changelog and the manual pages compressed with gzip
# -9n, as dh_compress would (no name or date inside, so the same build makes the same package).
#
# Expects CPACK_TEMPORARY_DIRECTORY (the staged tree, set by CPack), CPACK_PACKAGING_INSTALL_PREFIX,
# CPACK_DEBIAN_PACKAGE_NAME and CPACK_CORVIMUS_DEBIAN_DIR (packaging/debian).
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT IS_DIRECTORY "${root}")
  message(FATAL_ERROR "no staged tree at ${root}")
endif()

file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS files)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  execute_process(COMMAND file -b "${file}" OUTPUT_VARIABLE kind)
  set(how --remove-section=.comment --remove-section=.note)
  if(kind MATCHES "shared object")
    list(APPEND how --strip-unneeded)
  endif()
  execute_process(COMMAND strip ${how} "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "strip ${file} failed")
  endif()
endforeach()

set(doc "${root}/share/doc/${CPACK_DEBIAN_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_CORVIMUS_DEBIAN_DIR}/copyright" "${doc}/copyright")
file(COPY_FILE "${CPACK_CORVIMUS_DEBIAN_DIR}/changelog" "${doc}/changelog")

file(GLOB_RECURSE pages LIST_DIRECTORIES false "${root}/share/man/*")
set(compress "${doc}/changelog")
foreach(page IN LISTS pages)
  if(NOT page MATCHES "\\.gz$")
    list(APPEND compress "${page}")
  endif()
endforeach()
foreach(file IN LISTS compress)
  execute_process(COMMAND gzip -9n -f "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${file} failed")
  endif()
endforeach()
