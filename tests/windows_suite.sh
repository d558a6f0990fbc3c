#!/usr/bin/env bash
# Runs the tables against the Windows .exe files under wine, one wineserver kept for the whole
# run; the cases that need a POSIX terminal, /dev files or POSIX owners and signals skip
# themselves there.
# Usage: windows_suite.sh TREE_DIR
set -euo pipefail
tree=$1
export WINEPREFIX=$tree/wineprefix WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
wineserver -k 2>/dev/null || true
wineserver -p
trap 'wineserver -k || true' EXIT
wineboot --init >/dev/null 2>&1 || true
ctest --test-dir "$tree/tests" -j2 -L quick -E '^(man_pages|install_and_package)$' --output-on-failure
