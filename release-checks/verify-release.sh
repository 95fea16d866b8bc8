#!/usr/bin/env bash
# shellcheck disable=SC2154 # target, cpu, ...: the fields that targets_each sets
# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# Checks a release folder made by packaging/release.sh as its users get it: every
# row of packaging/targets unpacked and run through the whole suite on its CPU, the
# .debs as Debian takes them, and the README's download table against the files.
# Each check below says what it is. Usage: release-checks/verify-release.sh DIST
set -euo pipefail
export LC_ALL=C
dist=$(realpath "$1")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
# A check that fails under Wine leaves no server of its prefix behind.
trap '[[ -z ${WINEPREFIX:-} ]] || wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
# A check that fails says which, where most are a bare test.
set -E
trap 'echo "release-checks: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
# shellcheck source=packaging/targets.sh
source "$source_dir/packaging/targets.sh"
version=$(dpkg-parsechangelog -l "$source_dir/packaging/changelog" -S Version)

cd "$dist"
sha256sum --check --quiet SHA256SUMS
echo "release $version: checksums match"

# The files: those of each row, the source and the checksums, nothing else; and the
# README's download table names each of them.
expected=("gradebook-$version-source.tar.gz")
expect_row() {
  case $target in
  linux-*) expected+=("gradebook-$version-$target.tar.gz") ;;
  windows-*) expected+=("gradebook-$version-$target.zip" "gradebook-$version-$target.msi") ;;
  web) expected+=("gradebook-$version-web.html" "gradebook-$version-site.zip") ;;
  esac
  [[ $deb == - ]] || expected+=("gradebook_${version}_$deb.deb")
}
targets_each expect_row
expected+=("gradebook-$version.spdx.json")
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
printf '%s\n' * | grep -vxE 'SHA256SUMS(\.minisig)?' | diff "$work/expected" -
# shellcheck disable=SC2016 # the backquotes are the README's Markdown
sed -n 's/^| `\(gradebook[^`]*\)`.*/\1/p' "$source_dir/README.md" |
  sed "s/VERSION/$version/g" | sort | diff "$work/expected" -
echo "release $version: the files are those of packaging/targets and the README"

# The signature, checked by the README's own command as it stands there, with the
# key of packaging/minisign.pub. A release made with GRADEBOOK_MINISIGN_KEY set
# must be signed, and the command prints OK for each of its files; an unsigned one
# is checked on a copy signed with a key made for the test. Either way the command
# fails once one byte is changed in a file, in SHA256SUMS or in the signature, and
# without a key a release says in one line that it is unsigned.
check_signature() {
  local key verify copy=$work/signed file offset said signed
  key=$(sed -n 2p "$source_dir/packaging/minisign.pub")
  verify=$(grep -x "minisign -Vm SHA256SUMS -P $key -o | sha256sum -c --ignore-missing" \
    "$source_dir/README.md")
  mkdir "$copy"
  if [[ -n ${GRADEBOOK_MINISIGN_KEY:-} || -e SHA256SUMS.minisig ]]; then
    if [[ ! -e SHA256SUMS.minisig ]]; then
      echo "release: a key was given, and the release has no SHA256SUMS.minisig" >&2
      exit 1
    fi
    echo "\$ $verify"
    bash -c "$verify" | tee "$work/verified"
    sed 's/^[0-9a-f]\{64\}  \(.*\)/\1: OK/' SHA256SUMS | diff - "$work/verified"
    cp SHA256SUMS SHA256SUMS.minisig "gradebook-$version-source.tar.gz" "$copy/"
    signed="signed with the key of packaging/minisign.pub"
  else
    minisign -G -W -p "$work/test.pub" -s "$work/test.key" >/dev/null
    verify=${verify/"$key"/"$(sed -n 2p "$work/test.pub")"}
    cp SHA256SUMS "gradebook-$version-source.tar.gz" "$copy/"
    GRADEBOOK_MINISIGN_KEY=$work/test.key "$source_dir/packaging/sign.sh" "$copy" >/dev/null
    (cd "$copy" && bash -c "$verify") | grep -x "gradebook-$version-source.tar.gz: OK"
    signed="unsigned; a copy signed with a key made for the test verified"
  fi
  # A byte of the list, of the signature itself (16 base64 characters into its
  # line: past its algorithm and key number, 10 bytes), and of a file.
  offset=$(($(head -n 1 "$copy/SHA256SUMS.minisig" | wc -c) + 16))
  for file in SHA256SUMS:10 "SHA256SUMS.minisig:$offset" "gradebook-$version-source.tar.gz:1000"; do
    cp "$copy/${file%:*}" "$work/kept"
    python3 - "$copy/${file%:*}" "${file#*:}" <<'END'
import sys
path, offset = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, "rb").read())
if path.endswith(".minisig"):  # a base64 character for another, still base64
    alphabet = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
    data[offset] = alphabet[(alphabet.index(data[offset]) + 1) % 64]
else:
    data[offset] ^= 1
open(path, "wb").write(data)
END
    if (cd "$copy" && bash -c "$verify") >/dev/null 2>&1; then
      echo "release: the README's command accepts a release with ${file%:*} changed" >&2
      exit 1
    fi
    cp "$work/kept" "$copy/${file%:*}"
  done
  # Unsigned, a release says so in one line, and keeps no signature of another list.
  said=$(env -u GRADEBOOK_MINISIGN_KEY "$source_dir/packaging/sign.sh" "$copy")
  [[ $said == *unsigned* && $said != *$'\n'* ]]
  test ! -e "$copy/SHA256SUMS.minisig"
  # Nor does a key inside the source tree sign: it would go into the source package.
  if GRADEBOOK_MINISIGN_KEY=$source_dir/packaging/minisign.pub \
    "$source_dir/packaging/sign.sh" --check 2>/dev/null; then
    echo "release: a key inside the source tree was taken" >&2
    exit 1
  fi
  echo "release $version: $signed; a changed byte fails the check"
}
check_signature

# The SBOM: every file of SHA256SUMS with its checksum, the source package's files,
# valid SPDX (release-checks/spdx_check.py; Debian's own Python has license-expression).
/usr/bin/python3 "$source_dir/release-checks/spdx_check.py" "$dist" "$version"

# shellcheck source=release-checks/suite.sh
source "$source_dir/release-checks/suite.sh"

# The Polish manual page as man shows it in a Polish locale: groff's warnings, as
# lintian asks for them, are none, and the page is Polish, with its letters.
polish_page() { # the page, gzip'd
  local warnings
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$1" 2>&1 >/dev/null)
  if [[ -n $warnings ]]; then
    echo "$warnings" >&2
    return 1
  fi
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$1" | grep '^KOD WYJŚCIA' >/dev/null
}

# Each Linux program is static, and runs with nothing installed: in an empty root
# holding the program alone, or under qemu-user, without libraries, on a machine of
# another CPU. Which CPUs run here decides where the Windows programs run too.
declare -A runs_here
reference=
check_linux() {
  [[ $target == linux-* ]] || return 0
  local name=gradebook-$version-$target program root launcher package doc
  tar -xzf "$name.tar.gz" -C "$work"
  program=$work/$name/bin/gradebook
  case $link in
  static-pie) file "$program" | grep 'static-pie linked' ;;
  static) file "$program" | grep 'statically linked' ;;
  esac
  for doc in share/man/man1/gradebook.1.gz share/man/pl/man1/gradebook.1.gz \
    share/doc/gradebook/README.md \
    share/doc/gradebook/LICENSE share/doc/gradebook/CHANGELOG.md; do
    test -f "$work/$name/$doc"
  done
  if "$program" </dev/null >/dev/null 2>&1; then
    runs_here[$cpu]=1
    : "${reference:=$program}"
    root=$work/root-$target
    mkdir "$root"
    cp "$program" "$root/"
    suite "$name, in an empty root" unshare --map-root-user --root="$root" /gradebook
    # Without a launcher, the tests of flush points and resource limits apply too.
    suite "$name, as unpacked" "$program"
    launcher=()
  else
    suite "$name, under qemu-user" "$runs" "$program"
    launcher=("$runs")
  fi

  # The .deb: no lintian error or warning, nor any pedantic remark; the program
  # hardened as Debian's own are (no fortifiable call is left to check: the build's
  # flags carry fortify), without the compiler's .comment section, with dependencies,
  # Debian's copyright file and changelog; the suite run with the libraries of its
  # architecture, installed through multiarch, as on Debian.
  [[ $deb != - ]] || return 0
  package=gradebook_${version}_$deb.deb
  lintian --fail-on error,warning "$package"
  test -z "$(lintian -I --pedantic "$package" 2>/dev/null)"
  dpkg-deb -f "$package" Depends | grep 'libc6 (>= '
  dpkg-deb -x "$package" "$work/$deb"
  program=$work/$deb/usr/bin/gradebook
  hardening-check --nofortify --nocfprotection "$program" 2>/dev/null
  if readelf -S "$program" | grep '\.comment'; then exit 1; fi
  grep -qx 'License: MIT' "$work/$deb/usr/share/doc/gradebook/copyright"
  zcat "$work/$deb/usr/share/doc/gradebook/changelog.gz" |
    dpkg-parsechangelog -l- -S Version | grep -x "$version"
  test -f "$work/$deb/usr/share/man/man1/gradebook.1.gz"
  polish_page "$work/$deb/usr/share/man/pl/man1/gradebook.1.gz"
  suite "$package" "${launcher[@]}" "$program"
}
targets_each check_linux

# Windows: a console program that needs no DLL beyond Windows' own, with its version,
# licence and icon, and texts with CR LF line ends; a guide for its own CPU; run
# under Wine where this machine runs the CPU's Linux program itself.
copyright=$(sed -n 's/^Copyright (c) //p' "$source_dir/LICENSE")
# The CPUs that a guide could name: those its template has lines for.
mapfile -t windows_cpus < <(sed -n 's/^\[\([a-z0-9]*\)\] .*/\1/p' \
  "$source_dir/doc/README-windows.txt" | sort -u)
check_windows() {
  [[ $target == windows-* ]] || return 0
  local name=gradebook-$version-$target exe text guide other folders
  unzip -q "$name.zip" -d "$work"
  exe=$work/$name/gradebook.exe
  file "$exe" | grep 'executable (console)'
  "$cpu-w64-mingw32-objdump" -p "$exe" | grep 'DLL Name' | sort -f |
    diff - <(printf '\tDLL Name: KERNEL32.dll\n\tDLL Name: msvcrt.dll\n')
  "$cpu-w64-mingw32-windres" -i "$exe" -O rc >"$work/$target.rc"
  grep -q "VALUE \"ProductVersion\", \"$version\"" "$work/$target.rc"
  grep -qF "VALUE \"LegalCopyright\", \"Copyright (c) $copyright, " "$work/$target.rc"
  # The icon, the one the MSI shows too (check_msi).
  wrestool -x -t 14 "$exe" >"$work/$target.ico"
  icotool -l "$work/$target.ico" | grep -- '--width=256 ' >/dev/null
  for text in README.txt LICENSE.txt; do
    test "$(grep -c $'\r$' "$work/$name/$text")" = "$(wc -l <"$work/$name/$text")"
  done
  # The guide is Polish: UTF-8 throughout, with the byte order mark by which Notepad
  # knows it.
  cmp -n 3 "$work/$name/README.txt" <(printf '\xef\xbb\xbf')
  iconv -f UTF-8 -t UTF-16 "$work/$name/README.txt" >/dev/null
  grep -q 'Uruchamianie' "$work/$name/README.txt"
  # The guide names this CPU and package, no other CPU, and the folder where its
  # MSI installs: Program Files, or for a 32-bit program on 64-bit Windows,
  # Program Files (x86). Nothing of its template is left.
  guide=$(tr -d '\r' <"$work/$name/README.txt")
  grep -qw "${target#windows-}" <<<"$guide"
  grep -qF "$name.msi" <<<"$guide"
  for other in "${windows_cpus[@]}"; do
    if [[ $other != "${target#windows-}" ]] && grep -w "$other" <<<"$guide"; then
      echo "release: the $target guide names the $other CPU" >&2
      exit 1
    fi
  done
  folders=('C:\Program Files\gradebook')
  if file "$exe" | grep -q 'PE32 '; then folders+=('C:\Program Files (x86)\gradebook'); fi
  test "$(grep -o 'C:\\Program Files[^\]*\\gradebook' <<<"$guide" | sort -u)" = \
    "$(printf '%s\n' "${folders[@]}" | sort)"
  if grep -E '^\[[a-z0-9]+\] |@[A-Za-z_]+@' <<<"$guide"; then exit 1; fi
  if [[ -z ${runs_here[$cpu]:-} ]]; then
    echo "== $name: not run, this machine runs no $cpu code, nor Wine's loader for it"
    return 0
  fi
  export WINEPREFIX=$work/wine-$target WINE=$runs
  "$source_dir/harness/wine-server.sh" start
  GRADEBOOK_CRLF=1 suite "$name, under Wine" "$source_dir/harness/wine-server.sh" run "$exe"
  "$source_dir/harness/wine-server.sh" stop
}
targets_each check_windows

# The Windows Installer packages: the zip's files inside, installed per machine,
# with the name, publisher, icon, size and folder that Programs and Features shows,
# and a Start menu shortcut to the program itself; under Wine, where this machine
# runs the CPU's code, an install over a lower version, which leaves one entry, a
# lower one refused, the whole suite on the installed program and through the
# shortcut's command, and an uninstall that leaves no file and no entry behind.
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
entries() { # the uninstall entries' names and versions, one entry a line
  "$source_dir/harness/wine-server.sh" run reg query "$uninstall_key" /s | tr -d '\r' |
    sed -n 's/^ *\(DisplayName\|DisplayVersion\) *REG_SZ *//p' | paste -d ' ' - -
}
msiexec_qn() { # action, package: msiexec /ACTION /qn, and its log's outcome line
  local log=$work/msiexec.log status=0
  "$source_dir/harness/wine-server.sh" run msiexec "/$1" "$2" /qn /l*v "$log" || status=$?
  echo "msiexec /$1 $(basename "$2"): exit status $status; $(tr -d '\r' <"$log" |
    grep 'Action ended .*: INSTALL\. Return value' | tail -1)"
  return "$status"
}
shortcut_field() { # label: its value in lnkinfo's report of the shortcut
  sed -n "s/^\t$1\t*: //p" "$work/shortcut"
}
table() { # package, table: as msiinfo exports it (the columns' names and types, the
  # table's name and key, then its rows), without CR
  msiinfo export "$1" "$2" | tr -d '\r'
}
property() { # name: its value in the Property table of the package checked
  table "$msi" Property | awk -F '\t' -v name="$1" '$1 == name {print $2}'
}
# The name that Programs and Features lists.
product='Dziennik ocen (gradebook)'
check_msi() {
  [[ $target == windows-* ]] || return 0
  local name=gradebook-$version-$target arch=${target#windows-} file lower folder exe quoted
  local shortcuts size command
  msi=$dist/$name.msi
  msiinfo suminfo "$msi" | grep -x "Template: ${arch/x86/Intel};1033" >/dev/null
  test "$(property ALLUSERS)" = 1
  test "$(property ProductName) $(property ProductVersion)" = "$product $version"
  test -n "$(property Manufacturer)"
  property ARPCOMMENTS | grep -x 'Copyright (c) .*, MIT License' >/dev/null
  # The program's icon (wrestool pads the resource with zeros), its size in KiB,
  # and its folder, set before the product is registered.
  test "$(property ARPPRODUCTICON)" = gradebook.ico
  msiinfo extract "$msi" Icon.gradebook.ico >"$work/$target-msi.ico"
  cmp -n "$(stat -c %s "$work/$target-msi.ico")" "$work/$target-msi.ico" "$work/$target.ico"
  size=$(find "$work/$name" -type f -printf '%s\n' | awk '{k += int(($1 + 1023) / 1024)}
    END {print k}')
  test "$(property ARPSIZE)" = "$size"
  table "$msi" CustomAction |
    grep -xF $'SetInstallLocation\t51\tARPINSTALLLOCATION\t[INSTALLDIR]\t' >/dev/null
  table "$msi" InstallExecuteSequence | awk -F '\t' '
    {at[$1] = $3} END {exit !(at["CostFinalize"] < at["SetInstallLocation"] &&
      at["SetInstallLocation"] < at["RegisterProduct"])}'
  # The Start menu's one shortcut starts the program itself, with its icon: no
  # cmd.exe, which a school's policy may forbid, nor any other shell.
  test "$(table "$msi" Shortcut | tail -n +4 | cut -f 1,3,5,6,9,12)" = \
    "$(printf 'StartMenu\tDziennik ocen\t[INSTALLDIR]gradebook.exe\t\tgradebook.ico\tINSTALLDIR')"
  # The upgrade takes in this version, for the other CPU's package: VersionMin and
  # VersionMax inclusive, 768, which wixl leaves out.
  test "$(msiinfo export "$msi" Upgrade | tr -d '\r' |
    awk -F '\t' '$7 == "WIX_UPGRADE_DETECTED" {print $2, $3, $5}')" = "0.0.0 $version 768"
  # The zip's three files and nothing else, in a folder gradebook (msiextract names
  # Program Files for 32-bit programs alone).
  msiextract -C "$work/msi-$target" "$msi" | sed 's|^Program Files/||' | sort |
    diff - <(cd "$work" && find "gradebook-$version-$target" -type f |
      sed "s|^gradebook-$version-$target/|gradebook/|" | sort)
  for file in gradebook.exe README.txt LICENSE.txt; do
    cmp "$work/$name/$file" "$(find "$work/msi-$target" -name "$file")"
  done
  if [[ -z ${runs_here[$cpu]:-} ]]; then
    echo "== $name.msi: not installed, this machine runs no $cpu code"
    return 0
  fi
  export WINEPREFIX=$work/wine-msi-$target WINE=$runs
  "$source_dir/harness/wine-server.sh" start
  # What is in the prefix, but for Windows Installer's own folder.
  find "$WINEPREFIX/drive_c" ! -path '*/drive_c/windows/Installer' | sort >"$work/before"
  # The same package as a lower version, another product.
  lower=$work/gradebook-0.0.1-$target.msi
  (cd "$work" && wixl -a "$arch" -D Arch="$arch" -D Version=0.0.1 -D Folder="$name" \
    -D ProductCode=9D8E6F35-7B1C-4E2A-9F4D-3C5B7A1E0D62 -D Copyright=- \
    -D Icon="$target.ico" -D Size=1 -o "$lower" "$source_dir/packaging/gradebook.wxs")
  msiexec_qn i "$lower"
  test "$(entries)" = "$product 0.0.1"
  msiexec_qn i "$msi"
  test "$(entries)" = "$product $version"
  if msiexec_qn i "$lower"; then exit 1; fi
  # Refused by the launch condition, the package's only one, against a downgrade.
  grep -q 'Action ended .*: LaunchConditions\. Return value [^1]' "$work/msiexec.log"
  test "$(entries)" = "$product $version"
  # Per machine, in Program Files as this CPU's programs see it.
  folder=$("$source_dir/harness/wine-server.sh" run cmd /c 'echo %ProgramFiles%\gradebook' | tr -d '\r')
  exe=$("$source_dir/harness/wine-server.sh" run winepath -u "$folder\gradebook.exe" | tr -d '\r')
  cmp "$work/$name/gradebook.exe" "$exe"
  # Programs and Features shows that folder.
  test "$("$source_dir/harness/wine-server.sh" run reg query "$uninstall_key\\$(property ProductCode)" \
    /v InstallLocation | tr -d '\r' | sed -n 's/^ *InstallLocation *REG_SZ *//p')" = "$folder\\"
  # Wine puts a per-machine package's shortcuts into the user's Start menu, where
  # Windows puts them into everyone's. Its command is the installed program, started
  # in its folder, with the package's icon, and no shell named anywhere in it.
  mapfile -t shortcuts < <(find "$WINEPREFIX/drive_c" -name 'Dziennik ocen.lnk')
  test "${#shortcuts[@]}" = 1
  lnkinfo "${shortcuts[0]}" >"$work/shortcut"
  if grep -iE 'cmd\.exe|powershell|conhost|Command line arguments' "$work/shortcut"; then
    exit 1
  fi
  command=$(shortcut_field 'Local path')
  test "$command" = "$folder\gradebook.exe"
  test "$(shortcut_field 'Working directory')" = "$folder\\"
  shortcut_field 'Icon location' | grep -q '\\gradebook\.ico$'
  # The whole suite through that command, quoted for the tests, which split it as a
  # shell does: Program Files. (Wine opens the shortcut itself in a console window
  # of its own, whose dialogue no script can reach.)
  printf -v quoted %q "$command"
  GRADEBOOK_CRLF=1 suite "$name.msi, installed under Wine, by its Start menu shortcut's command" \
    "$source_dir/harness/wine-server.sh" run "$quoted"
  msiexec_qn x "$msi"
  test -z "$(entries)"
  find "$WINEPREFIX/drive_c" ! -path '*/drive_c/windows/Installer' | sort |
    diff "$work/before" -
  "$source_dir/harness/wine-server.sh" stop
}
targets_each check_msi

# The page, opened from disk, and the site, served on 127.0.0.1, in Chromium, Firefox
# ESR, WebKitGTK and Chromium 64 and 80, and as the oldest browsers it is for, against
# the dialogue of a Linux program that runs here; in Chromium the site installable
# and working offline. This machine has all that test
# needs: it must run, not skip.
echo "== the page and the site: gradebook-$version-web.html, gradebook-$version-site.zip"
unzip -q "gradebook-$version-site.zip" -d "$work"
# Its service worker's cache is this release's, so that it replaces an older one.
grep -qxF "const CACHE = PREFIX + \"$version\";" "$work/gradebook-$version-site/sw.js"
(cd "$source_dir" && GRADEBOOK_PAGE=$dist/gradebook-$version-web.html \
  GRADEBOOK_SITE=$work/gradebook-$version-site GRADEBOOK_REFERENCE=$reference \
  /usr/bin/python3 -m tests.test_web_page) 2>&1 | tee "$work/page.log"
if grep -q 'skipped=' "$work/page.log"; then
  echo "release: the page was not tested" >&2
  exit 1
fi
echo "release $version: every program passed"
