# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# Read by cpack before it makes each package (CPACK_PROJECT_CONFIG_FILE).
include(${CPACK_GRADEBOOK_SOURCE_DIR}/cmake/cpack-date.cmake)

if(CPACK_GENERATOR STREQUAL "DEB")
  # Without dpkg-shlibdeps, CPack would write a .deb that depends on nothing.
  find_program(GRADEBOOK_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(NOT GRADEBOOK_DPKG_SHLIBDEPS)
    message(FATAL_ERROR "dpkg-shlibdeps not found: the .deb's dependencies cannot be "
      "found without it; install the Debian package dpkg-dev")
  endif()
  if(NOT CPACK_GRADEBOOK_GZIP)
    message(FATAL_ERROR "gzip was not found when the build was configured: the .deb "
      "needs its manual page and changelog compressed; install gzip and configure again")
  endif()
  # Debian's copyright file and changelog instead of LICENSE and CHANGELOG.md.
  set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CPACK_GRADEBOOK_BINARY_DIR};gradebook;Unspecified;/"
    "${CPACK_GRADEBOOK_BINARY_DIR};gradebook;debian;/")
endif()
