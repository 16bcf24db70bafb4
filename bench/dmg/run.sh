#!/usr/bin/env bash
# Benchmarks building a disk image from a generated ~200 MB tree (thousands of small files, large
# compressible and incompressible ones) through kilnpack, and prints per stage the seconds, MB/s,
# peak resident memory and output size; beside it pigz -9 and -1 on the same raw disk, and our
# UDZO writer alone on that raw disk.
#
#   bash bench/dmg/run.sh [BUILD_DIR] [IMAGE_MB]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-"$root/build-bench"}
image_mb=${2:-320}
for tool in pigz dmg2img /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing (see scripts/deps.sh)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/kilnpack-dmg-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$build"
cmake -S "$root" -B "$build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKILNPACK_TESTS=OFF >/dev/null
cmake --build "$build/release" --target DmgBench >/dev/null
kilnpack=""
if cmake --build "$build/release" --target kilnpack >/dev/null; then
    kilnpack="$build/release/kilnpack"
else
    echo "run.sh: kilnpack does not build; timing the UDZO writer alone" >&2
fi

echo "Generating the tree..."
payload=$("$build/release/DmgBench" generate "$work/tree")
files=$(find "$work/tree" -type f | wc -l)
awk -v f="$files" -v p="$payload" -v m="$image_mb" \
    'BEGIN { printf "Tree: %d files, %.1f MB; disk image of %d MB\n\n", f, p / 1e6, m }'

row() { # name seconds input_bytes rss_kb output_bytes [cpu_seconds]
    awk -v n="$1" -v s="$2" -v i="$3" -v r="$4" -v o="$5" -v c="${6:--}" \
        'BEGIN { printf "%-36s %8.2f %9.1f %10.1f %11.1f %8s\n", n, s, (s > 0 ? i / 1e6 / s : 0), r / 1024, o / 1e6, c }'
}
printf '%-36s %8s %9s %10s %11s %8s\n' "stage" "seconds" "MB/s" "peak MB" "output MB" "CPU s"

raw="$work/raw.img"
if [ -n "$kilnpack" ]; then
    cat > "$work/bench.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<kilnpack version="0.1">
    <image file="bench.dmg" name="Bench" template_size="$image_mb">
        <file source="tree" name="Payload"/>
    </image>
</kilnpack>
XML
    # kilnpack announces each command before running it: the time between announcements is the
    # command's. Its peak memory per command is read from VmHWM, which is reset at every announcement.
    mkfifo "$work/stdout"
    (cd "$work" && exec /usr/bin/time -f "%e %M" -o "$work/kilnpack.time" "$kilnpack" bench.xml \
        >"$work/stdout" 2>"$work/stderr") &
    timer=$!
    exec 3<"$work/stdout"
    pid=""
    stage=""
    declare -A seconds rss
    while IFS= read -r line <&3; do
        now=$EPOCHREALTIME
        if [ -z "$pid" ]; then
            pid=$(cat "/proc/$timer/task/$timer/children" 2>/dev/null | awk '{print $1}')
        fi
        case "$line" in
        "Running Command: "*)
            peak=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
            echo 5 >"/proc/$pid/clear_refs" 2>/dev/null || true
            if [ -n "$stage" ]; then
                seconds[$stage]=$(awk -v a="$now" -v b="$started" 'BEGIN { print a - b }')
                rss[$stage]=$peak
            fi
            stage=""
            case "$line" in
            *"hdiutil detach"*) stage=detach ;;
            *"hdiutil convert"*) stage=convert ;;
            esac
            started=$now
            ;;
        esac
    done
    exec 3<&-
    wait "$timer" || { cat "$work/stderr" >&2; echo "run.sh: kilnpack failed" >&2; exit 1; }
    [ -f "$work/bench.dmg" ] || { cat "$work/stderr" >&2; echo "run.sh: kilnpack made no image" >&2; exit 1; }
    dmg_size=$(stat -c %s "$work/bench.dmg")
    read -r total_seconds total_rss <"$work/kilnpack.time"
    # The raw disk, as the convert stage read it, for the yardsticks.
    dmg2img -i "$work/bench.dmg" -o "$raw" >/dev/null
    raw_size=$(stat -c %s "$raw")
    row "HFS+ write (hdiutil detach)" "${seconds[detach]}" "$payload" "${rss[detach]}" "$raw_size"
    row "convert UDZO level 9 (of raw disk)" "${seconds[convert]}" "$raw_size" "${rss[convert]}" "$dmg_size"
    row "kilnpack whole run" "$total_seconds" "$payload" "$total_rss" "$dmg_size"
else
    # Without kilnpack: a raw disk holding the tree's bytes, files one after another.
    truncate -s "${image_mb}M" "$raw"
    find "$work/tree" -type f -print0 | xargs -0 cat | dd of="$raw" bs=1M seek=1 conv=notrunc status=none
    raw_size=$(stat -c %s "$raw")
fi

# The same raw disk through our writer (which here knows nothing of free space) and through pigz.
for level in 9 1; do
    /usr/bin/time -f "%e %M %U %S" -o "$work/writer.time" "$build/release/DmgBench" convert "$raw" "$work/writer.dmg" \
        "$level" >/dev/null
    read -r secs peak user sys <"$work/writer.time"
    row "UDZO writer level $level (raw disk)" "$secs" "$raw_size" "$peak" "$(stat -c %s "$work/writer.dmg")" \
        "$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')"
    rm -f "$work/writer.dmg"
done
for level in 9 1; do
    /usr/bin/time -f "%e %M %U %S" -o "$work/pigz.time" pigz "-$level" -p 2 -c "$raw" >"$work/raw.gz"
    read -r secs peak user sys <"$work/pigz.time"
    row "pigz -$level -p 2 (raw disk)" "$secs" "$raw_size" "$peak" "$(stat -c %s "$work/raw.gz")" \
        "$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')"
    rm -f "$work/raw.gz"
done
echo
echo "MB/s: of the tree for the HFS+ write and the whole run, of the raw disk otherwise."
echo "Seconds are wall-clock; CPU s (user + system) is steadier on a busy machine."
