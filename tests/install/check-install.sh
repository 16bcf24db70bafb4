#!/usr/bin/env bash
# Installs the built tree into a temporary prefix and checks what lands there: the program runs
# from bin/ and the manual page renders without warnings.
#
#   bash tests/install/check-install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
expected=$(printf '%s\n' bin/kilnpack share/man/man1/kilnpack.1)
actual=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
if [ "$actual" != "$expected" ]; then
    printf 'installed files differ:\n%s\nexpected:\n%s\n' "$actual" "$expected" >&2
    exit 1
fi
[ -x "$prefix/bin/kilnpack" ] || { echo "bin/kilnpack is not executable" >&2; exit 1; }
"$prefix/bin/kilnpack" --version | grep -qx 'Version: 0\.1' \
    || { echo "installed kilnpack does not print its version" >&2; exit 1; }

# Rendering must be silent; groff's -ww turns on every warning.
warnings=$(groff -man -ww -z "$prefix/share/man/man1/kilnpack.1" 2>&1)
warnings+=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/kilnpack.1" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
    printf 'manual page warnings:\n%s\n' "$warnings" >&2
    exit 1
fi
# Every option the program knows is documented, and every attribute of the schema (which a unit
# test holds equal to the code's table of known attributes).
page=$(MANWIDTH=200 man -l "$prefix/share/man/man1/kilnpack.1" 2>/dev/null)
schema="$(dirname "$0")/../../docs/kilnpack.xsd"
attributes=$(grep -o 'attribute name="[a-z_]*"' "$schema" | sed 's/.*="\(.*\)"/\1/' | sort -u)
[ -n "$attributes" ] || { echo "no attributes read from $schema" >&2; exit 1; }
for word in --help --version --dump SOURCE_DATE_EPOCH TMPDIR KILNPACK_ENGINE "EXIT STATUS" EXAMPLES \
    $attributes; do
    grep -q -- "$word" <<<"$page" || { echo "manual page lacks $word" >&2; exit 1; }
done
echo "install tree OK"
