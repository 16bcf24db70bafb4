#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer, runs all tests, checks the
# portable file calls in a build of their own, then runs the desktop database fuzzer for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Apple's HFS+ checker, run by the tests on every volume they write; skipped where its sources aren't.
fsck_script=../shared/tools/fsck_hfs/build.sh
if [ -z "${KILNPACK_FSCK_HFS:-}" ] && [ -f "$fsck_script" ]; then
    KILNPACK_FSCK_HFS=$(bash "$fsck_script" "$PWD/build-test/fsck_hfs")
    export KILNPACK_FSCK_HFS
fi
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKILNPACK_SANITIZE=ON
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j2
# The portable stand-ins for the Linux-only file calls (what other systems compile): a quick build
# without sanitizers, and the tests of the folders that make those calls.
cmake -S . -B build-portable -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKILNPACK_TESTS=ON -DKILNPACK_PORTABLE_ONLY=ON
cmake --build build-portable --target kilnpack test_io test_hfsplus test_engine
for tests in test_io test_hfsplus test_engine; do
    "build-portable/$tests" --gtest_brief=1
done
# The Debian package: built in release form and its contents checked.
bash scripts/package.sh build-package
if [ -f tests/fuzz/run.sh ]; then
    bash tests/fuzz/run.sh build-fuzz "${KILNPACK_FUZZ_SECONDS:-60}"
fi
