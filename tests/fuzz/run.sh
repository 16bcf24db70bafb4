#!/usr/bin/env bash
# Builds the fuzzers (CMake targets, with clang), seeds them, and fuzzes for the given number of
# seconds in all, split between the desktop database reader and "--dump" of disk images. Any crash,
# leak, timeout or oversized allocation makes the script fail; the offending input is kept in BUILD_DIR.
# Disk image seeds come from an image built by the kilnpack program named by KILNPACK_BINARY
# (default build-test/kilnpack), and from two images built to make the reader work hard (each input
# has 10 seconds: slowness is a finding like a crash).
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
image_seconds=$((seconds / 2))
database_seconds=$((seconds - image_seconds))

# Built by CMake with clang; every library instrumented for coverage and sanitized (KILNPACK_FUZZ).
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DKILNPACK_TESTS=OFF -DKILNPACK_FUZZ=ON >/dev/null
cmake --build "$build" --target desktopdb_fuzz image_fuzz
binary="$build/desktopdb_fuzz"
image_binary="$build/image_fuzz"

rm -rf "$build/seeds" "$build/image-seeds"
mkdir -p "$build/seeds" "$build/corpus" "$build/image-seeds" "$build/image-corpus"
KILNPACK_FUZZ_SEED_DIR="$build/seeds" "$binary"

kilnpack=${KILNPACK_BINARY:-$root/build-test/kilnpack}
if [ -x "$kilnpack" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    printf 'picture' > "$work/back.png"
    cat > "$work/seed.xml" <<'XML'
<kilnpack><image file="seed.dmg" name="Seed" open_folder="Sub" template_size="2" finder_records="both">
<file source="back.png" name="back.png" x="10" y="20"/>
<folder name="Sub" x="50" y="60"><view type="icon" width="200" height="100"/></folder>
<view type="icon" width="300" height="200" background="back.png"/></image></kilnpack>
XML
    (cd "$work" && "$kilnpack" seed.xml >/dev/null 2>&1) || true
    if [ -f "$work/seed.dmg" ]; then
        KILNPACK_FUZZ_SEED_DIR="$build/image-seeds" KILNPACK_FUZZ_IMAGE="$work/seed.dmg" "$image_binary"
    fi
fi
[ -f "$build/image-seeds/thrashing-cached" ] || KILNPACK_FUZZ_SEED_DIR="$build/image-seeds" "$image_binary"

# A fixed seed by default keeps CI runs repeatable; set KILNPACK_FUZZ_SEED to explore elsewhere.
# Inputs up to 64 KiB (images up to 256 KiB); a single allocation above 64 MiB or an input taking
# over 10 s counts as a finding, as does total memory above 2 GiB.
"$binary" "$build/corpus" "$build/seeds" \
    -max_total_time="$database_seconds" -max_len=65536 -timeout=10 -seed="${KILNPACK_FUZZ_SEED:-1}" \
    -rss_limit_mb=2048 -malloc_limit_mb=64 \
    -artifact_prefix="$build/" -print_final_stats=1
"$image_binary" "$build/image-corpus" "$build/image-seeds" \
    -max_total_time="$image_seconds" -max_len=262144 -timeout=10 -seed="${KILNPACK_FUZZ_SEED:-1}" \
    -rss_limit_mb=2048 -malloc_limit_mb=64 -close_fd_mask=2 \
    -artifact_prefix="$build/image-" -print_final_stats=1
