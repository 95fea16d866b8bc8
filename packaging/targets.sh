# shellcheck shell=bash
# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# The one reader of packaging/targets for the scripts, which source this file.
#
# targets_each COMMAND [ARGUMENT...] runs COMMAND once for each row of the table, in
# its order, with each field of the row in a variable named as its column in the
# header (target, cpu, compiler, ...). A row with more or fewer fields than the
# header is an error, not a guess.
targets_table=$(dirname "${BASH_SOURCE[0]}")/targets

targets_each() {
  local line columns=() fields=() column
  # Its own descriptor, so that what COMMAND runs cannot read the table.
  while IFS= read -r line <&3; do
    [[ $line == '#'* || -z ${line// /} ]] && continue
    read -r -a fields <<<"$line"
    if ((${#columns[@]} == 0)); then
      columns=("${fields[@]}")
      local "${columns[@]}"
      continue
    fi
    if ((${#fields[@]} != ${#columns[@]})); then
      echo "$targets_table: the row of ${fields[0]} has ${#fields[@]} fields," \
        "its header ${#columns[@]}" >&2
      return 1
    fi
    for column in "${!columns[@]}"; do
      printf -v "${columns[column]}" %s "${fields[column]}"
    done
    "$@"
  done 3<"$targets_table"
}
