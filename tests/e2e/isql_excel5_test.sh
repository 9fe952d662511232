#!/usr/bin/env bash
# The Excel 5 driver from isql: the main job's sample workbook (a copy of
# samples/excel5/orders.xls) queried with the statements the main job
# prints, its tables listed, and a workbook that cannot be read refused
# with the driver's message.
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d /tmp/kvisqlexcel5XXXXXX)
trap 'rm -rf "$dir"' EXIT
cp "$here/../../samples/excel5/orders.xls" "$dir/"
printf '[KvExcel5]\nDriver=%s\n' "$driver" > "$dir/odbcinst.ini"
printf '[Excel5Sample]\nDriver=KvExcel5\nDatabase=%s\n[Excel97]\nDriver=KvExcel5\nDatabase=%s\n' \
  "$dir/orders.xls" "$here/../data/excel/sales97.xls" > "$dir/odbc.ini"
: > "$dir/user.ini"
export ODBCSYSINI=$dir ODBCINI=$dir/user.ini

expect() {
  out=$(printf '%s\n' "$2" | isql -b -d'|' -x0x7c "$1" 2>&1) || { echo "isql failed on $2: $out"; exit 1; }
  got=$(printf '%s\n' "$out" | sed 's/ *|/|/g; s/ *$//')
  if [ "$got" != "$3" ]; then
    printf 'unexpected output of %s:\n%s\nwanted:\n%s\n' "$2" "$got" "$3"
    exit 1
  fi
}

expect Excel5Sample "SELECT * FROM Orders" "1001|1|2024-01-15|1250|1
1002|2|2024-01-29|89.9|1
1003|1|2024-03-01|310.5|0
1004|3|2024-04-08|4999.99|0"
expect Excel5Sample \
  "SELECT c.NAME, o.ORDERNO, o.ORDERED, o.AMOUNT FROM Customers c, Orders o WHERE c.CUSTNO = o.CUSTNO ORDER BY o.ORDERNO" \
  "Harbour Supplies|1001|2024-01-15|1250
Northwind Timber|1002|2024-01-29|89.9
Harbour Supplies|1003|2024-03-01|310.5
Polar Optics|1004|2024-04-08|4999.99"
expect Excel5Sample "SELECT CUSTNO, COUNT(*), SUM(AMOUNT) FROM Orders GROUP BY CUSTNO" "1|2|1560.5
2|1|89.9
3|1|4999.99"
cmp -s "$here/../../samples/excel5/orders.xls" "$dir/orders.xls" || { echo "a query changed the workbook"; exit 1; }

out=$(printf 'help\n' | isql -b -d'|' -x0x7c Excel5Sample 2>&1)
case "$out" in *"|Customers|"*"|Orders|"*) ;; *) echo "the tables are not listed: $out"; exit 1 ;; esac

out=$(printf 'SELECT 1\n' | isql -v -b Excel97 2>&1) && { echo "an Excel 97 workbook connected"; exit 1; }
case "$out" in *"Cannot open stream Book.  OLE error code (2)."*) ;; *) echo "unexpected message: $out"; exit 1 ;; esac
echo "isql on the Excel 5 driver: all checks passed"
