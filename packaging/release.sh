#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# Makes the whole release into one folder, by default dist/ in the source tree:
#
#   gradebook-VERSION-linux-CPU.tar.gz   a static program for any Linux of its CPU
#                                        (x86_64, i686, aarch64, armhf), with the
#                                        manual page, the README and the licence
#   gradebook_VERSION_ARCH.deb           for Debian and Ubuntu (amd64, i386, arm64,
#                                        armhf)
#   gradebook-VERSION-windows-x86.zip    32-bit and 64-bit Windows programs, each
#   gradebook-VERSION-windows-x64.zip    with README.txt and LICENSE.txt
#   gradebook-VERSION-web.html           the program in one self-contained web page
#   gradebook-VERSION-site.zip           the same page as a site to serve, which
#                                        installs as an app and works offline
#   gradebook-VERSION-source.tar.gz      the source files
#   SHA256SUMS                           for `sha256sum -c SHA256SUMS`
#
# from a clone, an export or the unpacked source package alike. The same sources and
# tools give the same bytes, whoever builds them, wherever and under whatever umask:
# every file is dated at the newest entry of packaging/changelog (SOURCE_DATE_EPOCH
# overrides it), owned by root, packed in name order, with the modes a umask of 022
# gives. Usage: packaging/release.sh [FOLDER [CMAKE_OPTION...]], where the options
# go to every build (as -DCMAKE_COMPILE_WARNING_AS_ERROR=ON does in CI).
set -euo pipefail
umask 022
export LC_ALL=C TZ=UTC

source_dir=$(cd "$(dirname "$0")/.." && pwd)
dist=$(realpath -m "${1:-$source_dir/dist}")
shift $(($# > 0))
builds=$source_dir/build-dist

# Each tool with the Debian package that brings it.
missing=()
for pair in cmake:cmake g++:g++ gzip:gzip zip:zip sha256sum:coreutils \
  dpkg-shlibdeps:dpkg-dev \
  aarch64-linux-gnu-g++-12:g++-12-aarch64-linux-gnu \
  arm-linux-gnueabihf-g++-12:g++-12-arm-linux-gnueabihf \
  i686-w64-mingw32-g++:g++-mingw-w64-i686 x86_64-w64-mingw32-g++:g++-mingw-w64-x86-64 \
  clang-14:clang-14 wasm-ld-14:lld-14 wasm-opt:binaryen node:nodejs \
  rsvg-convert:librsvg2-bin; do
  command -v "${pair%%:*}" >/dev/null || missing+=("${pair#*:}")
done
if ! tar --version 2>/dev/null | grep -q 'GNU tar'; then missing+=(tar); fi
if ((${#missing[@]})); then
  echo "release: install the Debian packages $(printf '%s\n' "${missing[@]}" | sort -u |
    tr '\n' ' ')first (and g++-12-multilib for the 32-bit x86 program)" >&2
  exit 1
fi

# The .debs' programs, each with the architecture whose libraries it needs.
debs=(release:"$(dpkg --print-architecture)" deb-i386:i386 deb-arm64:arm64 deb-armhf:armhf)
for pair in "${debs[@]}"; do
  if ! dpkg-query -W "libstdc++6:${pair#*:}" >/dev/null 2>&1; then
    echo "release: the ${pair#*:} .deb needs that architecture's libraries: dpkg" \
      "--add-architecture ${pair#*:}, apt-get update, apt-get install libstdc++6:${pair#*:}" >&2
    exit 1
  fi
done

# The version and date of the changelog's newest entry, which configuring checks
# against the project's version.
newest=$(cmake -DCHANGELOG="$source_dir/packaging/changelog" \
  -P "$source_dir/cmake/debian-changelog.cmake")
read -r version changelog_epoch <<<"$newest"
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$changelog_epoch}

# One optimised build per program, from scratch, without the tests.
rm -rf "$builds"
for preset in linux-{x86_64,i686,aarch64,armhf} "${debs[@]%:*}" win32 win64 web; do
  cmake --preset "$preset" -B "$builds/$preset" -DBUILD_TESTING=OFF "$@" >/dev/null
  cmake --build "$builds/$preset"
done

mkdir -p "$dist"
rm -f "$dist"/gradebook[-_]* "$dist/SHA256SUMS"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# GNU tar and gzip as reproducible builds want them: no names, owners, times or
# order from the machine.
tar_gz() { # folder in the stage, archive
  tar --create --format=gnu --sort=name --owner=0 --group=0 --numeric-owner \
    --mtime="@$SOURCE_DATE_EPOCH" --directory="$stage" "$1" | gzip -n -9 >"$2"
}

for cpu in x86_64 i686 aarch64 armhf; do
  name=gradebook-$version-linux-$cpu
  cmake --install "$builds/linux-$cpu" --prefix "$stage/$name" --strip >/dev/null
  tar_gz "$name" "$dist/$name.tar.gz"
done

# The .debs: the program linked as Debian's own are, the manual page, the README, and
# Debian's copyright file and changelog in place of LICENSE and CHANGELOG.md. Staged
# where dpkg-shlibdeps expects a package: it finds the dependencies in the libraries
# of the package's architecture, installed through multiarch.
mkdir "$stage/debian"
printf 'Source: gradebook\n\nPackage: gradebook\nArchitecture: any\n' >"$stage/debian/control"
for pair in "${debs[@]}"; do
  preset=${pair%:*} arch=${pair#*:}
  root=$stage/debian/gradebook
  rm -rf "$root"
  for component in Unspecified debian; do
    cmake --install "$builds/$preset" --prefix "$root/usr" --strip --component "$component" \
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
  cat >"$root/DEBIAN/control" <<EOF
Package: gradebook
Version: $version
Architecture: $arch
Maintainer: gradebook developers <gradebook@example.org>
Installed-Size: $installed_size
Depends: $depends
Section: education
Priority: optional
Description: Console grade book: grades from 1 to 6, their list and their mean
 A numbered menu in Polish on the console: add grades from 1 to 6, fractions
 allowed, list them and show their mean. Nothing is saved between runs.
EOF
  (cd "$root" && find usr -type f | sort | xargs md5sum) >"$root/DEBIAN/md5sums"
  # dpkg-deb dates the members at SOURCE_DATE_EPOCH and sorts them by name.
  dpkg-deb --root-owner-group --build "$root" "$dist/gradebook_${version}_$arch.deb" \
    >/dev/null
done

# Windows: one folder to unzip, the program with its guide and licence. zip -X keeps
# no owner and no extra times; the DOS times are read in UTC.
for pair in win32:x86 win64:x64; do
  name=gradebook-$version-windows-${pair#*:}
  cmake --install "$builds/${pair%:*}" --prefix "$stage/$name" >/dev/null
  find "$stage/$name" -exec touch -d "@$SOURCE_DATE_EPOCH" {} +
  (cd "$stage" && find "$name" | sort | zip -X -q -@ "$dist/$name.zip")
done

cp "$builds/web/gradebook.html" "$dist/gradebook-$version-web.html"

# The site: the page as index.html with its manifest, icons and service worker, one
# folder for any static web server, zipped as the Windows programs are.
name=gradebook-$version-site
cp -R "$builds/web/site" "$stage/$name"
find "$stage/$name" -exec touch -d "@$SOURCE_DATE_EPOCH" {} +
(cd "$stage" && find "$name" | sort | zip -X -q -@ "$dist/$name.zip")

# The source package: the source tree without build trees, releases, git's files or
# what editors and Python leave behind.
name=gradebook-$version-source
excludes=(--anchored --exclude=./.git --exclude='./build*' --exclude=./dist
  --exclude=./CMakeUserPresets.json)
case $dist/ in "$source_dir"/*) excludes+=("--exclude=./${dist#"$source_dir"/}") ;; esac
tar --create --format=gnu --sort=name --owner=0 --group=0 --numeric-owner \
  --mtime="@$SOURCE_DATE_EPOCH" --mode=u+rw,go-w,a+rX "${excludes[@]}" \
  --no-anchored --exclude=__pycache__ --exclude='*.py[co]' --exclude='*~' \
  --exclude='.*.sw[op]' --transform="s,^\\.,$name," --directory="$source_dir" . |
  gzip -n -9 >"$dist/$name.tar.gz"

cd "$dist"
sha256sum -- gradebook[-_]* >SHA256SUMS
ls -l "$dist"
