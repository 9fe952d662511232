#!/usr/bin/env bash
# The main job: sets up a fresh Debian 12 machine with what the build and the
# drivers need, builds the libraries (no tests) in build-main/, installs them
# under a prefix (default /usr/local) with scripts/install.sh, which
# registers the drivers with unixODBC and adds the sample data sources to
# the user's, and then runs a few statements against the dBASE, Excel 5 and
# text samples with isql, as any new shell can: no environment variable needed.
# scripts/uninstall.sh removes what was installed.
#
# Usage: run-main.sh [--prefix DIR]
# CMAKE_BUILD_PARALLEL_LEVEL, when set, is the number of build jobs
# (default: the CPUs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
build="$root/build-main"
prefix=/usr/local
while [ $# -gt 0 ]; do
  case $1 in
    --prefix) prefix=$2; shift ;;
    *) echo "run-main.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF
cmake --build "$build" -j"$jobs"

echo
"$root/scripts/install.sh" --prefix "$prefix" --build "$build"

echo
echo "Installed in $prefix/lib/kestrane:"
for lib in "$prefix"/lib/kestrane/libkv*.so; do
  printf '  %-20s %s exported symbols\n' "$(basename "$lib")" "$(nm -D --defined-only "$lib" | wc -l)"
done

echo
echo "isql DbaseSample:"
statements=(
  "SELECT * FROM customers"
  "SELECT NAME, CITY FROM customers WHERE ACTIVE = 1 ORDER BY NAME"
  "SELECT CUSTNO, COUNT(*), SUM(AMOUNT) FROM orders GROUP BY CUSTNO"
  "SELECT c.NAME, o.ORDERNO, o.ORDERED, o.AMOUNT FROM customers c, orders o WHERE c.CUSTNO = o.CUSTNO ORDER BY o.ORDERNO"
)
failed=0
run_statements() {
  local dsn=$1 sql out
  shift
  for sql in "$@"; do
    echo "SQL> $sql"
    out=$(printf '%s\n' "$sql" | isql -b -v "$dsn" 2>&1) || failed=1
    printf '%s\n\n' "$out"
    case "$out" in *"[ISQL]ERROR"*) failed=1 ;; esac
  done
}
run_statements DbaseSample "${statements[@]}"

echo "isql Excel5Sample (the defined names Orders and Customers of a workbook):"
run_statements Excel5Sample \
  "SELECT * FROM Orders" \
  "SELECT c.NAME, o.ORDERNO, o.ORDERED, o.AMOUNT FROM Customers c, Orders o WHERE c.CUSTNO = o.CUSTNO ORDER BY o.ORDERNO"

echo "isql TextSample (a CSV file and a fixed-width file that KVTXT.INI defines):"
run_statements TextSample \
  "SELECT * FROM orders WHERE AMOUNT > 100 ORDER BY ORDERED" \
  "SELECT ITEM, NAME, QTY FROM stock ORDER BY QTY DESC"
if [ "$failed" -ne 0 ]; then
  echo "Some statements failed: see the messages above."
fi
data=$(odbcinst -q -s -n DbaseSample | sed -n 's/^Database=//p')
echo "The drivers are registered with unixODBC (odbcinst -q -d) and the sample data sources are"
echo "yours (odbcinst -q -s); from any shell:"
echo "  isql -v DbaseSample"
echo "  isql -v Excel5Sample"
echo "  isql -v TextSample"
echo "  isql -v -k \"DRIVER={Kestrane dBASE};Database=$data\""
echo "To remove them: $root/scripts/uninstall.sh$( [ "$prefix" = /usr/local ] || printf ' --prefix %s' "$prefix")"
exit "$failed"
