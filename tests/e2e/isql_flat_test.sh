#!/usr/bin/env bash
# isql connects to a data source of the test file driver and leaves cleanly;
# a data source whose database directory is a file (ValidateDB) shows the
# engine's message.
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/isql_env.sh"
private_odbc flat
mkdir "$dir/data"
odbc_driver KvFlatTest "$driver"
data_source Files KvFlatTest "Database=$dir/data" ValidateDB=1
data_source NotADirectory KvFlatTest "Database=$dir/odbc.ini" ValidateDB=1
out=$(echo "quit" | isql -b Files 2>&1) || { echo "isql failed: $out"; exit 1; }
case "$out" in
  *"[ISQL]ERROR"*) echo "isql reported an error: $out"; exit 1 ;;
esac
out=$(echo "quit" | isql -v NotADirectory 2>&1) && { echo "connect should have failed: $out"; exit 1; }
case "$out" in
  *"[KESTRANE][ODBC FlatTest driver]The filename does not exist: $dir/odbc.ini"*) ;;
  *) echo "unexpected isql output: $out"; exit 1 ;;
esac
echo "isql connected to the test file driver"
