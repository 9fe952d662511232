#!/usr/bin/env bash
# isql runs grouped queries, a UNION and an outer join on a data source of
# the test file driver.
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/isql_env.sh"
flat_data_source grp "$driver" tables

# Groups in ascending order of their key, NULL first; COUNT(DISTINCT)
# beside SUM.
expect_rows "SELECT active, COUNT(*), COUNT(DISTINCT name), SUM(sal) FROM emp GROUP BY active" "|1|1|
0|1|1|2000
1|2|2|1150.75"
expect_rows "SELECT active, COUNT(*) FROM emp GROUP BY active HAVING COUNT(*) > 1" "1|2"
expect_rows "SELECT id FROM emp WHERE id < 3 UNION SELECT id FROM dept ORDER BY 1 DESC" "9
2
1"
expect_rows "SELECT e.id, d.title FROM {oj emp e LEFT OUTER JOIN dept d ON e.id = d.id} ORDER BY 1" "1|Accounting
2|Sales
3|
4|"
expect_rows "SELECT COUNT(*), AVG(sal) FROM emp WHERE 1 = 0" "0|"
echo "isql ran grouped queries, a UNION and an outer join on the test file driver"
