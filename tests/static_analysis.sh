#!/usr/bin/env bash
# Every header compiles on its own; cppcheck and clang-tidy over the programs and the fuzz
# targets. Any finding fails.
# Usage: static_analysis.sh SOURCE_DIR BUILD_DIR (the build folder holds compile_commands.json)
set -euo pipefail
source=$1 build=$2
cd "$source"
programs=(common/bramtools.cpp common/bram_file.cpp common/bram_image.cpp common/safe_files.cpp common/text_encoding.cpp common/system_posix.cpp dumpentry/dumpentry.cpp dumpentry/reader.cpp
          dumpentry/plain.cpp dumpentry/transcript.cpp dumpentry/mend.cpp dumpentry/line_editor.cpp dumpentry/line_editor_posix.cpp
          bramarray/bramarray.cpp bramimage/bramimage.cpp dumpscan/dumpscan.cpp dumpscan/page.cpp dumpscan/glyphs.cpp
          dumpscan/settle.cpp)

for header in common/*.h dumpentry/*.h bramarray/*.h bramimage/*.h dumpscan/*.h; do
    c++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -x c++ "$header"
done
echo "headers: each compiles on its own"

cppcheck --std=c++17 --enable=warning,style,performance,portability --library=tests/cppcheck.cfg \
         --inline-suppr --error-exitcode=1 --quiet -I common common dumpentry bramarray bramimage dumpscan fuzz
echo "cppcheck: no findings"

if ! report=$(clang-tidy -p "$build" --quiet "${programs[@]}" 2>&1); then
    echo "$report" | grep -v 'warnings generated'
    exit 1
fi
echo "clang-tidy: no findings"
