# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# The packages' date, read by cpack when it packs (through cpack-project.cmake): the
# files in the packages are dated at the Debian changelog's newest entry, unless
# SOURCE_DATE_EPOCH says otherwise. Taken from a committed file, it is the same for a
# clone, an export without .git, and any user; and a new entry dates the next
# packages without configuring again.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  include(${CPACK_GRADEBOOK_SOURCE_DIR}/cmake/debian-changelog.cmake)
  gradebook_debian_changelog(${CPACK_GRADEBOOK_SOURCE_DIR}/packaging/changelog
    version epoch)
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()
