#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# Signs a release's SHA256SUMS with minisign into SHA256SUMS.minisig, with the secret
# key whose file GRADEBOOK_MINISIGN_KEY names; minisign asks for its password on the
# terminal, or reads it from standard input. Without a key the release stays unsigned
# and says so. packaging/release.sh runs it; the key's public half is
# packaging/minisign.pub. Usage: packaging/sign.sh FOLDER, or --check to check the
# key before a release is made.
set -euo pipefail
export LC_ALL=C

# Physical, as realpath gives the key's folder.
source_dir=$(cd "$(dirname "$0")/.." && pwd -P)
key=${GRADEBOOK_MINISIGN_KEY:-}

if [[ -n $key ]]; then
  if [[ ! -r $key ]]; then
    echo "sign: GRADEBOOK_MINISIGN_KEY names $key, which cannot be read" >&2
    exit 1
  fi
  # A key inside the source tree would go into the source package, one in the
  # release folder out with the release.
  case $(realpath "$key")/ in
  "$source_dir"/*)
    echo "sign: keep the secret key outside the source tree: $key" >&2
    exit 1
    ;;
  esac
  if ! command -v minisign >/dev/null; then
    echo "sign: install the Debian package minisign first" >&2
    exit 1
  fi
fi
[[ ${1:-} != --check ]] || exit 0

dist=$(realpath "$1")
if [[ -z $key ]]; then
  rm -f "$dist/SHA256SUMS.minisig"
  echo "sign: GRADEBOOK_MINISIGN_KEY is not set: this release is unsigned"
  exit 0
fi
case $(realpath "$key")/ in
"$dist"/*)
  echo "sign: keep the secret key outside the release folder: $key" >&2
  exit 1
  ;;
esac
version=$(dpkg-parsechangelog -l "$source_dir/packaging/changelog" -S Version)
# A trusted comment of the release alone, without minisign's time stamp: Ed25519
# signatures are deterministic, so the same key gives the same bytes.
minisign -S -s "$key" -m "$dist/SHA256SUMS" -x "$dist/SHA256SUMS.minisig" \
  -c "gradebook $version" -t "gradebook $version SHA256SUMS"
