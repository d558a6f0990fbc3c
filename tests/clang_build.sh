#!/usr/bin/env bash
# Configures and builds the clang tree: sanitizers on, fuzz targets on, no nested hardening.
# Usage: clang_build.sh SOURCE_DIR TREE_DIR
set -euo pipefail
cmake -S "$1" -B "$2" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRAMTOOLS_SANITIZE=ON -DBRAMTOOLS_FUZZ=ON \
      -DBRAMTOOLS_HARDENING=OFF -DBRAMTOOLS_WERROR=ON >/dev/null
cmake --build "$2" -j2
