#!/usr/bin/env bash
# Renders each man page and fails on any warning from groff or man.
set -euo pipefail
for page in "$@"; do
    warnings=$( { groff -man -ww -z -Tutf8 "$page"; MANWIDTH=80 man --warnings -l "$page" >/dev/null; } 2>&1 )
    if [ -n "$warnings" ]; then
        echo "$page:"; echo "$warnings"; exit 1
    fi
    MANWIDTH=80 man -l "$page" | grep -q 'EXIT STATUS' || { echo "$page did not render"; exit 1; }
done
echo "man pages render without warnings"
