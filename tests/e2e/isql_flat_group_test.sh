#!/usr/bin/env bash
# isql runs grouped queries, a UNION and an outer join on a data source of
# the test file driver.
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d /tmp/kvisqlgrpXXXXXX)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/data"
python3 "$here/flattest_tables.py" "$dir/data"
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

# Groups in ascending order of their key, NULL first; COUNT(DISTINCT)
# beside SUM.
expect "SELECT active, COUNT(*), COUNT(DISTINCT name), SUM(sal) FROM emp GROUP BY active" "|1|1|
0|1|1|2000
1|2|2|1150.75"
expect "SELECT active, COUNT(*) FROM emp GROUP BY active HAVING COUNT(*) > 1" "1|2"
expect "SELECT id FROM emp WHERE id < 3 UNION SELECT id FROM dept ORDER BY 1 DESC" "9
2
1"
expect "SELECT e.id, d.title FROM {oj emp e LEFT OUTER JOIN dept d ON e.id = d.id} ORDER BY 1" "1|Accounting
2|Sales
3|
4|"
expect "SELECT COUNT(*), AVG(sal) FROM emp WHERE 1 = 0" "0|"
echo "isql ran grouped queries, a UNION and an outer join on the test file driver"
