#!/usr/bin/env bash
# Cross-builds the programs for Windows with MinGW-w64 and packs the Windows zip, then
# configures and builds a native test tree whose tables run those .exe files under wine.
# Usage: windows_build.sh SOURCE_DIR TREE_DIR
set -euo pipefail
source=$1 tree=$2
cmake -S "$source" -B "$tree/exe" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64-x86_64.cmake" \
      -DBUILD_TESTING=OFF -DBRAMTOOLS_WERROR=ON >/dev/null
cmake --build "$tree/exe" -j2
for program in dumpentry bramarray bramimage; do
    if x86_64-w64-mingw32-objdump -p "$tree/exe/$program.exe" | grep 'DLL Name' | grep -qviE 'kernel32|msvcrt|shell32'; then
        echo "$program.exe needs a DLL that Windows does not have"; exit 1
    fi
done
(cd "$tree/exe" && cpack -G ZIP >/dev/null)
zip=$tree/exe/bramtools-$(cat "$tree/../version")-windows-x86_64.zip
contents=$(cmake -E tar tf "$zip")
for file in dumpentry.exe bramarray.exe bramimage.exe README.md examples/save.txt examples/save.bin; do
    grep -q "/$file\$" <<<"$contents" || { echo "$file is missing from $zip"; exit 1; }
done
cmake -S "$source" -B "$tree/tests" -DBUILD_TESTING=ON -DBRAMTOOLS_HARDENING=OFF \
      -DBRAMTOOLS_WINDOWS_PROGRAMS="$tree/exe" >/dev/null
cmake --build "$tree/tests" -j2 --target bramtools_tests
echo "Windows programs built, zip packed, test tree ready"
