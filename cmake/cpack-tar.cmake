# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# Run by cpack after it packs (CPACK_POST_BUILD_SCRIPTS): each .tar.gz, the binary and
# the source package, is packed again by GNU tar from the same staged tree, with what
# CPack cannot set: members in the order of their names, not in the order the file
# system lists them (which differs from one file system to another), and owned by
# root whoever builds. Without GNU tar, CPack's own .tar.gz stays.
if(NOT CPACK_PACKAGE_FILES MATCHES "\\.tar\\.gz")
  return()
endif()
execute_process(COMMAND tar --version OUTPUT_VARIABLE tar_version ERROR_QUIET)
find_program(GRADEBOOK_GZIP gzip)
if(NOT tar_version MATCHES "GNU tar" OR NOT GRADEBOOK_GZIP)
  message(STATUS "GNU tar or gzip not found: the .tar.gz keep the file system's "
    "order and the builder as owner")
  return()
endif()

get_filename_component(staging_parent "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY)
get_filename_component(top "${CPACK_TEMPORARY_DIRECTORY}" NAME)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.tar\\.gz$")
    continue()
  endif()
  execute_process(
    COMMAND tar --create --format=gnu --sort=name --owner=root:0 --group=root:0
      --mtime=@$ENV{SOURCE_DATE_EPOCH} --file=- ${top}
    COMMAND ${GRADEBOOK_GZIP} -n -9
    WORKING_DIRECTORY "${staging_parent}"
    OUTPUT_FILE "${package}.repacked"
    RESULTS_VARIABLE failed)
  if(NOT failed MATCHES "^0;0$")
    message(FATAL_ERROR "${package}: GNU tar and gzip could not pack it again")
  endif()
  file(RENAME "${package}.repacked" "${package}")
endforeach()
