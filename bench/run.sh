#!/usr/bin/env bash
# Times bramarray against `xxd -i -u -c 8` on 256 dump files of 65535 random bytes (16 MiB), both writing to disk,
# and against the floor: replacing a file with its own finished output as durably as bramarray
# replaces filedata.dat (a copy beside it, synced, renamed over it, the folder synced). Times
# dumpentry against `xxd -r -p` on a 65535-byte dump, and dumpscan on the 16 captures of a 2 KiB
# save (drawn by the test program), with its peak resident set. Prints the figures and the ratios.
# Usage: bench/run.sh [build folder]   (default: build)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/bramtools-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Median wall time of seven runs, in milliseconds, of a command given as a string. The output
# file named second, if any, is removed before each run, outside the timing, so that no run
# pays for freeing the previous run's output.
median_ms() {
    local times=()
    for _ in 1 2 3 4 5 6 7; do
        if [ -n "${2:-}" ]; then rm -f "$2"; fi
        sync
        local start end
        start=$(date +%s%N)
        bash -c "$1" >/dev/null
        end=$(date +%s%N)
        times+=($(( (end - start) / 1000000 )))
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n 4p
}

# Peak resident set size in KiB of one run of the program itself: no shell in between, whose
# own memory would set a floor under the figure.
peak_kib() {
    /usr/bin/time -o peak.txt -f %M "$@" >/dev/null 2>&1
    cat peak.txt
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }'; }

# A dump file holds 65535 bytes at the most: bramarray packs 256 of them, about 16 MiB, which
# xxd reads as one file.
for part in $(seq 100 355); do head -c 65535 /dev/urandom > "part$part.bin"; done
cat part*.bin > random.bin
xxd_ms=$(median_ms "xxd -i -u -c 8 random.bin > xxd.txt" xxd.txt)
bramarray_ms=$(median_ms "'$build/bramarray' part*.bin 2>/dev/null" filedata.dat)
[ -s filedata.dat ] || { echo "bramarray wrote no filedata.dat" >&2; exit 1; }
cp filedata.dat copy.dat
copy_ms=$(median_ms "cp filedata.dat copy.new && sync copy.new && mv copy.new copy.dat && sync .")
echo "bramarray peak RSS on 65535 bytes: $(peak_kib "$build/bramarray" part100.bin) KiB"
echo "bramarray peak RSS on 256 files of 65535 bytes: $(peak_kib "$build/bramarray" part*.bin) KiB"
echo "bramarray, 16 MiB: ${bramarray_ms} ms; xxd -i -u -c 8: ${xxd_ms} ms;" \
     "ratio $(ratio "$bramarray_ms" "$xxd_ms") (target at most 0.100)"
echo "bramarray, 16 MiB: ${bramarray_ms} ms; a durable copy of its output over another: ${copy_ms} ms;" \
     "ratio $(ratio "$bramarray_ms" "$copy_ms") (target at most 1.300)"

head -c 65535 random.bin > dump.bin
xxd -p -c 8 dump.bin > digits.txt
{ echo "00 FF FF"; cat digits.txt; } > typed.txt
dumpentry_ms=$(median_ms "'$build/dumpentry' out.bin typed.txt 2>/dev/null" out.bin)
xxd_r_ms=$(median_ms "xxd -r -p digits.txt xxd.bin" xxd.bin)
cmp -s out.bin dump.bin || { echo "dumpentry gave other bytes than the dump" >&2; exit 1; }
echo "dumpentry, 65535 bytes: ${dumpentry_ms} ms; xxd -r -p: ${xxd_r_ms} ms;" \
     "ratio $(ratio "$dumpentry_ms" "$xxd_r_ms")"

mkdir pages
BENCH_PAGES="$work/pages" "$build/tests/bramtools_tests" --gtest_also_run_disabled_tests \
    --gtest_filter='*DISABLED_draw_bench_pages' >/dev/null
dumpscan_ms=$(median_ms "'$build/dumpscan' --no-glyphs -o scanned.txt pages/page-*.jpg 2>/dev/null" scanned.txt)
cmp -s scanned.txt pages/expected.txt || { echo "dumpscan read other digits than the pages show" >&2; exit 1; }
echo "dumpscan, 16 captures of a 2 KiB save: ${dumpscan_ms} ms (target under 2000);" \
     "peak RSS $(peak_kib "$build/dumpscan" --no-glyphs -o scanned.txt pages/page-*.jpg) KiB (target under 204800)"
