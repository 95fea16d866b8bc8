# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# Run by cpack before it packs and after (CPACK_PRE_BUILD_SCRIPTS, then
# CPACK_POST_BUILD_SCRIPTS): the modes in the packages are those a umask of 022 gives,
# whatever the umask of whoever builds them.
if(NOT CMAKE_HOST_UNIX)
  return()
endif()

if(NOT DEFINED CPACK_PACKAGE_FILES)
  # Before: the staged tree. The install sets the modes of the files it installs,
  # but the source package copies the files as they were checked out.
  execute_process(COMMAND chmod -R u+rw,go-w,a+rX "${CPACK_TEMPORARY_DIRECTORY}"
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "chmod failed on ${CPACK_TEMPORARY_DIRECTORY}")
  endif()
  return()
endif()

# After: the members of a .deb (debian-binary, control.tar.gz, data.tar.gz) are files
# that CPack has just written with the umask's modes, and their headers in the .deb,
# an ar archive, record those modes. They are written over with 0644, as dpkg-deb
# writes them. Each header is 60 bytes: the mode at 40 (8 bytes), the member's size
# at 48 (10 bytes), "`\n" at 58; each member is padded to an even size.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  file(SIZE "${package}" size)
  set(offset 8) # after "!<arch>\n"
  while(offset LESS size)
    file(READ "${package}" header OFFSET ${offset} LIMIT 60)
    string(SUBSTRING "${header}" 48 10 member_size)
    string(STRIP "${member_size}" member_size)
    if(NOT header MATCHES "^.+`\n$" OR NOT member_size MATCHES "^[0-9]+$")
      message(FATAL_ERROR "${package}: no ar member header at byte ${offset}")
    endif()
    math(EXPR mode_offset "${offset} + 40")
    execute_process(COMMAND ${CMAKE_COMMAND} -E echo_append "100644  "
      COMMAND dd "of=${package}" bs=1 seek=${mode_offset} conv=notrunc
      RESULT_VARIABLE failed ERROR_VARIABLE dd_messages)
    if(failed)
      message(FATAL_ERROR "${package}: the mode at byte ${mode_offset} could not be "
        "written: ${dd_messages}")
    endif()
    math(EXPR offset "${offset} + 60 + ${member_size} + ${member_size} % 2")
  endwhile()
endforeach()
