#!/usr/bin/env bash
# Installs into a temporary prefix, and unpacks the Debian package, then runs what landed there
# and checks that the documentation came along.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/bramtools-install-XXXXXX")
export XDG_DATA_HOME=$work/data # dumpscan's glyph book, not the user's
trap 'rm -rf "$work"' EXIT

check_tree() { # root of an installed tree: bin/ and share/man/man1/ below it
    local root=$1
    for page in dumpentry.1 bramarray.1 bramimage.1 dumpscan.1; do
        test -s "$root/share/man/man1/$page" || { echo "missing man page $page in $root"; exit 1; }
    done
    for doc in README.md examples/save.txt examples/save.bin examples/page-1.png; do
        cmp -s "$root/share/doc/bramtools/$doc" "$source/$doc" || { echo "missing $doc in $root"; exit 1; }
    done
    test "$("$root/bin/dumpentry" --version)" = "dumpentry $(cat "$build/version")"
    test "$("$root/bin/bramarray" --version)" = "bramarray $(cat "$build/version")"
    test "$("$root/bin/bramimage" --version)" = "bramimage $(cat "$build/version")"
    test "$("$root/bin/dumpscan" --version)" = "dumpscan $(cat "$build/version")"
    (cd "$work" && "$root/bin/dumpentry" save.bin "$source/examples/save.txt" >/dev/null 2>&1 \
        && cmp save.bin "$source/examples/save.bin" \
        && "$root/bin/bramarray" save.bin >/dev/null && grep -q '^0X3B, 0X01, 0X68, 0XBD' filedata.dat \
        && "$root/bin/bramimage" add image.sav save.bin >/dev/null \
        && "$root/bin/dumpscan" -o scanned.txt "$source"/examples/page-?.png 2>/dev/null \
        && "$root/bin/dumpentry" scanned.bin scanned.txt >/dev/null 2>&1 && cmp scanned.bin save.bin)
    rm -f "$work/save.bin" "$work/filedata.dat" "$work/image.sav" "$work/scanned.txt" "$work/scanned.bin"
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null
check_tree "$work/prefix"

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/bramtools_*.deb)
dpkg-deb -x "$deb" "$work/unpacked"
dpkg-deb -f "$deb" Depends | grep -q tesseract-ocr-eng \
    || { echo "the package does not depend on tesseract-ocr-eng, which dumpscan reads with" >&2; exit 1; }
check_tree "$work/unpacked/usr"
echo "installed and packaged programs work"
