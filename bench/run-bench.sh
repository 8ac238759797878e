#!/usr/bin/env bash
# Builds the benchmarks in a Release build (build-bench) and runs them.
#   bench/run-bench.sh           loading a 4 MiB Intel HEX image against srec_cat,
#                                then programming both USB players and boot-loading a
#                                fixture against the simulated libraries, and what
#                                checking a signature adds to loading a 1.5 MB image
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=build-bench
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEL_BUILD_BENCH=ON \
    -DZEL_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target bench_loadImage bench_signature bench_usbPrograms bench_fixtureBootload
"$build/bench/bench_loadImage" "$@"
"$build/bench/bench_signature" "$@"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bench/bench_usbPrograms" "$@"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bench/bench_fixtureBootload" "$@"
