# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# The newest entry of a Debian changelog: its version, and its date as seconds since
# 1970 (what SOURCE_DATE_EPOCH holds). Used when the build is configured (the version
# must be the project's) and by packaging/release.sh (the release's version and
# date). Plain CMake, so neither git nor dpkg is needed.

# gradebook_rfc5322_epoch(<text> <out>): "Tue, 08 Dec 2026 12:00:00 +0100" as seconds
# since 1970-01-01 00:00:00 UTC; <out> is left empty when the text is not such a date
# or its day of the week is wrong.
function(gradebook_rfc5322_epoch text out)
  set(${out} "" PARENT_SCOPE)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  set(weekdays Thu Fri Sat Sun Mon Tue Wed) # 1970-01-01 was a Thursday
  if(NOT text MATCHES "^([A-Z][a-z][a-z]), ([0-9]?[0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ([0-9][0-9]):([0-9][0-9]):([0-9][0-9]) ([+-])([0-9][0-9][0-9][0-9])$")
    return()
  endif()
  set(weekday ${CMAKE_MATCH_1})
  set(day ${CMAKE_MATCH_2})
  list(FIND months "${CMAKE_MATCH_3}" month)
  set(year ${CMAKE_MATCH_4})
  set(hour ${CMAKE_MATCH_5})
  set(minute ${CMAKE_MATCH_6})
  set(second ${CMAKE_MATCH_7})
  set(sign ${CMAKE_MATCH_8})
  string(SUBSTRING ${CMAKE_MATCH_9} 0 2 offset_hours)
  string(SUBSTRING ${CMAKE_MATCH_9} 2 2 offset_minutes)
  if(month LESS 0 OR year LESS 1970 OR day LESS 1 OR hour GREATER 23
     OR minute GREATER 59 OR second GREATER 60 OR offset_minutes GREATER 59)
    return()
  endif()
  math(EXPR month "${month} + 1")
  # Days in the month, February of leap years included.
  set(lengths 31 28 31 30 31 30 31 31 30 31 30 31)
  math(EXPR index "${month} - 1")
  list(GET lengths ${index} length)
  math(EXPR by4 "${year} % 4")
  math(EXPR by100 "${year} % 100")
  math(EXPR by400 "${year} % 400")
  if(month EQUAL 2 AND by4 EQUAL 0 AND (NOT by100 EQUAL 0 OR by400 EQUAL 0))
    set(length 29)
  endif()
  if(day GREATER length)
    return()
  endif()
  # Days since 1970-01-01 of a Gregorian date, counted in years that start on
  # 1 March, so that the leap day is the last day of its year.
  if(month LESS_EQUAL 2)
    math(EXPR year "${year} - 1")
    math(EXPR shifted_month "${month} + 9")
  else()
    math(EXPR shifted_month "${month} - 3")
  endif()
  math(EXPR era "${year} / 400")
  math(EXPR year_of_era "${year} - ${era} * 400")
  math(EXPR day_of_year "(153 * ${shifted_month} + 2) / 5 + ${day} - 1")
  math(EXPR day_of_era
    "${year_of_era} * 365 + ${year_of_era} / 4 - ${year_of_era} / 100 + ${day_of_year}")
  math(EXPR days "${era} * 146097 + ${day_of_era} - 719468")
  math(EXPR weekday_index "${days} % 7")
  list(GET weekdays ${weekday_index} expected_weekday)
  if(NOT weekday STREQUAL expected_weekday)
    return()
  endif()
  # The local time less its offset from UTC.
  math(EXPR offset "${offset_hours} * 3600 + ${offset_minutes} * 60")
  if(sign STREQUAL "+")
    math(EXPR offset "-${offset}")
  endif()
  math(EXPR epoch "${days} * 86400 + ${hour} * 3600 + ${minute} * 60 + ${second} + ${offset}")
  set(${out} ${epoch} PARENT_SCOPE)
endfunction()

# gradebook_debian_changelog(<file> <version-out> <epoch-out>): the newest entry's
# version and date; a changelog without them is a fatal error.
function(gradebook_debian_changelog file version_out epoch_out)
  file(STRINGS "${file}" lines)
  set(version "")
  foreach(line IN LISTS lines)
    if(version STREQUAL "")
      if(line MATCHES "^[a-z0-9][a-z0-9.+-]* \\(([^ )]+)\\) ")
        set(version ${CMAKE_MATCH_1})
      endif()
    elseif(line MATCHES "^ -- [^<>]+ <[^<>]+>  (.*)$")
      gradebook_rfc5322_epoch("${CMAKE_MATCH_1}" epoch)
      if(epoch STREQUAL "")
        message(FATAL_ERROR "${file}: not a valid date: ${CMAKE_MATCH_1}")
      endif()
      set(${version_out} ${version} PARENT_SCOPE)
      set(${epoch_out} ${epoch} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "${file}: no entry with a version and a trailer line")
endfunction()

# As a script, `cmake -DCHANGELOG=<file> -P debian-changelog.cmake` writes the newest
# entry's version and date on one line of standard output.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  gradebook_debian_changelog("${CHANGELOG}" version epoch)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${version} ${epoch}")
endif()
