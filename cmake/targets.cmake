# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# The one reader of packaging/targets for CMake, as packaging/targets.sh is for the
# scripts. gradebook_read_targets() sets GRADEBOOK_TARGETS to the targets in the
# table's order, and GRADEBOOK_TARGET_<target>_<column> to each field, the columns
# named by the table's header.
function(gradebook_read_targets)
  set(table ${PROJECT_SOURCE_DIR}/packaging/targets)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table})
  file(STRINGS ${table} lines REGEX "^[^#]")
  set(columns "")
  set(targets "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    string(REGEX REPLACE " +" ";" fields "${line}")
    if(NOT columns)
      set(columns ${fields})
      list(LENGTH columns count)
      continue()
    endif()
    list(LENGTH fields length)
    list(GET fields 0 target)
    if(NOT length EQUAL count)
      message(FATAL_ERROR "${table}: the row of ${target} has ${length} fields, "
        "its header ${count}")
    endif()
    list(APPEND targets ${target})
    foreach(column IN LISTS columns)
      list(POP_FRONT fields field)
      set(GRADEBOOK_TARGET_${target}_${column} ${field} PARENT_SCOPE)
    endforeach()
  endforeach()
  set(GRADEBOOK_TARGETS ${targets} PARENT_SCOPE)
endfunction()
