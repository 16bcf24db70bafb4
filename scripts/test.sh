#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer, runs all tests, then
# runs the desktop database fuzzer for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKILNPACK_SANITIZE=ON
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j2
if [ -f tests/fuzz/run.sh ]; then
    bash tests/fuzz/run.sh build-fuzz "${KILNPACK_FUZZ_SECONDS:-60}"
fi
