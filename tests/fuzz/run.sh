#!/usr/bin/env bash
# Builds the desktop database reader fuzzer with clang, seeds it with files the writer makes,
# and fuzzes for the given number of seconds. Any crash, leak, timeout or oversized allocation
# makes the script fail; the offending input is kept in BUILD_DIR.
#
#   bash tests/fuzz/run.sh BUILD_DIR SECONDS
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR SECONDS" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$1"
build=$(cd "$1" && pwd)
seconds=$2

binary="$build/desktopdb_fuzz"
clang++ -std=c++17 -g -O1 -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -Wall -Wextra -I"$root/src" \
    "$root/tests/fuzz/ReadFromDiskFuzz.cpp" "$root"/src/desktopdb/*.cpp "$root/src/hfsplus/HfsNames.cpp" \
    $(pkg-config --cflags --libs icu-uc) -o "$binary"

rm -rf "$build/seeds"
mkdir -p "$build/seeds" "$build/corpus"
KILNPACK_FUZZ_SEED_DIR="$build/seeds" "$binary"

# A fixed seed by default keeps CI runs repeatable; set KILNPACK_FUZZ_SEED to explore elsewhere.
# Inputs up to 64 KiB; a single allocation above 64 MiB or an input taking over 10 s counts as
# a finding, as does total memory above 2 GiB.
"$binary" "$build/corpus" "$build/seeds" \
    -max_total_time="$seconds" -max_len=65536 -timeout=10 -seed="${KILNPACK_FUZZ_SEED:-1}" \
    -rss_limit_mb=2048 -malloc_limit_mb=64 \
    -artifact_prefix="$build/" -print_final_stats=1
