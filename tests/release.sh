#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# Checks a release folder (packaging/release.sh) as its users get it: each archive
# unpacked, and the whole dialogue suite run against each program in it. The static
# Linux programs run with nothing installed: x86 ones in an empty root holding the
# program alone, ARM ones under qemu-user without any libraries. The .debs are
# checked as Debian would take them. The 64-bit Windows program runs under wine64,
# the 32-bit one under Wine where this machine runs 32-bit x86 code. The web page
# and the site run in Chromium, Firefox ESR and WebKitGTK. Needs what
# packaging/release.sh needs, and lintian devscripts qemu-user wine64 chromium
# chromium-driver python3-selenium firefox-esr webkit2gtk-driver xvfb
# python3-websockets (Debian packages). Usage: tests/release.sh DIST
set -euo pipefail
export LC_ALL=C
dist=$(realpath "$1")
tests=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cd "$dist"
sha256sum --check --quiet SHA256SUMS
version=$(echo gradebook-*-source.tar.gz | sed 's/^gradebook-\(.*\)-source\.tar\.gz$/\1/')
test -n "$version"
echo "release $version: checksums match"

suite() { # what runs, then the command that runs the program
  echo "== the suite: $1"
  shift
  GRADEBOOK="$*" python3 -m unittest discover -s "$tests" -p 'test_[dr]*.py'
}

for cpu in x86_64 i686 aarch64 armhf; do
  tar -xzf "gradebook-$version-linux-$cpu.tar.gz" -C "$work"
done
# Some machines run no 32-bit x86 code: there qemu-user stands in.
run_i386=()
if ! "$work/gradebook-$version-linux-i686/bin/gradebook" </dev/null >/dev/null 2>&1; then
  run_i386=(qemu-i386)
fi

for cpu in x86_64 i686 aarch64 armhf; do
  name=gradebook-$version-linux-$cpu
  program=$work/$name/bin/gradebook
  file "$program" | grep -E 'statically linked|static-pie linked'
  for doc in share/man/man1/gradebook.1.gz share/doc/gradebook/README.md \
    share/doc/gradebook/LICENSE; do
    test -f "$work/$name/$doc"
  done
  root=$work/root-$cpu
  mkdir "$root"
  cp "$program" "$root/"
  case $cpu in
  i686) if ((${#run_i386[@]})); then
    suite "$name, under qemu-user" qemu-i386 "$root/gradebook"
  else
    suite "$name, in an empty root" unshare --map-root-user --root="$root" /gradebook
  fi ;;
  x86_64) suite "$name, in an empty root" unshare --map-root-user --root="$root" /gradebook ;;
  aarch64) suite "$name, under qemu-user" qemu-aarch64 "$root/gradebook" ;;
  armhf) suite "$name, under qemu-user" qemu-arm "$root/gradebook" ;;
  esac
done
# Without a launcher, the tests of flush points and resource limits apply too.
suite "gradebook-$version-linux-x86_64, as unpacked" \
  "$work/gradebook-$version-linux-x86_64/bin/gradebook"

# The .debs: no lintian error or warning, nor any pedantic remark; each program
# hardened as Debian's own are (no fortifiable call is left to check: the build's
# flags carry fortify), without the compiler's .comment section, with dependencies,
# Debian's copyright file and changelog; the suite run on each program with the
# libraries of its architecture, installed through multiarch, as on Debian.
for arch in amd64 i386 arm64 armhf; do
  deb=gradebook_${version}_$arch.deb
  lintian --fail-on error,warning "$deb"
  test -z "$(lintian -I --pedantic "$deb" 2>/dev/null)"
  dpkg-deb -f "$deb" Depends | grep 'libc6 (>= '
  dpkg-deb -x "$deb" "$work/$arch"
  program=$work/$arch/usr/bin/gradebook
  hardening-check --nofortify --nocfprotection "$program" 2>/dev/null
  if readelf -S "$program" | grep '\.comment'; then exit 1; fi
  grep -qx 'License: MIT' "$work/$arch/usr/share/doc/gradebook/copyright"
  zcat "$work/$arch/usr/share/doc/gradebook/changelog.gz" |
    dpkg-parsechangelog -l- -S Version | grep -x "$version"
  test -f "$work/$arch/usr/share/man/man1/gradebook.1.gz"
  case $arch in
  amd64) suite "$deb" "$program" ;;
  i386) suite "$deb" "${run_i386[@]}" "$program" ;;
  arm64) suite "$deb, under qemu-user" qemu-aarch64 "$program" ;;
  armhf) suite "$deb, under qemu-user" qemu-arm "$program" ;;
  esac
done

# Windows: a console program that needs no DLL beyond Windows' own, with its version
# and licence; texts with CR LF line ends.
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=d
for pair in x86:i686:'PE32 executable (console) Intel 80386' \
  x64:x86_64:'PE32+ executable (console) x86-64'; do
  IFS=: read -r arch triplet_cpu format <<<"$pair"
  name=gradebook-$version-windows-$arch
  unzip -q "$name.zip" -d "$work"
  exe=$work/$name/gradebook.exe
  file "$exe" | grep "$format"
  "$triplet_cpu-w64-mingw32-objdump" -p "$exe" | grep 'DLL Name' | sort -f |
    diff - <(printf '\tDLL Name: KERNEL32.dll\n\tDLL Name: msvcrt.dll\n')
  "$triplet_cpu-w64-mingw32-windres" -i "$exe" -O rc >"$work/$arch.rc"
  grep -q "VALUE \"ProductVersion\", \"$version\"" "$work/$arch.rc"
  grep -q 'VALUE "LegalCopyright", "Copyright (c) 2026' "$work/$arch.rc"
  for text in README.txt LICENSE.txt; do
    test "$(grep -c $'\r$' "$work/$name/$text")" = "$(wc -l <"$work/$name/$text")"
  done
  if [[ $arch == x64 ]]; then
    wine=/usr/lib/wine/wine64
  elif ((${#run_i386[@]} == 0)); then
    wine=wine
  else
    echo "== $name: not run, this machine runs no 32-bit x86 code (nor Wine's loader for it)"
    continue
  fi
  export WINEPREFIX=$work/wine-$arch WINE=$wine
  "$tests/wine-server.sh" start
  GRADEBOOK_CRLF=1 suite "$name, under Wine" "$wine" "$exe"
  "$tests/wine-server.sh" stop
done
# The page, opened from disk, and the site, served on 127.0.0.1, in Chromium, Firefox
# ESR and WebKitGTK, against the x86-64 program's dialogue; in Chromium the site
# installable and working offline. This machine has all that test needs: it must
# run, not skip.
echo "== the page and the site: gradebook-$version-web.html, gradebook-$version-site.zip"
unzip -q "gradebook-$version-site.zip" -d "$work"
# Its service worker's cache is this release's, so that it replaces an older one.
grep -q "^const CACHE = \"gradebook-$version\";" "$work/gradebook-$version-site/sw.js"
GRADEBOOK_PAGE=$dist/gradebook-$version-web.html \
  GRADEBOOK_SITE=$work/gradebook-$version-site \
  GRADEBOOK_REFERENCE=$work/gradebook-$version-linux-x86_64/bin/gradebook \
  /usr/bin/python3 "$tests/test_web_page.py" 2>&1 | tee "$work/page.log"
if grep -q 'skipped=' "$work/page.log"; then
  echo "release: the page was not tested" >&2
  exit 1
fi
echo "release $version: every program passed"
