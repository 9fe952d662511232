#!/usr/bin/env bash
# The main job's sample data source, as scripts/run-main.sh makes it: the
# dBASE driver over copies of samples/dbase, queried from isql with the
# statements the main job prints. A newcomer's first command must show
# these rows.
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d /tmp/kvisqlsamplesXXXXXX)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/data"
cp "$here"/../../samples/dbase/*.dbf "$dir/data/"
printf '[KvDbase]\nDriver=%s\n' "$driver" > "$dir/odbcinst.ini"
printf '[DbaseSample]\nDriver=KvDbase\nDatabase=%s\nCreateType=DBASE3\n' "$dir/data" > "$dir/odbc.ini"
: > "$dir/user.ini"
export ODBCSYSINI=$dir ODBCINI=$dir/odbc.ini

expect() {
  out=$(printf '%s\n' "$1" | isql -b -d'|' -x0x7c DbaseSample 2>&1) || { echo "isql failed on $1: $out"; exit 1; }
  got=$(printf '%s\n' "$out" | sed 's/ *|/|/g; s/ *$//')
  if [ "$got" != "$2" ]; then
    printf 'unexpected output of %s:\n%s\nwanted:\n%s\n' "$1" "$got" "$2"
    exit 1
  fi
}

expect "SELECT NAME, CITY FROM customers WHERE ACTIVE = 1 ORDER BY NAME" "Harbour Supplies|Bergen
Northwind Timber|Trondheim
Polar Optics|Tromso"
expect "SELECT CUSTNO, COUNT(*), SUM(AMOUNT) FROM orders GROUP BY CUSTNO" "1|2|1560.5
2|1|89.9
3|1|42
4|1|4999.99"
expect "SELECT c.NAME, o.ORDERNO, o.AMOUNT FROM customers c, orders o WHERE c.CUSTNO = o.CUSTNO ORDER BY o.ORDERNO" \
"Harbour Supplies|1001|1250.00
Northwind Timber|1002|89.90
Harbour Supplies|1003|310.50
Polar Optics|1004|4999.99
Fjord Fisheries|1005|42.00"
cmp -s "$here/../../samples/dbase/orders.dbf" "$dir/data/orders.dbf" || { echo "a query changed a sample table"; exit 1; }
echo "the sample dBASE data source answers the main job's statements"
