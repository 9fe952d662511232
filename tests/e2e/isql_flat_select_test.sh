#!/usr/bin/env bash
# isql runs SELECTs on a data source of the test file driver: every row of a
# table, computed columns with a WHERE, a join, and an aggregate.
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d /tmp/kvisqlselXXXXXX)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/data"
/usr/bin/python3 "$here/flattest_tables.py" "$dir/data"
printf '[KvFlatTest]\nDriver=%s\n' "$driver" > "$dir/odbcinst.ini"
printf '[Files]\nDriver=KvFlatTest\nDatabase=%s\n' "$dir/data" > "$dir/odbc.ini"
: > "$dir/user.ini"
export ODBCSYSINI=$dir ODBCINI=$dir/user.ini

run() {
  out=$(printf '%s\n' "$1" | isql -b -d'|' -x0x7c Files 2>&1) || { echo "isql failed on $1: $out"; exit 1; }
  case "$out" in
    *"[ISQL]ERROR"* | *"[KESTRANE]"*) echo "isql reported an error on $1: $out"; exit 1 ;;
  esac
  printf '%s\n' "$out" | sed 's/ *|/|/g; s/ *$//'
}
expect() {
  got=$(run "$1")
  if [ "$got" != "$2" ]; then
    printf 'unexpected output of %s:\n%s\nwanted:\n%s\n' "$1" "$got" "$2"
    exit 1
  fi
}

expect "SELECT id, name FROM emp WHERE id <> 3" "1|SMITH
2|JONES
4|ADAMS"
expect "SELECT id, sal + 1 FROM emp WHERE sal > 500" "1|1001.5
2|2001"
expect "SELECT e.id, d.title FROM emp e, dept d WHERE e.id = d.id" "1|Accounting
2|Sales"
expect "SELECT COUNT(*) FROM emp WHERE active" "2"
echo "isql ran SELECTs on the test file driver"
