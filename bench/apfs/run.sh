#!/usr/bin/env bash
# Builds one generated ~200 MB tree (thousands of small files, large compressible and
# incompressible ones) into a UDZO image twice, on an HFS+ and on an APFS volume, and prints for
# each the seconds, peak resident memory, image size and bytes written to disk during the build.
#
#   bash bench/apfs/run.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-"$root/build-bench"}
command -v /usr/bin/time >/dev/null || { echo "run.sh: /usr/bin/time is missing (see scripts/deps.sh)" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/kilnpack-apfs-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$build"
cmake -S "$root" -B "$build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKILNPACK_TESTS=OFF >/dev/null
cmake --build "$build/release" --target DmgBench kilnpack >/dev/null
payload=$("$build/release/DmgBench" generate "$work/tree")
files=$(find "$work/tree" -type f | wc -l)
awk -v f="$files" -v p="$payload" 'BEGIN { printf "Tree: %d files, %.1f MB; UDZO, template_size=auto\n\n", f, p / 1e6 }'
printf '%-8s %8s %10s %10s %12s\n' "volume" "seconds" "peak MB" "image MB" "written MB"
for fs in HFS+ APFS; do
    cat > "$work/config.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<kilnpack version="0.1">
    <image file="$work/out.dmg" name="Bench" template_size="auto" filesystem="$fs">
        <file source="$work/tree" name="Payload"/>
    </image>
</kilnpack>
XML
    rm -f "$work/out.dmg"
    # %O: file system outputs in 512-byte units (what reached the disk, the sparse image included).
    (cd "$work" && TMPDIR="$work" /usr/bin/time -f '%e %M %O' -o "$work/time.txt" \
        "$build/release/kilnpack" config.xml >/dev/null 2>"$work/errors.txt") ||
        { cat "$work/errors.txt" >&2; exit 1; }
    read -r seconds rss outputs <"$work/time.txt"
    size=$(stat -c %s "$work/out.dmg")
    awk -v n="$fs" -v s="$seconds" -v r="$rss" -v i="$size" -v o="$outputs" \
        'BEGIN { printf "%-8s %8.2f %10.1f %10.1f %12.1f\n", n, s, r / 1024, i / 1e6, o * 512 / 1e6 }'
done
