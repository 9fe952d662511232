#!/usr/bin/env bash
# The engine's benchmark against SQLite: the same generated table loaded into
# the test file driver (its files written directly) and into SQLite behind
# the SQLite ODBC driver, the same SQL through the unixODBC Driver Manager
# from build/bench/odbc_bench; for each query shape the time, the ratio to
# SQLite's time against its aim, peak memory (/usr/bin/time -v) and whether
# both gave the same rows (count and checksum). With --dbase the dBASE driver
# joins on the same rows as DBF files, against SQLite and Perl's DBD::XBase
# reading the same files. With --staff the dBASE driver runs the scans,
# GROUP BY and ORDER BY of the STAFF table (bench/bench_table.py) against
# SQLite through two clients: odbc_bench (bound columns, rowset 100) and
# bench/pyodbc_bench.py (pyodbc's fetchall: SQLFetch and SQLGetData).
#
# Usage: bench/run-engine-bench.sh [-n ROWS[,ROWS...]] [-b BUILD_DIR] [-r REPEAT]
#                                  [-i INSERTS] [-t SECONDS] [--dbase] [--dbase-only] [--staff] [-k DIR]
#   -n  table sizes, e.g. 10000,100000,1000000 (default 1000000)
#   -b  the build directory, configured with -DKV_BUILD_BENCH=ON (default build)
#   -r  runs of each query, the best time kept (default 3)
#   -i  INSERTs in the insert shape (default a tenth of the rows, at most 100000)
#   -t  time allowed to each run of a program, then it is killed (default 600)
#   -k  keep the tables and configuration in DIR (made if missing)
#   --staff  only the STAFF shapes, both clients
# Missing packages (libsqliteodbc, time, libdbd-xbase-perl) are installed
# with apt-get. Not a test: run on demand.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
sizes=1000000
build=$root/build
repeat=3
inserts=
engine=1
dbase=0
staff=0
keep=
limit=600

while [ $# -gt 0 ]; do
  case $1 in
    -n) sizes=$2; shift 2 ;;
    -b) build=$(cd "$2" && pwd); shift 2 ;;
    -r) repeat=$2; shift 2 ;;
    -i) inserts=$2; shift 2 ;;
    -k) keep=$2; shift 2 ;;
    -t) limit=$2; shift 2 ;;
    --dbase) dbase=1; shift ;;
    --dbase-only) dbase=1; engine=0; shift ;;
    --staff) staff=1; engine=0; shift ;;
    *) sed -n '15,27s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
  esac
done

# ---- packages and programs

need=()
[ -x /usr/bin/time ] || need+=(time)
sqlite_driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so
[ -e "$sqlite_driver" ] || need+=(libsqliteodbc)
[ "$dbase" = 1 ] && ! perl -MDBD::XBase -e 1 2>/dev/null && need+=(libdbd-xbase-perl)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing ${need[*]}"
  sudo=
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get install -y "${need[@]}" >/dev/null
fi
[ -e "$sqlite_driver" ] || { echo "no SQLite ODBC driver at $sqlite_driver" >&2; exit 1; }

client=$build/bench/odbc_bench
flat_driver=$build/drivers/flattest/libkvflattest.so
dbase_driver=$build/drivers/dbase/libkvdbase.so
programs=("$client" "$dbase_driver")
[ "$engine" = 0 ] || programs+=("$flat_driver")
for file in "${programs[@]}"; do
  [ -e "$file" ] || { echo "missing $file: build with -DKV_BUILD_BENCH=ON first" >&2; exit 1; }
done
python=/usr/bin/python3
[ "$staff" = 0 ] || "$python" -c 'import pyodbc' || { echo "pyodbc is missing (python3-pyodbc)" >&2; exit 1; }

if [ -n "$keep" ]; then
  mkdir -p "$keep"
  work=$(cd "$keep" && pwd)
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/kvbenchXXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
printf '[SQLite3]\nDriver=%s\n\n[KvFlatTest]\nDriver=%s\n\n[KvDbase]\nDriver=%s\n' \
  "$sqlite_driver" "$flat_driver" "$dbase_driver" > "$work/odbcinst.ini"
: > "$work/odbc.ini"
export ODBCSYSINI=$work ODBCINI=$work/odbc.ini

sqlite_conn="DRIVER={SQLite3};Database=$work/bench.db"
flat_conn="DRIVER={KvFlatTest};DB=$work/flat"
dbase_conn="DRIVER={KvDbase};DB=$work/dbf"

# ---- one measured run

# measure COMMAND...: runs it under /usr/bin/time and sets R_ROWS, R_SUM,
# R_SEC, R_MB, or R_ERR with the first line of the program's diagnostics. A
# run that outlasts the limit is killed: a driver that never ends a result
# must not stop the benchmark.
measure() {
  R_ROWS= R_SUM= R_SEC= R_MB= R_ERR=
  local status=0
  /usr/bin/time -v -o "$work/time.txt" timeout --kill-after=5 "$limit" "$@" > "$work/out.txt" 2> "$work/err.txt" ||
    status=$?
  if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    R_ERR="no answer within $limit s: killed"
  elif [ "$status" = 0 ]; then
    read -r R_ROWS R_SUM R_SEC < <(sed -n 's/^rows=\([0-9]*\) checksum=\([0-9a-f]*\) seconds=\([0-9.]*\)$/\1 \2 \3/p' \
      "$work/out.txt")
    R_MB=$(awk -F: '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$work/time.txt")
    [ -n "$R_SEC" ] || R_ERR="no result line: $(head -c 200 "$work/out.txt")"
  else
    R_ERR=$(grep -v ' failed$' "$work/err.txt" | head -1)
    [ -n "$R_ERR" ] || R_ERR=$(head -1 "$work/err.txt")
    [ -n "$R_ERR" ] || R_ERR="exit status without a diagnostic"
  fi
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else print "-" }'; }
within() { awk -v a="$1" -v b="$2" -v aim="$3" 'BEGIN { exit !(b > 0 && a / b <= aim) }'; }

header() {
  printf '%-22s %9s %10s %10s %8s %6s %9s %9s  %s\n' shape rows "$1 s" "$2 s" ratio aim "$2 MB" "$1 MB" result
}

# compare SHAPE AIM BASE-NAME OTHER-COMMAND... against a base run already
# measured (B_*): prints one line. The result column says "ok", "over aim",
# "WRONG" (rows or checksum differ from the base), or why it was skipped.
compare() {
  local shape=$1 aim=$2
  shift 2
  measure "$@"
  if [ -n "$B_ERR" ]; then
    printf '%-22s base failed: %s\n' "$shape" "$B_ERR"
    return
  fi
  if [ -n "$R_ERR" ]; then
    printf '%-22s %9s %10s %10s %8s %6s %9s %9s  skipped: %s\n' "$shape" "$B_ROWS" "$B_SEC" - - "${aim}x" - "$B_MB" \
      "$R_ERR"
    return
  fi
  local result=ok shown
  shown=$(ratio "$R_SEC" "$B_SEC")
  if [ "$R_ROWS" = 0 ] && [ "$B_ROWS" != 0 ]; then
    # No ratio for rows that were never produced.
    result="WRONG: no rows (expected $B_ROWS): does this build execute the statement yet?"
    shown=-
  elif [ "$R_ROWS" != "$B_ROWS" ] || [ "$R_SUM" != "$B_SUM" ]; then
    result="WRONG: $R_ROWS rows, checksum $R_SUM; expected $B_ROWS rows, $B_SUM"
    shown=-
  elif ! within "$R_SEC" "$B_SEC" "$aim"; then
    result="over aim"
  fi
  if awk -v mb="$R_MB" 'BEGIN { exit !(mb >= 64) }'; then result="$result, over 64 MB"; fi
  printf '%-22s %9s %10s %10s %8s %6s %9s %9s  %s\n' "$shape" "$B_ROWS" "$B_SEC" "$R_SEC" "$shown" \
    "${aim}x" "$R_MB" "$B_MB" "$result"
}

base() {
  measure "$@"
  B_ROWS=$R_ROWS B_SUM=$R_SUM B_SEC=$R_SEC B_MB=$R_MB B_ERR=$R_ERR
}

# ---- the shapes

scan_sql="SELECT ID, NAME, AMOUNT FROM BIG WHERE AMOUNT >= 5000 AND AMOUNT < 5100"
join_sql="SELECT B.ID, D.DNAME, B.AMOUNT FROM BIG B, DEPT D WHERE B.GRP = D.GRP AND B.AMOUNT < 1000"
order_sql="SELECT ID, AMOUNT FROM BIG ORDER BY AMOUNT DESC, ID"
group_sql="SELECT GRP, COUNT(*), SUM(AMOUNT) FROM BIG GROUP BY GRP"
insert_sql="INSERT INTO INS VALUES (?, ?, ?, ?)"

IFS=, read -r -a size_list <<< "$sizes"
for rows in "${size_list[@]}"; do
  case $rows in '' | *[!0-9]*) echo "bad size: $rows" >&2; exit 2 ;; esac
  if [ "$staff" = 1 ]; then
    echo "== STAFF, $rows rows (written in $work) =="
    "$python" "$here/bench_table.py" --staff --rows "$rows" --dbf "$work/dbf" --sqlite "$work/staff.db"
    staff_conn="DRIVER={SQLite3};Database=$work/staff.db"
    one=$((rows < 123456 ? rows : 123456))
    for client_shape in "C client, bound columns, rowset 100" "pyodbc fetchall"; do
      echo "-- dBASE driver against SQLite ODBC: $client_shape"
      header sqlite dbase
      for shape in "scan SAL > 9000|1.0|1.2|SELECT ID, NAME, SAL FROM STAFF WHERE SAL > 9000" \
                   "SELECT *|1.0|1.2|SELECT * FROM STAFF" \
                   "ID = $one, no index|1.0|1.2|SELECT ID FROM STAFF WHERE ID = $one" \
                   "GROUP BY DEPT|1.0|1.2|SELECT DEPT, COUNT(*), SUM(SAL) FROM STAFF GROUP BY DEPT" \
                   "ORDER BY NAME|1.5|1.5|SELECT ID, NAME FROM STAFF ORDER BY NAME"; do
        IFS='|' read -r name aim py_aim sql <<< "$shape"
        if [ "$client_shape" = "pyodbc fetchall" ]; then
          run=("$python" "$here/pyodbc_bench.py")
          aim=$py_aim
        else
          run=("$client")
        fi
        base "${run[@]}" --repeat "$repeat" "$staff_conn" "$sql"
        compare "$name" "$aim" "${run[@]}" --repeat "$repeat" "$dbase_conn" "$sql"
      done
    done
    continue
  fi
  point=$((rows * 3 / 4 + 1))
  low=$((rows / 2 + 1))
  high=$((low + (rows / 100 > 0 ? rows / 100 : 1) - 1))
  count=${inserts:-$((rows / 10 > 100000 ? 100000 : (rows / 10 > 0 ? rows / 10 : 1)))}
  point_name=$("$python" -c "import sys; sys.path.insert(0, '$here'); import bench_table; print(bench_table.bench_row($point)[3])")

  echo "== $rows rows (written in $work) =="
  forms=(--flat "$work/flat" --sqlite "$work/bench.db")
  [ "$dbase" = 1 ] && forms+=(--dbf "$work/dbf")
  "$python" "$here/bench_table.py" --rows "$rows" "${forms[@]}"

  if [ "$engine" = 1 ]; then
    echo "-- test file driver against SQLite ODBC"
    header sqlite flat
    for shape in "filtered scan|1.0|$scan_sql" \
                 "indexed point lookup|1.0|SELECT ID, GRP, AMOUNT, NAME FROM BIG WHERE ID = $point" \
                 "indexed range|1.0|SELECT ID, GRP, AMOUNT, NAME FROM BIG WHERE ID BETWEEN $low AND $high" \
                 "join|1.5|$join_sql" \
                 "ORDER BY|1.5|$order_sql" \
                 "GROUP BY|1.5|$group_sql"; do
      IFS='|' read -r name aim sql <<< "$shape"
      base "$client" --repeat "$repeat" "$sqlite_conn" "$sql"
      compare "$name" "$aim" "$client" --repeat "$repeat" "$flat_conn" "$sql"
    done
    "$python" "$here/bench_table.py" --empty-ins --flat "$work/flat" --sqlite "$work/bench.db"
    base "$client" --insert "$count" "$sqlite_conn" "$insert_sql"
    compare "$count INSERTs" 1.5 "$client" --insert "$count" "$flat_conn" "$insert_sql"
    # The insert checksum is of the rows sent: reading them back checks what
    # was stored.
    base "$client" "$sqlite_conn" "SELECT * FROM INS"
    compare "INS read back" 1.0 "$client" "$flat_conn" "SELECT * FROM INS"
  fi

  if [ "$dbase" = 1 ]; then
    echo "-- dBASE driver against SQLite ODBC (aim 1.0x on the scan)"
    header sqlite dbase
    dbase_shapes=("filtered scan|1.0|scan|$scan_sql"
                  "lookup without index|1.0|lookup|SELECT ID, GRP, AMOUNT, NAME FROM BIG WHERE NAME = '$point_name'"
                  "join|1.5|join|$join_sql"
                  "ORDER BY|1.5|order|$order_sql"
                  "GROUP BY|1.5|group|$group_sql")
    for shape in "${dbase_shapes[@]}"; do
      IFS='|' read -r name aim _ sql <<< "$shape"
      base "$client" --repeat "$repeat" "$sqlite_conn" "$sql"
      compare "$name" "$aim" "$client" --repeat "$repeat" "$dbase_conn" "$sql"
    done
    echo "-- dBASE driver against Perl DBD::XBase on the same files (aim 0.2x: five times faster)"
    header xbase dbase
    for shape in "${dbase_shapes[@]}"; do
      IFS='|' read -r name _ xbase sql <<< "$shape"
      base perl "$here/xbase_bench.pl" "$work/dbf" "$xbase" "$point_name"
      compare "$name" 0.2 "$client" --repeat "$repeat" "$dbase_conn" "$sql"
    done
  fi
done
