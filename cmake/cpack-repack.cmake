# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# Run by cpack after it packs (CPACK_POST_BUILD_SCRIPTS): the .tar.gz (binary and
# source) and the .zip are packed again from the same staged tree, with their members
# in the order of their names. CPack adds them in the order the file system lists
# them, which differs from one file system to another. The .tar.gz is packed by GNU
# tar, which also makes root/0 their owner whoever builds; the .zip by CMake itself,
# which packs it as CPack does, and so still records the builder's uid and gid.
# Without GNU tar, CPack's own .tar.gz stays.
get_filename_component(staging_parent "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY)
get_filename_component(top "${CPACK_TEMPORARY_DIRECTORY}" NAME)

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.zip$")
    file(GLOB_RECURSE members RELATIVE "${staging_parent}" "${CPACK_TEMPORARY_DIRECTORY}/*")
    list(SORT members)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E tar cf "${package}.repacked" --format=zip -- ${members}
      WORKING_DIRECTORY "${staging_parent}"
      RESULT_VARIABLE failed)
  elseif(package MATCHES "\\.tar\\.gz$")
    execute_process(COMMAND tar --version OUTPUT_VARIABLE tar_version ERROR_QUIET)
    find_program(GRADEBOOK_GZIP gzip)
    if(NOT tar_version MATCHES "GNU tar" OR NOT GRADEBOOK_GZIP)
      message(STATUS "GNU tar or gzip not found: ${package} keeps the file system's "
        "order and the builder as owner")
      continue()
    endif()
    execute_process(
      COMMAND tar --create --format=gnu --sort=name --owner=root:0 --group=root:0
        --mtime=@$ENV{SOURCE_DATE_EPOCH} --file=- ${top}
      COMMAND ${GRADEBOOK_GZIP} -n -9
      WORKING_DIRECTORY "${staging_parent}"
      OUTPUT_FILE "${package}.repacked"
      RESULTS_VARIABLE failed)
    string(REPLACE "0;0" "" failed "${failed}")
  else()
    continue()
  endif()
  if(failed)
    message(FATAL_ERROR "${package} could not be packed again")
  endif()
  file(RENAME "${package}.repacked" "${package}")
endforeach()
