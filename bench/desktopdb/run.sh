#!/usr/bin/env bash
# Builds the desktop database benchmark (a release build of its CMake target) and runs it: write, read and print
# of the largest database the format holds, in records per second, and peak memory.
#
#   bash bench/desktopdb/run.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-"$root/build-bench"}
cmake -S "$root" -B "$build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKILNPACK_TESTS=OFF >/dev/null
cmake --build "$build/release" --target DatabaseBench >/dev/null
"$build/release/DatabaseBench" "$build/bench.DS_Store"
