# Sourced by the benchmark scripts: sets `kilnpack` to the binary to measure, $KILNPACK when given,
# else a fresh Release build of the tree at $root in $build/release.
kilnpack=${KILNPACK:-}
if [ -z "$kilnpack" ]; then
    cmake -S "$root" -B "$build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKILNPACK_TESTS=OFF >/dev/null
    cmake --build "$build/release" --target kilnpack >/dev/null
    kilnpack="$build/release/kilnpack"
fi
