#!/usr/bin/env bash
# Builds the desktop database benchmark with optimisation and runs it: write, read and print
# of the largest database the format holds, in records per second, and peak memory.
#
#   bash bench/desktopdb/run.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-"$root/build-bench"}
mkdir -p "$build"
g++ -std=c++17 -O2 -DNDEBUG -Wall -Wextra -I"$root/src" \
    "$root/bench/desktopdb/DatabaseBench.cpp" "$root"/src/desktopdb/*.cpp -o "$build/desktopdb_bench"
"$build/desktopdb_bench" "$build/bench.DS_Store"
