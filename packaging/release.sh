#!/usr/bin/env bash
# shellcheck disable=SC2154 # target, cpu, ...: the fields that targets_each sets
# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# Makes the release into FOLDER (by default dist/): a build and its archives for each
# row of packaging/targets, the source package and SHA256SUMS, the same bytes from a
# clone, an export or the source package, for any user and umask. CMAKE_OPTIONs go to
# every build. Each step below says what it makes; it names what is missing.
# Usage: packaging/release.sh [FOLDER [CMAKE_OPTION...]]
set -euo pipefail
umask 022
export LC_ALL=C TZ=UTC

source_dir=$(cd "$(dirname "$0")/.." && pwd)
dist=$(realpath -m "${1:-$source_dir/dist}")
shift $(($# > 0))
builds=$source_dir/build-dist

missing=()
for pair in cmake:cmake gzip:gzip zip:zip sha256sum:coreutils dpkg-shlibdeps:dpkg-dev \
  python3:python3 reuse:reuse wixl:wixl msibuild:msitools faketime:faketime; do
  command -v "${pair%%:*}" >/dev/null || missing+=("${pair#*:}")
done
if ! tar --version 2>/dev/null | grep -q 'GNU tar'; then missing+=(tar); fi
if ((${#missing[@]})); then
  echo "release: install the Debian packages ${missing[*]} first" >&2
  exit 1
fi
# shellcheck source=packaging/targets.sh
source "$source_dir/packaging/targets.sh"
# A key that cannot sign is found before the builds, not after them; named from
# where the release was asked for, it is signed with from the release folder.
if [[ -n ${GRADEBOOK_MINISIGN_KEY:-} ]]; then
  GRADEBOOK_MINISIGN_KEY=$(realpath -- "$GRADEBOOK_MINISIGN_KEY")
  export GRADEBOOK_MINISIGN_KEY
fi
"$source_dir/packaging/sign.sh" --check

# The version and date of the changelog's newest entry, which configuring checks
# against the project's version.
changelog=$source_dir/packaging/changelog
version=$(dpkg-parsechangelog -l "$changelog" -S Version)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(dpkg-parsechangelog -l "$changelog" -S Timestamp)}

# One optimised build per program, from scratch, without the tests.
build() { # build folder, CMake options
  local folder=$builds/$1
  shift
  if ! cmake -S "$source_dir" -B "$folder" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    "$@" "${options[@]}" >"$folder.log" 2>&1; then
    cat "$folder.log" >&2
    echo "release: $target does not configure: are the packages of its row in" \
      "packaging/targets installed?" >&2
    exit 1
  fi
  cmake --build "$folder"
}
# One build a row, two for a Linux row with a .deb.
build_row() {
  case $target in
  linux-*)
    local words linux
    IFS=, read -r -a words <<<"$compiler"
    linux=(-DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR="$cpu"
      -DCMAKE_CXX_COMPILER="${words[0]}")
    ((${#words[@]} == 1)) || linux+=(-DCMAKE_CXX_FLAGS="${words[*]:1}")
    build "$target" "${linux[@]}" -DGRADEBOOK_LINK="$link"
    if [[ $deb != - ]]; then
      # The .deb's program is linked as Debian's own are; dpkg-shlibdeps reads its
      # dependencies from that architecture's libraries, installed through multiarch.
      if ! dpkg-query -W "libstdc++6:$deb" >/dev/null 2>&1; then
        echo "release: the $deb .deb needs that architecture's libraries: dpkg" \
          "--add-architecture $deb, apt-get update, apt-get install libstdc++6:$deb" >&2
        exit 1
      fi
      build "deb-$deb" "${linux[@]}"
    fi
    ;;
  windows-*)
    build "$target" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64.cmake" \
      -DCMAKE_SYSTEM_PROCESSOR="$cpu" ;;
  web) build web -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/wasm32-wasi.cmake" ;;
  *) echo "release: packaging/targets: $target is no kind of target known here" >&2; exit 1 ;;
  esac
}
options=("$@")
rm -rf "$builds"
mkdir -p "$builds"
targets_each build_row

mkdir -p "$dist"
rm -f "$dist"/gradebook[-_]* "$dist/SHA256SUMS" "$dist/SHA256SUMS.minisig"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# GNU tar and gzip as reproducible builds want them: no names, owners, times or
# order from the machine.
tar_gz() { # folder in the stage, archive
  tar --create --format=gnu --sort=name --owner=0 --group=0 --numeric-owner \
    --mtime="@$SOURCE_DATE_EPOCH" --directory="$stage" "$1" | gzip -n -9 >"$2"
}

# A folder in the stage zipped into the release: zip -X keeps no owner and no extra
# times; the DOS times are read in UTC.
zip_folder() { # folder
  find "$stage/$1" -exec touch -d "@$SOURCE_DATE_EPOCH" {} +
  (cd "$stage" && find "$1" | sort | zip -X -q -@ "$dist/$1.zip")
}

# What the program is, for the .deb and the RPM.
description="A numbered menu in Polish on the console: add grades from 1 to 6, fractions
allowed, list them and show their mean. Nothing is saved between runs."

# The .deb: the program, the manual page, the README, and Debian's copyright file and
# changelog in place of LICENSE and CHANGELOG.md. Staged where dpkg-shlibdeps
# expects a package.
mkdir "$stage/debian"
printf 'Source: gradebook\n\nPackage: gradebook\nArchitecture: any\n' >"$stage/debian/control"
make_deb() { # architecture
  local arch=$1 root=$stage/debian/gradebook depends installed_size summary
  summary=$(sed -n 's/^CMAKE_PROJECT_DESCRIPTION:STATIC=//p' "$builds/deb-$arch/CMakeCache.txt")
  rm -rf "$root"
  for component in Unspecified debian; do
    cmake --install "$builds/deb-$arch" --prefix "$root/usr" --strip --component "$component" \
      >/dev/null
  done
  # Its warnings are about symbols that its lists miss, not about the result.
  if ! depends=$(cd "$stage" && DEB_HOST_ARCH=$arch dpkg-shlibdeps -O \
    debian/gradebook/usr/bin/gradebook 2>/dev/null | sed -n 's/^shlibs:Depends=//p'); then
    echo "release: dpkg-shlibdeps could not find what the $arch program needs" >&2
    exit 1
  fi
  installed_size=$(find "$root" -type f -printf '%s\n' | awk '{k += int(($1 + 1023) / 1024)}
    END {print k}')
  mkdir "$root/DEBIAN"
  cat >"$root/DEBIAN/control" <<END
Package: gradebook
Version: $version
Architecture: $arch
Maintainer: gradebook developers <gradebook@example.org>
Installed-Size: $installed_size
Depends: $depends
Section: education
Priority: optional
Description: $summary
 ${description//$'\n'/$'\n' }
END
  (cd "$root" && find usr -type f | sort | xargs md5sum) >"$root/DEBIAN/md5sums"
  # dpkg-deb dates the members at SOURCE_DATE_EPOCH and sorts them by name.
  dpkg-deb --root-owner-group --build "$root" "$dist/gradebook_${version}_$arch.deb" \
    >/dev/null
}

# The Windows Installer package of a Windows folder in the stage, built by wixl from
# packaging/gradebook.wxs. wixl and msibuild write the time into the package, and
# wixl a random package code; so they run on a clock stopped at SOURCE_DATE_EPOCH
# (a running one, started there, would stamp how long each step took on a busy
# machine; the monotonic clock, which waits and time-outs read, is left to run),
# and the product and package codes are
# name-based UUIDs under the UpgradeCode: the product's from the version and CPU,
# the package's from that and what the package holds.
uuid5() { # namespace UUID, name: the name's UUID (RFC 4122, SHA-1), in capitals
  local hash
  hash=$({ printf '%b' "$(sed 's/-//g; s/../\\x&/g' <<<"$1")"; printf '%s' "$2"; } | sha1sum)
  hash=$(printf '%s-%s-5%s-%02x%s-%s' "${hash:0:8}" "${hash:8:4}" "${hash:13:3}" \
    $(((16#${hash:16:2} & 0x3f) | 0x80)) "${hash:18:2}" "${hash:20:12}")
  echo "${hash^^}"
}
frozen() { # command...: run at $at, on a clock that stands still
  FAKETIME_DONT_FAKE_MONOTONIC=1 faketime -f "$at" "$@"
}
make_msi() { # target, folder in the stage
  local arch=${1#windows-} wxs=$source_dir/packaging/gradebook.wxs msi=$dist/$2.msi
  local upgrade_code copyright contents summary at size
  upgrade_code=$(sed -n 's/.*define UpgradeCode = "\([^"]*\)".*/\1/p' "$wxs")
  copyright=$(sed -n 's/^Copyright (c) //p' "$source_dir/LICENSE")
  contents=$(cat "$wxs" "$stage/$2"/* | sha256sum)
  at=$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')
  # The size that Programs and Features shows, in KiB, and the icon, from the build
  # (wixl finds files under the folder where it runs alone).
  size=$(find "$stage/$2" -type f -printf '%s\n' | awk '{k += int(($1 + 1023) / 1024)}
    END {print k}')
  cp "$builds/$1/gradebook.ico" "$stage/$2.ico"
  (cd "$stage" && frozen wixl -a "$arch" -D Arch="$arch" -D Version="$version" \
    -D ProductCode="$(uuid5 "$upgrade_code" "$version $arch")" -D Folder="$2" \
    -D Copyright="$copyright" -D Icon="$2.ico" -D Size="$size" \
    -o "$msi" "$wxs")
  # wixl drops IncludeMaximum: the same version for the other CPU is replaced too.
  msiinfo export "$msi" Upgrade |
    sed 's/\t256\(\t\tWIX_UPGRADE_DETECTED\)/\t768\1/' >"$stage/Upgrade.idt"
  frozen msibuild "$msi" -i "$stage/Upgrade.idt"
  # msibuild sets the summary's subject, author and template again, as wixl had them.
  mapfile -t summary < <(msiinfo suminfo "$msi" | sed -n 's/^\(Subject\|Author\|Template\): //p')
  frozen msibuild "$msi" -s "${summary[@]}" \
    "{$(uuid5 "$upgrade_code" "$version $arch ${contents%% *}")}"
}

pack_row() {
  local name=gradebook-$version-$target
  case $target in
  linux-*)
    cmake --install "$builds/$target" --prefix "$stage/$name" --strip >/dev/null
    tar_gz "$name" "$dist/$name.tar.gz"
    if [[ $deb != - ]]; then make_deb "$deb"; fi
    ;;
  windows-*)
    # One folder to unzip, the program with its guide and licence.
    cmake --install "$builds/$target" --prefix "$stage/$name" >/dev/null
    zip_folder "$name"
    make_msi "$target" "$name"
    ;;
  web)
    cp "$builds/web/gradebook.html" "$dist/$name.html"
    # The site: the page as index.html with its manifest, icons and service worker,
    # one folder for any static web server.
    name=gradebook-$version-site
    cp -R "$builds/web/site" "$stage/$name"
    zip_folder "$name"
    ;;
  esac
}
targets_each pack_row

# The RPM's build recipe: packaging/gradebook.rpm.in with the version, the
# project's summary, the description and the changelog's entries in RPM's form,
# newest first. It goes into the source package, for `rpmbuild -tb`; no RPM goes
# into the release, as one built here would link Debian's libraries and be tested
# on no RPM distribution.
rpm_changelog() {
  dpkg-parsechangelog -l "$changelog" --all --format rfc822 | awk '
    function entry() {
      if (!version) return
      if (entries++) printf "\n"
      printf "* %s %s %s %s %s - %s-1\n%s", date[2], date[4], date[3], date[5],
        maintainer, version, body
      version = body = ""
    }
    /^Version: / { version = $2 }
    /^Maintainer: / { maintainer = substr($0, 13) }
    /^Date: / { split($0, date, /[ ,]+/) }
    /^   \* / { body = body "- " substr($0, 6) "\n" }
    /^     / { body = body "  " substr($0, 6) "\n" }
    /^$/ { entry() }
    END { entry() }' | sed 's/%/%%/g'
}
write_rpm_recipe() { # file
  local recipe summary
  summary=$(sed -n 's/^CMAKE_PROJECT_DESCRIPTION:STATIC=//p' "$builds"/*/CMakeCache.txt |
    head -n 1)
  recipe=$(<"$source_dir/packaging/gradebook.rpm.in")
  recipe=${recipe//@VERSION@/"$version"}
  recipe=${recipe//@SUMMARY@/"$summary"}
  recipe=${recipe//@DESCRIPTION@/"$description"}
  recipe=${recipe//@CHANGELOG@/"$(rpm_changelog)"}
  mkdir -p "$(dirname "$1")"
  printf '%s\n' "$recipe" >"$1"
}

# The source package: the source tree without build trees, releases, git's files,
# the benchmark's and the tests' npm packages or what editors and Python leave
# behind, and the RPM's build recipe, made anew (so one from an unpacked source
# package is left out).
name=gradebook-$version-source
write_rpm_recipe "$stage/rpm/$name/gradebook.spec"
excludes=(--anchored --exclude=./.git --exclude='./build*' --exclude=./dist
  --exclude=./CMakeUserPresets.json --exclude=./bench/node_modules
  --exclude=./browsers/node_modules --exclude=./gradebook.spec)
case $dist/ in "$source_dir"/*) excludes+=("--exclude=./${dist#"$source_dir"/}") ;; esac
tar --create --format=gnu --sort=name --owner=0 --group=0 --numeric-owner \
  --mtime="@$SOURCE_DATE_EPOCH" --mode=u+rw,go-w,a+rX "${excludes[@]}" \
  --no-anchored --exclude=__pycache__ --exclude='*.py[co]' --exclude='*~' \
  --exclude='.*.sw[op]' --transform="s,^\\.,$name," --directory="$source_dir" . \
  --directory="$stage/rpm" "$name/gradebook.spec" |
  gzip -n -9 >"$dist/$name.tar.gz"

# The SBOM, of every file made so far, with the source package's files as packed.
mkdir "$stage/sbom"
tar -xzf "$dist/$name.tar.gz" -C "$stage/sbom"
python3 "$source_dir/packaging/sbom.py" "$dist" "$version" "$SOURCE_DATE_EPOCH" \
  "$stage/sbom/$name" "$builds" "$dist/gradebook-$version.spdx.json"

cd "$dist"
sha256sum -- gradebook[-_]* >SHA256SUMS
"$source_dir/packaging/sign.sh" "$dist"
ls -l "$dist"
