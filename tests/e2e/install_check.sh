#!/usr/bin/env bash
# Installs the program's component from the build folder $1 into a scratch
# prefix and checks what lands there: the program, a desktop entry that
# starts it and names its icon, and the icon.
set -euo pipefail
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tarvelo-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" --component tarvelo >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
[ -x "$prefix/bin/tarvelo" ] || fail "no program in bin/"
entry=$prefix/share/applications/tarvelo.desktop
[ -f "$entry" ] || fail "no desktop entry"
grep -qx 'Type=Application' "$entry" || fail "the desktop entry is not an application"
grep -qx 'Exec=tarvelo' "$entry" || fail "the desktop entry does not start tarvelo"
grep -qx 'Icon=tarvelo' "$entry" || fail "the desktop entry names no icon"
icon=$prefix/share/icons/hicolor/scalable/apps/tarvelo.svg
[ -f "$icon" ] || fail "no icon"
grep -q '<svg' "$icon" || fail "the icon is not an SVG image"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry"
fi
extra=$(cd "$prefix" && find . -type f ! -path ./bin/tarvelo ! -path ./share/applications/tarvelo.desktop \
    ! -path ./share/icons/hicolor/scalable/apps/tarvelo.svg)
[ -z "$extra" ] || fail "unexpected files installed: $extra"
echo "PASS: program, desktop entry and icon installed"
