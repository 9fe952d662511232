#!/usr/bin/env bash
# isql runs CREATE TABLE, CREATE INDEX, DROP INDEX and DROP TABLE on a data
# source of the test file driver: the table file appears and goes, the index
# flag is written into its header, and refused statements show the engine's
# messages.
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/isql_env.sh"
flat_data_source ddl "$driver"

run() { printf '%s\n' "$@" | isql -v Files 2>&1 || true; }
expect() {  # expect OUTPUT TEXT: TEXT must appear in OUTPUT
  case "$1" in
    *"$2"*) ;;
    *) echo "expected \"$2\" in: $1"; exit 1 ;;
  esac
}
flag() {  # the flag byte of column $2 (from 0) of table file $1
  od -An -tu1 -j $((24 + 48 * $2 + 33)) -N1 "$1" | tr -d ' '
}

out=$(run "CREATE TABLE emp (id INTEGER, name CHAR(10), d DOUBLE PRECISION)")
case "$out" in *"[ISQL]ERROR"*) echo "CREATE TABLE failed: $out"; exit 1 ;; esac
[ -f "$dir/data/emp.ftt" ] || { echo "no table file after CREATE TABLE"; exit 1; }

out=$(run "CREATE INDEX byname ON emp (name DESC)")
case "$out" in *"[ISQL]ERROR"*) echo "CREATE INDEX failed: $out"; exit 1 ;; esac
[ "$(flag "$dir/data/emp.ftt" 1)" = 5 ] || { echo "index flag not written"; exit 1; }

out=$(run "CREATE TABLE EMP (a CHAR(1))" "CREATE TABLE t (a CHAR(10) b CHAR(5))" "DROP INDEX byname" \
          "DROP TABLE nope")
expect "$out" "[S0001][KESTRANE][ODBC FlatTest driver]File already exists: $dir/data/EMP.ftt"
expect "$out" "Expecting a ',' after the definition of column number 1."
expect "$out" "index-name syntax should be: [index-qualifier.]index-identifier"
expect "$out" "[S0002][KESTRANE][ODBC FlatTest driver]Table does not exist: $dir/data/nope.ftt"

out=$(run "DROP INDEX emp.name" "DROP TABLE Emp")
case "$out" in *"[ISQL]ERROR"*) echo "DROP failed: $out"; exit 1 ;; esac
[ ! -e "$dir/data/emp.ftt" ] || { echo "table file left after DROP TABLE"; exit 1; }
echo "isql ran CREATE and DROP on the test file driver"
