#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan and UBSan and runs each.
#   scripts/fuzz.sh            short smoke run of every target (used by make test)
#   scripts/fuzz.sh 600        ten minutes per target
#   scripts/fuzz.sh 600 fuzz_hex   one target
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}
shift || true
build=build-fuzz
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(sed -n 's/^ *zel_add_fuzzer(NAME \([a-z_0-9]*\).*/\1/p' fuzz/CMakeLists.txt))
fi
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets"; exit 0; }

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DZEL_BUILD_FUZZ=ON -DZEL_BUILD_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -O1" \
    >/dev/null
fi
cmake --build "$build" -j2 --target "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$t" ] && seeds=("fuzz/corpus/$t")
  echo "== $t for ${seconds}s"
  (cd "$build" && "./fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=4096 -max_len=65536 \
      -print_final_stats=1 "$OLDPWD/$corpus" "${seeds[@]/#/$OLDPWD/}" 2>&1 | tail -n 12)
done
