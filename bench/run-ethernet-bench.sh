#!/usr/bin/env bash
# Ethernet benchmarks (as root: they make their own network namespaces and a
# veth pair, and send nothing anywhere else):
#   bench/run-ethernet-bench.sh     or     make bench-ethernet
# 1 MiB TFTP write against tftp-hpa, a 2000-reply discovery burst, the
# window's longest event-loop stall during a 1 MiB write, and "program all"
# to 1, 10 and 50 controllers (the default limit first, then --limits=8,50)
# against one single write. Name parts to run only
# those:   bench/run-ethernet-bench.sh fleet     or     make bench-fleet
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=build-bench
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEL_BUILD_BENCH=ON \
    -DZEL_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target bench_ethernet zel-controller-sim zel-updater-files
QT_QPA_PLATFORM=offscreen "$build/bench/bench_ethernet" "$@"
