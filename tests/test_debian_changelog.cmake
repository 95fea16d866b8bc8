# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# The packages' date comes from the Debian changelog's newest entry: its dates read
# as `date -d` reads them, and what is not a date refused rather than misread.
# Run as: cmake -DSOURCE_DIR=<source tree> -DWORK_DIR=<scratch folder> -P <this file>
cmake_policy(VERSION 3.16)
include(${SOURCE_DIR}/cmake/debian-changelog.cmake)

set(failures 0)
macro(expect what got wanted)
  if(NOT "${got}" STREQUAL "${wanted}")
    message(SEND_ERROR "${what}: got '${got}', wanted '${wanted}'")
    math(EXPR failures "${failures} + 1")
  endif()
endmacro()

# Date | seconds since 1970 (from `date -u -d DATE +%s`), or nothing for a refusal.
set(cases
  "Thu, 01 Jan 1970 00:00:00 +0000|0"
  "Tue, 08 Dec 2026 12:00:00 +0000|1796731200"
  "Tue, 08 Dec 2026 13:00:00 +0100|1796731200"
  "Tue, 08 Dec 2026 08:30:00 -0330|1796731200"
  "Thu, 29 Feb 2024 23:59:59 +0000|1709251199"
  "Wed, 01 Mar 2000 00:00:00 +0000|951868800"
  "Mon, 1 Mar 2100 00:00:00 +0000|4107542400"
  "Sun, 31 Dec 2062 23:59:59 -0000|2934835199"
  # The day of the week is the local date's, not UTC's.
  "Wed, 1 Jan 2025 00:30:00 +0100|1735687800"
  "Tue, 1 Jan 2025 00:30:00 +0100|"
  "Mon, 08 Dec 2026 12:00:00 +0000|"
  # 2100 is no leap year: its 29 February is refused, on the weekday 1 March has.
  "Mon, 29 Feb 2100 00:00:00 +0000|"
  "Fri, 31 Apr 2026 00:00:00 +0000|"
  "Tue, 08 Dec 2026 24:00:00 +0000|"
  "Tue, 08 Dec 2026 12:00 +0000|"
  "Tue, 8 December 2026 12:00:00 +0000|"
  "Tue, 08 Dec 2026 12:00:00 UTC|"
  "Thu, 31 Dec 1969 23:59:59 +0000|")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 date)
  list(LENGTH case fields)
  set(wanted "")
  if(fields EQUAL 2)
    list(GET case 1 wanted)
  endif()
  gradebook_rfc5322_epoch("${date}" got)
  expect("${date}" "${got}" "${wanted}")
endforeach()

# The newest entry is the first one; older entries are not read.
file(WRITE ${WORK_DIR}/changelog [[
gradebook (1.1.0) unstable; urgency=medium

  * A change.

 -- A Developer <dev@example.org>  Wed, 1 Jan 2025 00:30:00 +0100

gradebook (1.0.0) unstable; urgency=low

  * First release.

 -- A Developer <dev@example.org>  Tue, 08 Dec 2026 12:00:00 +0000
]])
gradebook_debian_changelog(${WORK_DIR}/changelog version epoch)
expect("newest entry's version" "${version}" "1.1.0")
expect("newest entry's date" "${epoch}" "1735687800")

if(failures)
  message(FATAL_ERROR "${failures} failed")
endif()
