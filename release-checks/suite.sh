# shellcheck shell=bash
# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# The whole suite on one program as its users get it, for the release checks, which
# source this file: suite WHAT COMMAND..., where COMMAND runs the program.
suite() {
  local source_dir
  source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  echo "== the suite: $1"
  shift
  GRADEBOOK="$*" python3 -m unittest discover -s "$source_dir/tests" -t "$source_dir" \
    -p 'test_[dr]*.py'
}
