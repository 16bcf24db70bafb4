#!/usr/bin/env bash
# Benchmarks kilnpack where the work is out of proportion to the payload: an empty volume of the
# largest template size (16777215 MB) and 100,000 one-byte files in one folder. Prints per case the
# wall-clock seconds, CPU seconds (user + system) and the peak resident memory of the whole run, and
# the seconds of each step (the time between two "Running Command:" lines).
#
#   bash bench/scale/run.sh [BUILD_DIR] [FILES]
# With KILNPACK=/path/to/kilnpack that binary is measured instead of a fresh Release build (to
# compare with an older build).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-"$root/build-bench"}
files=${2:-100000}
[ -x /usr/bin/time ] || { echo "run.sh: /usr/bin/time is missing (see scripts/deps.sh)" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/kilnpack-scale-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

. "$root/bench/kilnpack-binary.sh"

mkdir -p "$work/many"
(cd "$work/many" && seq -f "file%06g.txt" 1 "$files" | xargs -n 1000 sh -c 'for f; do printf x >"$f"; done' sh)
cat >"$work/empty.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<kilnpack version="0.1">
    <image file="empty.dmg" name="Empty" template_size="16777215"/>
</kilnpack>
XML
cat >"$work/many.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<kilnpack version="0.1">
    <image file="many.dmg" name="Many" template_size="auto">
        <file source="many" name="Files"/>
    </image>
</kilnpack>
XML

# Runs one configuration; prints its figures and the seconds of each step it announced.
measure() { # label config
    local label=$1 config=$2 started previous now step=""
    started=$EPOCHREALTIME
    previous=$started
    (cd "$work" && exec /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$kilnpack" "$config" 2>"$work/stderr") |
        while IFS= read -r line; do
            now=$EPOCHREALTIME
            case "$line" in
            "Running Command: "*)
                [ -n "$step" ] && awk -v s="$step" -v a="$now" -v b="$previous" \
                    'BEGIN { printf "    %-44s %7.2f s\n", s, a - b }'
                step=$(echo "${line#Running Command: }" | awk '{ print $1, $2 }')
                previous=$now
                ;;
            esac
        done >"$work/steps"
    read -r wall user sys peak <"$work/time"
    awk -v n="$label" -v w="$wall" -v u="$user" -v s="$sys" -v p="$peak" \
        'BEGIN { printf "%-46s %7.2f s wall %7.2f s CPU %8.1f MB peak\n", n, w, u + s, p / 1024 }'
    cat "$work/steps"
}

echo "kilnpack whole runs (peak: resident memory of kilnpack and the tools it ran)"
measure "empty volume, template_size=16777215" empty.xml
measure "$files one-byte files in one folder" many.xml
echo
echo "Wall-clock seconds move with the machine's load; CPU seconds are steadier."
