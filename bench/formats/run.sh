#!/usr/bin/env bash
# Benchmarks the image formats on the same volume bytes: builds an auto-sized image of an app-like
# payload (program binaries, libraries, documentation and translations taken from this system),
# takes its raw disk, and converts that disk to UDZO, UDBZ, ULMO and UDRO with our writer, beside the
# standard tool for each compression on 2 threads (pigz -9, pbzip2 -9, xz -T2 -6). For ULMO it also
# gives what xz -6 makes of the same 1 MiB chunks, the most that chunked LZMA can reach.
#
#   bash bench/formats/run.sh [BUILD_DIR] [PAYLOAD_MB]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-"$root/build-bench"}
payload_mb=${2:-265}
for tool in pigz pbzip2 xz dmg2img /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing (see scripts/deps.sh)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/kilnpack-formats-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake -S "$root" -B "$build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKILNPACK_TESTS=OFF >/dev/null
cmake --build "$build/release" --target kilnpack DmgBench >/dev/null

# App-like payload: the first PAYLOAD_MB of regular files under these folders, in a stable order.
mkdir -p "$work/payload"
find /usr/lib /usr/bin /usr/share/locale /usr/share/doc -xdev -type f -size +0 -readable -printf '%s %p\n' \
    2>/dev/null | LC_ALL=C sort -k2 >"$work/all.txt"
awk -v limit=$((payload_mb * 1000000)) '{ total += $1; if (total > limit) exit; print substr($0, index($0, " ") + 1) }' \
    "$work/all.txt" >"$work/files.txt"
tar -cf - -T "$work/files.txt" 2>/dev/null | tar -xf - -C "$work/payload"
payload=$(du -sb "$work/payload" | cut -f1)

cat > "$work/bench.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<kilnpack version="0.1">
    <image file="bench.dmg" name="Bench" template_size="auto" format="UDRO">
        <file source="payload" name="Payload"/>
    </image>
</kilnpack>
XML
(cd "$work" && "$build/release/kilnpack" bench.xml >/dev/null 2>"$work/stderr") ||
    { cat "$work/stderr" >&2; exit 1; }
raw="$work/raw.img"
dmg2img -i "$work/bench.dmg" -o "$raw" >/dev/null
raw_size=$(stat -c %s "$raw")
awk -v p="$payload" -v r="$raw_size" 'BEGIN { printf "Payload %.1f MB; auto-sized raw disk %.1f MB\n\n", p / 1e6, r / 1e6 }'

printf '%-34s %8s %8s %11s %8s\n' "what" "seconds" "CPU s" "output MB" "ratio"
udzo_size=""
row() { # name seconds cpu bytes
    [ -n "$udzo_size" ] || udzo_size=$4
    awk -v n="$1" -v s="$2" -v c="$3" -v o="$4" -v u="$udzo_size" \
        'BEGIN { printf "%-34s %8.2f %8.2f %11.2f %8.3f\n", n, s, c, o / 1e6, o / u }'
}
timed() { # name output command...
    local name=$1 output=$2
    shift 2
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null
    read -r secs user sys <"$work/time"
    row "$name" "$secs" "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" "$(stat -c %s "$output")"
}
timed_pipe() { # name output shell-command
    /usr/bin/time -f "%e %U %S" -o "$work/time" bash -c "$3" >/dev/null
    read -r secs user sys <"$work/time"
    row "$1" "$secs" "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" "$(stat -c %s "$2")"
}

timed "UDZO (our writer)" "$work/o.dmg" "$build/release/DmgBench" convert "$raw" "$work/o.dmg" 9 UDZO
timed_pipe "pigz -9 -p 2" "$work/o.gz" "pigz -9 -p 2 -c '$raw' > '$work/o.gz'"
timed "UDBZ (our writer)" "$work/o.dmg" "$build/release/DmgBench" convert "$raw" "$work/o.dmg" 9 UDBZ
timed_pipe "pbzip2 -9 -p2" "$work/o.bz2" "pbzip2 -9 -p2 -c '$raw' > '$work/o.bz2'"
timed "ULMO (our writer)" "$work/o.dmg" "$build/release/DmgBench" convert "$raw" "$work/o.dmg" 9 ULMO
timed_pipe "xz -T2 -6" "$work/o.xz" "xz -T2 -6 -c '$raw' > '$work/o.xz'"
timed_pipe "xz -6 (whole stream, 1 thread)" "$work/o1.xz" "xz -T1 -6 -c '$raw' > '$work/o1.xz'"
mkdir "$work/chunks"
split -b 1M -a 4 "$raw" "$work/chunks/c"
timed_pipe "xz -6 of each 1 MiB chunk, 2 jobs" "$work/chunks.size" \
    "ls '$work/chunks'/c* | xargs -P 2 -n 16 xz -6 -k && cat '$work/chunks'/*.xz > '$work/chunks.size'"
timed "UDRO (our writer)" "$work/o.dmg" "$build/release/DmgBench" convert "$raw" "$work/o.dmg" 9 UDRO
echo
echo "ratio: output size over UDZO's. CPU s is user + system time, steadier on a busy machine."
