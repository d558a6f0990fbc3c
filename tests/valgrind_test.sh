#!/usr/bin/env bash
# A few end-to-end runs under valgrind: a full 64 KiB dump, a missing input, an input that
# ends early, packing the dump, and a save carried into an image and out again. Any memory
# error fails; the programs' own statuses are kept.
# Usage: valgrind_test.sh DUMPENTRY BRAMARRAY BRAMIMAGE
set -uo pipefail
dumpentry=$1 bramarray=$2 bramimage=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/bramtools-valgrind-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c 65535 /dev/urandom > dump.bin
{ echo "00 FF FF"; xxd -p -c 8 dump.bin; } > typed.txt
printf '00 FF FF\n0011223344556677\n' > early.txt

failed=0
expect() { # STATUS COMMAND...: runs the command under valgrind and checks its status
    local want=$1; shift
    valgrind -q --error-exitcode=99 --leak-check=no "$@" >/dev/null 2>valgrind.log
    local got=$?
    if [ "$got" != "$want" ]; then
        echo "FAIL: $* gave status $got, expected $want"; cat valgrind.log; failed=1
    fi
}
expect 0 "$dumpentry" out.bin typed.txt
cmp -s out.bin dump.bin || { echo "FAIL: the 64 KiB dump came out different"; failed=1; }
expect 3 "$dumpentry" out2.bin missing.txt
expect 4 "$dumpentry" out3.bin early.txt
expect 0 "$bramarray" out.bin
expect 1 "$bramarray" out.bin missing.bin
printf '\x14\x00\x07\xFE\x00\x00SAVE      \x01\x02\x03\x04' > save.bin
printf '\x14\x00\x06\xFE\x01\x00SAVE      \x01\x02\x03\x04' > save2.bin
expect 0 "$bramimage" add image.sav save.bin
expect 3 "$bramimage" add image.sav save.bin
expect 0 "$bramimage" list image.sav
mkdir out && expect 0 "$bramimage" extract image.sav out
cmp -s out/SAVE.bin save.bin || { echo "FAIL: the save came out of the image different"; failed=1; }
expect 0 "$bramimage" remove image.sav 1
expect 0 "$bramimage" list save.bin
gzip -c image.sav > packed.sav && expect 0 "$bramimage" add packed.sav save2.bin
expect 2 "$bramimage" list typed.txt
[ "$failed" = 0 ] && echo "valgrind found nothing"
exit "$failed"
