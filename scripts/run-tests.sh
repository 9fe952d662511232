#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test
# (through CTest, then each test binary once as a whole); then builds again
# with AddressSanitizer and UndefinedBehaviorSanitizer and runs the tests
# again both ways. This is what CI runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

# Runs each test binary of a build once as a whole, in the directory CTest
# runs it in. CTest gives every test a process of its own, which would hide
# state that one test leaves behind for the next.
run_whole_binaries() {
  local build=$1 binary failed=0
  for binary in $(find "$build/tests" -name '*_tests' -type f -executable | sort); do
    echo "-- $(basename "$binary"), all tests in one process"
    (cd "$(dirname "$binary")" && "./$(basename "$binary")" --gtest_brief=1) || failed=1
  done
  return "$failed"
}

"$root/scripts/install-deps.sh"

echo "== layers"
/usr/bin/python3 "$root/scripts/check-layers.py" "$root"

echo "== build and test"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_BENCH=ON -DKV_WERROR=ON
cmake --build "$root/build" -j"$jobs"
(cd "$root/build" && ctest --output-on-failure -j"$jobs")
run_whole_binaries "$root/build"

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON -DKV_WERROR=ON
cmake --build "$root/build-asan" -j"$jobs"
(cd "$root/build-asan" &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs")
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_whole_binaries "$root/build-asan"

echo "== fuzz the parsers briefly (libFuzzer)"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKV_FUZZ=ON -DKV_BUILD_TESTS=OFF -DKV_WERROR=ON
cmake --build "$root/build-fuzz" -j"$jobs"
# A clean run shows its last two lines; a crash shows the fuzzer's whole
# report (the input, the stack, the sanitizer's summary), keeps the input in
# build-fuzz/ and fails CI once every fuzzer has run.
fuzz_log=$(mktemp)
trap 'rm -f "$fuzz_log"' EXIT
fuzz_failed=0
for fuzzer in "$root"/build-fuzz/fuzz/*_fuzz; do
  echo "-- $(basename "$fuzzer")"
  if "$fuzzer" -max_total_time="${KV_FUZZ_SECONDS:-20}" -max_len=4096 -print_final_stats=0 \
       -artifact_prefix="$root/build-fuzz/" >"$fuzz_log" 2>&1; then
    tail -n 2 "$fuzz_log"
  else
    cat "$fuzz_log"
    fuzz_failed=1
  fi
done
exit $fuzz_failed
