#!/bin/sh
# Builds the ZIP fuzz targets with clang and runs each for a bounded time, one after the
# other, on one core. Usage: fuzz/run_fuzzers.sh [seconds-per-target] [build-dir]
set -e
seconds=${1:-600}
src=$(cd "$(dirname "$0")" && pwd)
build=$(realpath -m "${2:-$src/../build-fuzz}")
CC=clang CXX=clang++ cmake -S "$src" -B "$build" >/dev/null
cmake --build "$build" -j2
"$src/make_seeds.sh" "$build/seeds"
found=0
for target in fuzz_zip_directory fuzz_zip_extract; do
    mkdir -p "$build/corpus-$target" "$build/findings-$target"
    (cd "$build/findings-$target" &&
        "$build/$target" -jobs=1 -workers=1 -max_total_time="$seconds" -max_len=65536 \
            -artifact_prefix=./ "$build/corpus-$target" "$build/seeds" >/dev/null 2>&1 || true)
    echo "== $target"
    grep -E '^#[0-9]+.*DONE' "$build/findings-$target/fuzz-0.log" | tail -1 || true
    if ls "$build/findings-$target" | grep -E '^(crash|leak|timeout|oom|slow-unit)-'; then
        found=1
    else
        echo "no findings"
    fi
done
exit $found
