#!/usr/bin/env bash
# isql's "help" and "help TABLE" on a data source of the test file driver:
# SQLTables lists every table file with the directory as its qualifier, and
# SQLColumns the columns of one table, found without regard to case, in the
# table's order.
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/isql_env.sh"
flat_data_source cat "$driver"

# -d, gives rows as comma-separated values, without the frame.
run() { printf '%s\n' "$@" | isql -b -d, -v Files 2>&1 || true; }
fail() { echo "$1"; echo "$2"; exit 1; }

out=$(run "CREATE TABLE emp (id INTEGER, name CHAR(10), amount DOUBLE PRECISION)" \
          "CREATE TABLE Dept (code CHAR(2))" "CREATE UNIQUE INDEX byid ON emp (id)")
case "$out" in *"[ISQL]ERROR"*) fail "CREATE failed" "$out" ;; esac

out=$(run "help")
expected="$dir/data,,Dept,TABLE,
$dir/data,,emp,TABLE,"
[ "$out" = "$expected" ] || fail "help listed:" "$out"

out=$(run "help EMP")
expected="$dir/data,,emp,ID,4,INTEGER,10,4,0,10,1,
$dir/data,,emp,NAME,1,CHAR,10,10,,,1,
$dir/data,,emp,AMOUNT,8,DOUBLE,15,8,,10,1,"
[ "$out" = "$expected" ] || fail "help EMP listed:" "$out"

out=$(run "help nope")
[ -z "$out" ] || fail "help of a missing table listed:" "$out"
echo "isql help lists the test file driver's tables and columns"
