#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine with what the build and the tests need,
# then runs every check and ends with one verdict line, "N passed, M
# failed". This is what CI runs. The phases, each run whatever the earlier
# ones gave:
#   - the layer check of the includes;
#   - the build with every test, run through CTest and then each test binary
#     once as a whole;
#   - the same under AddressSanitizer and UndefinedBehaviorSanitizer;
#   - the libFuzzer targets of the parsers, each for a short while
#     (KV_FUZZ_SECONDS, default 20);
#   - the install check: the main job of a fresh clone, then a new shell
#     that finds the drivers and the sample data source without any
#     environment variable, then the uninstall (scripts/check-install.sh).
# Every CTest test, test binary, fuzz target and check counts once in the
# verdict (a skipped install check not at all); a build that fails counts
# as one failure and its tests do not run. CMAKE_BUILD_PARALLEL_LEVEL, when
# set, is the number of jobs of the builds and of CTest (default: the CPUs).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
passed=0
failed=0
failures=()

pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); failures+=("$1"); }
# Runs a command as one check.
check() {
  local name=$1
  shift
  if "$@"; then pass; else fail "$name"; fi
}

# Runs CTest in a build and counts its tests from its summary line.
run_ctest() {
  local build=$1 log
  log=$(mktemp)
  (cd "$build" && ctest --output-on-failure -j"$jobs") 2>&1 | tee "$log"
  local summary
  summary=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  if [ -z "$summary" ]; then
    fail "ctest in $build (no summary)"
    return
  fi
  local bad total
  bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<< "$summary")
  total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<< "$summary")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  [ "$bad" -eq 0 ] || failures+=("$bad CTest tests in $(basename "$build")")
}

# Runs each test binary of a build once as a whole, in the directory CTest
# runs it in. CTest gives every test a process of its own, which would hide
# state that one test leaves behind for the next.
run_whole_binaries() {
  local build=$1 binary
  for binary in $(find "$build/tests" -name '*_tests' -type f -executable | sort); do
    echo "-- $(basename "$binary"), all tests in one process"
    check "$(basename "$build")/$(basename "$binary") as a whole" \
      bash -c 'cd "$(dirname "$1")" && "./$(basename "$1")" --gtest_brief=1' _ "$binary"
  done
}

# Configures and builds; a failure counts once.
build() {
  local dir=$1
  shift
  if cmake -S "$root" -B "$dir" "$@" && cmake --build "$dir" -j"$jobs"; then
    return 0
  fi
  fail "build in $(basename "$dir")"
  echo "The build in $dir failed: its tests were not run."
  return 1
}

sanitizers=(ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)

if ! "$root/scripts/install-deps.sh" --tests; then
  echo "Installing the packages failed."
  echo "0 passed, 1 failed"
  exit 1
fi

echo "== layers"
check "layer check" /usr/bin/python3 "$root/scripts/check-layers.py" "$root"

echo "== build and test"
if build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_BENCH=ON -DKV_WERROR=ON; then
  run_ctest "$root/build"
  run_whole_binaries "$root/build"
fi

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
if build "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON -DKV_WERROR=ON; then
  export "${sanitizers[@]}"
  run_ctest "$root/build-asan"
  run_whole_binaries "$root/build-asan"
  unset ASAN_OPTIONS UBSAN_OPTIONS
fi

echo "== fuzz the parsers briefly (libFuzzer)"
if CC=clang CXX=clang++ build "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
     -DKV_FUZZ=ON -DKV_BUILD_TESTS=OFF -DKV_WERROR=ON; then
  # A clean run shows its last two lines; a crash shows the fuzzer's whole
  # report (the input, the stack, the sanitizer's summary) and keeps the
  # input in build-fuzz/.
  fuzz_log=$(mktemp)
  for fuzzer in "$root"/build-fuzz/fuzz/*_fuzz; do
    echo "-- $(basename "$fuzzer")"
    if "$fuzzer" -max_total_time="${KV_FUZZ_SECONDS:-20}" -max_len=4096 -print_final_stats=0 \
         -artifact_prefix="$root/build-fuzz/" >"$fuzz_log" 2>&1; then
      tail -n 2 "$fuzz_log"
      pass
    else
      cat "$fuzz_log"
      fail "fuzz target $(basename "$fuzzer")"
    fi
  done
  rm -f "$fuzz_log"
fi

echo "== install from a fresh clone, then a new shell, then uninstall"
"$root/scripts/check-install.sh"
case $? in
  0) pass ;;
  77) ;;
  *) fail "install check" ;;
esac

echo
if [ "$failed" -ne 0 ]; then
  echo "Failed:"
  printf '  %s\n' "${failures[@]}"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
