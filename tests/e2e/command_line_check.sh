#!/usr/bin/env bash
# --help and --version print and end the program before any display is
# needed: no DISPLAY, no WAYLAND_DISPLAY, no QT_QPA_PLATFORM.
# Usage: command_line_check.sh PROGRAM
set -euo pipefail

PROGRAM=$1
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$PROGRAM" "$@" 2>&1; }

out=$(run --version) || { echo "FAIL: --version ended with $?: $out"; exit 1; }
[[ $out =~ ^tarvelo\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "FAIL: --version printed '$out'"; exit 1; }
out=$(run --help) || { echo "FAIL: --help ended with $?: $out"; exit 1; }
[[ $out == "Uso: tarvelo [--help | --version]"* ]] || { echo "FAIL: --help printed '$out'"; exit 1; }
echo "PASS: --version and --help answered without a display"
