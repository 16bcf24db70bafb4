#!/usr/bin/env bash
# Benchmarks what a whole build costs beside its payload, for whichever engine the binary has (the
# same script gives the figures before and after a change of engine): bytes written by the build and
# every program it ran (/usr/bin/time %O), the peak disk space it used beyond the finished image
# (the temporary and output folders sampled with du), its peak resident memory and its time. Cases:
# an app-like payload at UDZO (zlib level 9) beside pigz -9 -p2 over a tar of it and beside cp -r,
# 100,000 small files in one folder beside cp -r, and 20,000 links listed in one configuration.
# The targets each figure is held against are printed beside it.
#
#   bash bench/stream/run.sh [BUILD_DIR] [SCALE_PERCENT]
# SCALE_PERCENT (default 100) shrinks every case: 5 gives a 12 MB app, 5,000 files and 1,000 links.
# With KILNPACK=/path/to/kilnpack that binary is measured instead of a fresh Release build; with
# BEFORE_APP_SECONDS=S the app's time is also given as a share of S (the figure of the build before).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-"$root/build-bench"}
scale=${2:-100}
for tool in pigz tar /usr/bin/time du; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing (see scripts/deps.sh)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/kilnpack-stream-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

. "$root/bench/kilnpack-binary.sh"
app_mb=$((245 * scale / 100))
files=$((100000 * scale / 100))
links=$((20000 * scale / 100))

# App-like payload: the first APP_MB of regular files under these folders, in a stable order.
mkdir -p "$work/app"
find /usr/lib /usr/bin /usr/share/locale /usr/share/doc -xdev -type f -size +0 -readable -printf '%s %p\n' \
    2>/dev/null | LC_ALL=C sort -k2 >"$work/all.txt"
awk -v limit=$((app_mb * 1000000)) '{ total += $1; if (total > limit) exit; print substr($0, index($0, " ") + 1) }' \
    "$work/all.txt" >"$work/files.txt"
tar -cf - -T "$work/files.txt" 2>/dev/null | tar -xf - -C "$work/app"
mkdir -p "$work/many"
(cd "$work/many" && seq -f "file%06g.txt" 1 "$files" | xargs -n 1000 sh -c 'for f; do printf x >"$f"; done' sh)
sync

write_config() { # file image source-xml
    cat >"$work/$1" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<kilnpack version="0.1">
    <image file="out/$2" name="Bench" template_size="auto">
$3
    </image>
</kilnpack>
XML
}
write_config app.xml app.dmg '        <file source="app" name="App.app" x="160" y="190"/>'
write_config many.xml many.dmg '        <file source="many" name="Files"/>'
write_config links.xml links.dmg "$(seq -f '        <link target="/Applications" name="Link %06g"/>' 1 "$links")"

# Runs one configuration with its temporary folder and output folder sampled; sets the figures.
measure() { # config
    rm -rf "$work/out" "$work/tmp" && mkdir -p "$work/out" "$work/tmp"
    (cd "$work" && TMPDIR="$work/tmp" exec /usr/bin/time -f "%e %M %O" -o "$work/time" "$kilnpack" "$1" \
        >"$work/stdout" 2>"$work/stderr") &
    local pid=$! peak=0 now
    while kill -0 "$pid" 2>/dev/null; do
        # du fails when a file goes while it counts (the staging folder being removed): not an error.
        now=$({ du -sk "$work/out" "$work/tmp" 2>/dev/null || true; } | awk '{ s += $1 } END { print s + 0 }')
        [ "$now" -gt "$peak" ] && peak=$now
        sleep 0.2
    done
    wait "$pid" || { echo "run.sh: kilnpack failed on $1:" >&2; cat "$work/stderr" >&2; exit 1; }
    read -r seconds rss blocks <"$work/time"
    output_bytes=$(stat -c %s "$work/out/"*.dmg)
    written_bytes=$((blocks * 512))
    beyond_kb=$((peak - $(du -sk "$work/out" | cut -f1)))
    [ "$beyond_kb" -lt 0 ] && beyond_kb=0
    rss_kb=$rss
}

timed() { # command...: sets seconds
    local started=$EPOCHREALTIME
    "$@"
    seconds=$(awk -v a="$EPOCHREALTIME" -v b="$started" 'BEGIN { printf "%.2f", a - b }')
}

report() { # label
    awk -v n="$1" -v s="$seconds" -v w="$written_bytes" -v o="$output_bytes" -v d="$beyond_kb" -v r="$rss_kb" 'BEGIN {
        printf "%s\n", n
        printf "  %-34s %9.2f s\n", "time", s
        printf "  %-34s %9.1f MB   target <= %.1f MB (1.1 x output + 16 MB)\n", "bytes written by the build", w / 1e6, (1.1 * o + 16e6) / 1e6
        printf "  %-34s %9.1f MB\n", "output", o / 1e6
        printf "  %-34s %9.1f MB   target <= 64 MB\n", "peak disk beyond the output", d / 1024
        printf "  %-34s %9.1f MB   target <= 64 MB\n", "peak resident memory", r / 1024
    }'
}

echo "kilnpack: $kilnpack; scale $scale%"
echo
measure app.xml
app_seconds=$seconds
report "App of $(du -sm "$work/app" | cut -f1) MB, $(wc -l <"$work/files.txt") files, UDZO level 9"
timed sh -c "tar -cf - -C '$work' app | pigz -9 -p2 >'$work/app.tar.gz'"
pigz_seconds=$seconds
timed cp -r "$work/app" "$work/app-copy"
cp_seconds=$seconds
rm -rf "$work/app-copy" "$work/app.tar.gz"
awk -v k="$app_seconds" -v p="$pigz_seconds" -v c="$cp_seconds" -v b="${BEFORE_APP_SECONDS:-}" 'BEGIN {
    printf "  %-34s %9.2f s    kilnpack / pigz = %.2f, target <= 0.15\n", "tar | pigz -9 -p2", p, k / p
    printf "  %-34s %9.2f s\n", "cp -r", c
    if (b != "") printf "  %-34s %9.2f    target <= 0.70\n", "kilnpack / before", k / b
    else printf "  %-34s %9s    target <= 0.70 (give BEFORE_APP_SECONDS)\n", "kilnpack / before", "-"
}'
echo
measure many.xml
many_seconds=$seconds
report "$files small files in one folder"
timed cp -r "$work/many" "$work/many-copy"
rm -rf "$work/many-copy"
awk -v k="$many_seconds" -v c="$seconds" 'BEGIN {
    printf "  %-34s %9.2f s    kilnpack / cp -r = %.2f, target <= 1\n", "cp -r", c, k / c }'
echo
measure links.xml
report "$links links listed in one configuration (no positions)"
awk -v s="$seconds" -v n="$links" 'BEGIN {
    printf "  %-34s %9.2f s    target <= %.2f s (5 s for 20,000)\n", "time", s, 5 * n / 20000 }'
echo
echo "Wall-clock seconds move with the machine's load; the du sampling (every 0.2 s) adds some."
