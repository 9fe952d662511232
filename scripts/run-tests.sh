#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test;
# then builds again with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the tests again. This is what CI runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$root/scripts/install-deps.sh"

echo "== build and test"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j"$jobs"
(cd "$root/build" && ctest --output-on-failure -j"$jobs")

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON
cmake --build "$root/build-asan" -j"$jobs"
(cd "$root/build-asan" &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs")
