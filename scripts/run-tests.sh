#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test;
# then builds again with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the tests again. This is what CI runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$root/scripts/install-deps.sh"

echo "== layers"
/usr/bin/python3 "$root/scripts/check-layers.py" "$root"

echo "== build and test"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_BENCH=ON -DKV_WERROR=ON
cmake --build "$root/build" -j"$jobs"
(cd "$root/build" && ctest --output-on-failure -j"$jobs")

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON -DKV_WERROR=ON
cmake --build "$root/build-asan" -j"$jobs"
(cd "$root/build-asan" &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs")

echo "== fuzz the parsers briefly (libFuzzer)"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKV_FUZZ=ON -DKV_BUILD_TESTS=OFF -DKV_WERROR=ON
cmake --build "$root/build-fuzz" -j"$jobs"
for fuzzer in "$root"/build-fuzz/fuzz/*_fuzz; do
  echo "-- $(basename "$fuzzer")"
  "$fuzzer" -max_total_time="${KV_FUZZ_SECONDS:-20}" -max_len=4096 -print_final_stats=0 2>&1 | tail -n 2
done
