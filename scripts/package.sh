#!/usr/bin/env bash
# Builds the Debian package of kilnpack in build-package/ (a release build without tests) and
# checks its contents: the program and its manual page, dependencies declared from the shared
# libraries it links, and a program that runs from the unpacked package. Prints the .deb's path.
#
#   bash scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKILNPACK_TESTS=OFF \
    -DKILNPACK_SANITIZE=OFF >/dev/null
cmake --build "$build"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/kilnpack_*.deb | head -n 1)

fail() { echo "package check: $*" >&2; exit 1; }
contents=$(dpkg-deb -c "$deb")
grep -q ' \./usr/bin/kilnpack$' <<<"$contents" || fail "no usr/bin/kilnpack in $deb"
grep -q ' \./usr/share/man/man1/kilnpack\.1' <<<"$contents" || fail "no manual page in $deb"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libxml2 libdeflate libplist libicu libc6 libstdc++6; do
    grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = kilnpack ] || fail "wrong package name"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
"$unpacked/usr/bin/kilnpack" --version | grep -qx 'Version: 0\.1' || fail "unpacked kilnpack does not run"
echo "$deb"
