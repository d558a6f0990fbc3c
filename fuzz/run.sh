#!/usr/bin/env bash
# Replays the kept regression inputs of a fuzz target, then fuzzes it for a bounded time from
# its seed corpus. A crashing input is saved beside the build and named in the output: keep it
# in fuzz/regressions/<target>/ once the fault is mended.
# Usage: run.sh TARGET_BINARY SEED_DIR REGRESSION_DIR SECONDS
set -euo pipefail
target=$1 seeds=$2 regressions=$3 seconds=$4
name=$(basename "$target")
work=$(mktemp -d "${TMPDIR:-/tmp}/bramtools-fuzz-XXXXXX")
trap 'rm -rf "$work"' EXIT
crashes="$(dirname "$target")/crashes/$name"
mkdir -p "$crashes" "$work/corpus"

options=(-close_fd_mask=3 -timeout=10 -rss_limit_mb=2048 -max_len=8192 "-artifact_prefix=$crashes/")
if compgen -G "$regressions/*" >/dev/null; then
    "$target" "${options[@]}" "$regressions"/*
fi
# The fuzzer's own lines, one for each input that adds cover, are kept aside: a failure shows
# the end of them, where the fault and the input that made it are named.
if ! "$target" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 "$work/corpus" "$seeds" \
        >"$work/log" 2>&1; then
    tail -n 60 "$work/log"
    exit 1
fi
grep -E '^(Done|stat::)' "$work/log" || true
