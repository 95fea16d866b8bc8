#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
# Checks the RPM that the source package makes, as a packager and a user get it:
# rpmbuild -tb as a user other than root, twice, to the same bytes; rpmlint clean
# but for the exceptions of packaging/rpmlint.toml; installed with rpm into an
# empty root, its files, version and changelog; and the whole suite run on the
# program installed there. Run as root (CI does).
# Usage: release-checks/rebuild-rpm.sh gradebook-VERSION-source.tar.gz
set -euo pipefail
export LC_ALL=C
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
version=$(dpkg-parsechangelog -l "$source_dir/packaging/changelog" -S Version)
cp "$1" "$work/"
source_package=$work/$(basename "$1")

# Built by nobody, twice in the same folder, as a distribution builds its packages
# (the debugging information names the folder). --nodeps: this machine's rpm
# database is empty, so nothing it has counts as the BuildRequires.
top=$work/rpmbuild
build() {
  rm -rf "$top"
  mkdir "$top"
  chown 65534:65534 "$top"
  if ! setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$top" \
    rpmbuild -tb --nodeps --define "_topdir $top" "$source_package" >"$work/rpmbuild.log" 2>&1; then
    cat "$work/rpmbuild.log" >&2
    echo "rpm: rpmbuild -tb failed" >&2
    exit 1
  fi
  grep -E '^(Wrote: |[0-9]+% tests passed)' "$work/rpmbuild.log" | sed "s,$top/,,"
}
build
mv "$top/RPMS" "$work/first"
build
(cd "$work/first" && find . -name '*.rpm' | sort) >"$work/rpms"
test -s "$work/rpms"
while read -r rpm; do
  cmp "$work/first/$rpm" "$top/RPMS/$rpm"
done <"$work/rpms"
echo "rpm: two builds made the same bytes: $(tr '\n' ' ' <"$work/rpms")"
# Compiled with the distribution's flags, as rpm gives them to the build's user,
# and not with the build type's own optimisation.
flags=$(setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$top" rpm --eval '%{optflags}')
grep -e '-c [^ ]*/src/gradebook.cpp' "$work/rpmbuild.log" >"$work/compile"
grep -qF -- " $flags " "$work/compile"
if grep -e ' -O3 ' "$work/compile"; then exit 1; fi
echo "rpm: compiled with rpm's flags: $flags"
rpm=$(echo "$top"/RPMS/*/"gradebook-$version-1."*.rpm)

# rpmlint on the package and on its build recipe as the source package holds it.
tar -xzf "$source_package" -C "$work" --wildcards '*/gradebook.spec'
rpmlint --config "$source_dir/packaging/rpmlint.toml" "$rpm" \
  "$work/gradebook-$version-source/gradebook.spec" | tee "$work/rpmlint.log"
grep -q ' 0 errors, 0 warnings' "$work/rpmlint.log"

# The version and the changelog are packaging/changelog's, its newest entry first.
test "$(rpm -qp --qf '%{VERSION}' "$rpm")" = "$version"
first=$(sed -n 's/^  \* //p' "$source_dir/packaging/changelog" | head -n 1)
rpm -qp --changelog "$rpm" | sed -n 2p | grep -xF -- "- $first"

# Installed into an empty root: the program, its manual pages, README, changelog and
# licence, nothing else; with the C and C++ libraries it links, the suite runs it
# there as a user's system would.
root=$work/root
rpm -i --nodeps --root "$root" "$rpm"
rpm --root "$root" -ql gradebook | diff - <(printf '%s\n' /usr/bin/gradebook \
  /usr/share/doc/gradebook /usr/share/doc/gradebook/CHANGELOG.md \
  /usr/share/doc/gradebook/README.md /usr/share/licenses/gradebook \
  /usr/share/licenses/gradebook/LICENSE /usr/share/man/man1/gradebook.1.gz \
  /usr/share/man/pl/man1/gradebook.1.gz)
cmp "$root/usr/share/licenses/gradebook/LICENSE" "$source_dir/LICENSE"
ldd "$root/usr/bin/gradebook" | grep -o '/[^ ]*' | while read -r library; do
  mkdir -p "$root$(dirname "$library")"
  cp "$library" "$root$library"
done
# shellcheck source=release-checks/suite.sh
source "$source_dir/release-checks/suite.sh"
suite "the RPM, in its root" unshare --map-root-user --root="$root" /usr/bin/gradebook
# Without a launcher, the tests of flush points and resource limits apply too.
suite "the RPM, as installed" "$root/usr/bin/gradebook"
echo "rpm: gradebook $version built, checked and installed"
