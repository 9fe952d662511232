#!/usr/bin/env bash
# isql runs SELECTs on a data source of the test file driver: every row of a
# table, computed columns with a WHERE, a join, and an aggregate.
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/isql_env.sh"
flat_data_source sel "$driver" tables

expect_rows "SELECT id, name FROM emp WHERE id <> 3" "1|SMITH
2|JONES
4|ADAMS"
expect_rows "SELECT id, sal + 1 FROM emp WHERE sal > 500" "1|1001.5
2|2001"
expect_rows "SELECT e.id, d.title FROM emp e, dept d WHERE e.id = d.id" "1|Accounting
2|Sales"
expect_rows "SELECT COUNT(*) FROM emp WHERE active" "2"
echo "isql ran SELECTs on the test file driver"
