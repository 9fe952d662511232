#!/usr/bin/env bash
# isql's "help" (SQLTables) and "help TABLE" (SQLColumns) on the test
# driver's catalog: the tables in type order, a table's columns with the
# derived lengths, NULLs shown empty.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/isql_env.sh"
test_data_source "$1" Cat DriverName=Cat
fail() { echo "$1"; echo "$out"; exit 1; }
# -d, : delimited output, one row a line, no padding.
out=$(printf 'help\n' | isql -b -d, Cat 2>&1) || fail "isql failed"
expected=',,SYS_INFO,SYSTEM TABLE,
,,ALLTYPES,TABLE,every internal form of a value
,,MY_TABLE,TABLE,described by the driver
,,MYXTABLE,TABLE,
,,NUMBERS,TABLE,
,,NUMBERS_V,VIEW,'
[ "$(printf '%s\n' "$out" | grep '^,,')" = "$expected" ] || fail "unexpected tables"
out=$(printf 'help MY_TABLE\n' | isql -b -d, Cat 2>&1) || fail "isql failed"
expected=',,MY_TABLE,ID,4,INTEGER,10,4,0,10,0,
,,MY_TABLE,NAME,12,VARCHAR,40,40,,,1,
,,MY_TABLE,PRICE,3,DECIMAL,10,12,2,10,1,
,,MY_TABLE,CODE,1,CHAR,4,4,,,0,
,,MYXTABLE,X,4,INTEGER,10,4,0,10,1,'
[ "$(printf '%s\n' "$out" | grep '^,,')" = "$expected" ] || fail "unexpected columns"
echo "isql listed the tables and columns"
