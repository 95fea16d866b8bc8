# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# Read by cpack before it packs: the files in the packages are dated at the last
# commit (taken when the build was configured), unless SOURCE_DATE_EPOCH says otherwise.
if(CPACK_GRADEBOOK_COMMIT_TIME AND NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_GRADEBOOK_COMMIT_TIME})
endif()
