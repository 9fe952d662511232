#!/usr/bin/env bash
# The text driver from isql: the main job's sample data source TextSample
# over copies of samples/text answers the statements the main job prints,
# a row appended with INSERT reads back, and no query changes a file.
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d /tmp/kvisqltextXXXXXX)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/data"
cp "$here"/../../samples/text/KVTXT.INI "$here"/../../samples/text/*.csv "$here"/../../samples/text/*.txt "$dir/data/"
printf '[KvText]\nDriver=%s\n' "$driver" > "$dir/odbcinst.ini"
printf '[TextSample]\nDriver=KvText\nDatabase=%s\n' "$dir/data" > "$dir/odbc.ini"
: > "$dir/user.ini"
export ODBCSYSINI=$dir ODBCINI=$dir/odbc.ini LC_ALL=C

expect() {
  out=$(printf '%s\n' "$1" | isql -b -d'|' -x0x7c TextSample 2>&1) || { echo "isql failed on $1: $out"; exit 1; }
  got=$(printf '%s\n' "$out" | sed 's/ *|/|/g; s/ *$//')
  if [ "$got" != "$2" ]; then
    printf 'unexpected output of %s:\n%s\nwanted:\n%s\n' "$1" "$got" "$2"
    exit 1
  fi
}

expect "SELECT * FROM orders WHERE AMOUNT > 100 ORDER BY ORDERED" "1001|Harbour Supplies|2024-01-15|1250.00
1003|Harbour Supplies|2024-02-20|310.50
1004|Polar Optics, Ltd.|2024-03-08|4999.99"
expect "SELECT ITEM, NAME, QTY FROM stock ORDER BY QTY DESC" "A100|Birch planks|240
C300|Fish crates|75
B200|Lens kit|12"
expect "SELECT CUSTOMER, COUNT(*), SUM(AMOUNT) FROM orders GROUP BY CUSTOMER" "Fjord Fisheries|1|42
Harbour Supplies|2|1560.5
Northwind Timber|1|89.9
Polar Optics, Ltd.|1|4999.99"
cmp -s "$here/../../samples/text/orders.csv" "$dir/data/orders.csv" || { echo "a query changed a sample file"; exit 1; }
expect "INSERT INTO orders VALUES (1006, 'Sami \"Arctic\" Goods', {d '2024-04-01'}, 7.5)" ""
expect "SELECT ORDERNO, CUSTOMER, ORDERED, AMOUNT FROM orders WHERE ORDERNO = 1006" '1006|Sami "Arctic" Goods|2024-04-01|7.50'
[ "$(tail -n 1 "$dir/data/orders.csv")" = $'1006,"Sami ""Arctic"" Goods","2024-04-01",7.50\r' ] || {
  echo "the row was not appended as written:"; tail -2 "$dir/data/orders.csv"; exit 1; }
echo "the text driver answers from isql"
