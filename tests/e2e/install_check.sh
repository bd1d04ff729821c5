#!/usr/bin/env bash
# What an installation puts in place for the program: the program, a desktop
# entry that starts it and names its icon, the icon, the AppStream metainfo,
# the manual pages, the copyright and the changelog, and nothing else.
#
#   install_check.sh BUILD            cmake --install of BUILD into a scratch prefix
#   install_check.sh --package BUILD  the Debian package built from BUILD (a Release
#                                     build): lintian, the metadata validators, apt's
#                                     view of its dependencies, then dpkg installs it
#                                     into a scratch root, never over this machine's
#                                     files, and the installed program shows its window
set -euo pipefail

package=false
if [ "$1" = --package ]; then
    package=true
    shift
fi
build=$(cd "$1" && pwd)

# shellcheck source=harness.sh
source "$(dirname "$0")/harness.sh"

expected_files() {
    cat <<'LIST'
./bin/tarvelo
./share/applications/tarvelo.desktop
./share/doc/tarvelo/changelog.gz
./share/doc/tarvelo/copyright
./share/icons/hicolor/scalable/apps/tarvelo.svg
./share/man/es/man1/tarvelo.1.gz
./share/man/man1/tarvelo.1.gz
./share/metainfo/org.tarvelo.Tarvelo.metainfo.xml
LIST
}

# Checks the files installed under the prefix $1.
check_tree() {
    local prefix=$1
    [ -x "$prefix/bin/tarvelo" ] || fail "no program in bin/"
    local entry=$prefix/share/applications/tarvelo.desktop
    grep -qx 'Type=Application' "$entry" || fail "the desktop entry is not an application"
    grep -qx 'Exec=tarvelo' "$entry" || fail "the desktop entry does not start tarvelo"
    grep -qx 'Icon=tarvelo' "$entry" || fail "the desktop entry names no icon"
    desktop-file-validate "$entry" || fail "desktop-file-validate rejects the desktop entry"
    grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/tarvelo.svg" || fail "the icon is not an SVG image"
    appstreamcli validate --no-net "$prefix/share/metainfo/org.tarvelo.Tarvelo.metainfo.xml" >/dev/null ||
        fail "appstreamcli rejects the metainfo file"
    zcat "$prefix/share/man/es/man1/tarvelo.1.gz" | grep -q '^\.SH DESCRIPCIÓN' || fail "no Spanish manual page"
    local found
    found=$(cd "$prefix" && find . -type f | LC_ALL=C sort)
    [ "$found" = "$(expected_files)" ] || fail "installed files differ: $(diff <(expected_files) - <<<"$found")"
}

if ! $package; then
    prefix=$HARNESS_WORK/prefix
    cmake --install "$build" --prefix "$prefix" --component tarvelo >/dev/null
    check_tree "$prefix"
    echo "PASS: program, desktop entry, icon, metainfo, manual pages and documents installed"
    exit 0
fi

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tarvelo_*.deb)

# No errors and no warnings; information tags are not checked.
tags=$(lintian "$deb" 2>&1 | grep -E '^[EW]: ' || true)
[ -z "$tags" ] || fail "lintian: $tags"

control=$(dpkg-deb -f "$deb")
grep -q '^Depends:.*fonts-liberation2' <<<"$control" || fail "the package does not depend on the fonts"
dpkg-deb --fsys-tarfile "$deb" | tar -x -O ./usr/bin/tarvelo >"$HARNESS_WORK/packaged"
file "$HARNESS_WORK/packaged" | grep -q ', stripped' || fail "the packaged program is not stripped"

# Hardened: position-independent, bound at start-up with a read-only
# relocation table, stack canaries, and compiled with the checked functions.
dynamic=$(readelf -dW "$HARNESS_WORK/packaged")
grep -q 'FLAGS.*BIND_NOW' <<<"$dynamic" || fail "the program is not bound at start-up (-z now)"
grep -q 'FLAGS_1.*PIE' <<<"$dynamic" || fail "the program is not position-independent"
grep -q GNU_RELRO <<<"$(readelf -lW "$HARNESS_WORK/packaged")" || fail "the program has no read-only relocations (-z relro)"
grep -q __stack_chk_fail <<<"$(readelf --dyn-syms -W "$HARNESS_WORK/packaged")" || fail "the program has no stack protector"
grep -q -- '-D_FORTIFY_SOURCE=2' "$build/compile_commands.json" || fail "the build does not fortify sources"

# apt resolves the dependencies from this machine's package lists.
apt-get install --simulate "$deb" >"$HARNESS_WORK/apt.out" 2>&1 ||
    fail "apt cannot install the package: $(tail -n5 "$HARNESS_WORK/apt.out")"

# A scratch root of its own: the package's dependencies are this machine's.
root=$HARNESS_WORK/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg --root="$root" --force-depends -i "$deb" >"$HARNESS_WORK/dpkg.out" 2>&1 ||
    fail "dpkg could not install the package: $(tail -n5 "$HARNESS_WORK/dpkg.out")"
check_tree "$root/usr"

BIN=$root/usr/bin
start_display
QT_QPA_PLATFORM=xcb start_program
echo "PASS: the package passes lintian and the validators, installs, and its program shows its window"
