#!/usr/bin/env bash
# isql on a data source of the test file driver, the whole round: CREATE
# TABLE, INSERT, SELECT with a join, UPDATE, DELETE, help and DROP TABLE;
# and the errors INSERT, UPDATE and DELETE give for bad statements.
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/isql_env.sh"
flat_data_source dml "$driver" tables
# A statement isql must refuse with the message given.
refused() {
  out=$(printf "%s\n" "$1" | isql -b -v Files 2>&1) || true
  case "$out" in
    *"$2"*) ;;
    *) printf 'isql did not refuse %s with "%s":\n%s\n' "$1" "$2" "$out"; exit 1 ;;
  esac
}

isql_rows "CREATE TABLE staff (id INTEGER, dept INTEGER, name CHAR(10))" > /dev/null
isql_rows "INSERT INTO staff VALUES (1, 1, 'ANN')" > /dev/null
isql_rows "INSERT INTO staff (id, dept, name) VALUES (2, 2, 'BOB')" > /dev/null
isql_rows "INSERT INTO staff (name, id, dept) VALUES ('CY', 3, 1)" > /dev/null
expect_rows "SELECT s.name, d.title FROM staff s, dept d WHERE s.dept = d.id ORDER BY s.id" "ANN|Accounting
BOB|Sales
CY|Accounting"
isql_rows "UPDATE staff SET dept = 2, name = 'CYRUS' WHERE id = 3" > /dev/null
expect_rows "SELECT id, dept, name FROM staff WHERE dept = 2 ORDER BY id" "2|2|BOB
3|2|CYRUS"
isql_rows "DELETE FROM staff WHERE dept = 2" > /dev/null
expect_rows "SELECT id, name FROM staff" "1|ANN"
refused "INSERT INTO staff VALUES (4, 1)" "An incorrect number of values appear in the VALUES clause"
refused "DELETE staff WHERE id = 1" "Missing FROM keyword in DELETE statement"
refused "UPDATE staff SET dept = 'x'" "An UPDATE expression didn't match the data type"
tables=$(printf 'help\n' | isql -b -v Files 2>&1)
case "$tables" in
  *staff*TABLE*) ;;
  *) printf 'help did not list the new table:\n%s\n' "$tables"; exit 1 ;;
esac
isql_rows "DROP TABLE staff" > /dev/null
[ ! -e "$dir/data/staff.ftt" ] || { echo "DROP TABLE left the file"; exit 1; }
echo "isql ran INSERT, UPDATE and DELETE on the test file driver"
