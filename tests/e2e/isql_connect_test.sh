#!/usr/bin/env bash
# isql, unixODBC's own command-line client, connects to a data source of the
# test driver with SQLConnect and leaves cleanly.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/isql_env.sh"
test_data_source "$1" Alpha DriverName=Alpha
out=$(echo "quit" | isql -b Alpha 2>&1) || { echo "isql failed: $out"; exit 1; }
case "$out" in
  *"[ISQL]ERROR"*) echo "isql reported an error: $out"; exit 1 ;;
esac
# A data source whose logon fails: isql shows the driver's message.
printf '[Refusing]\nDriver=KvTest\nDriverName=Alpha\nFailLogon=1\n' >> "$dir/odbc.ini"
out=$(echo "quit" | isql -v Refusing bob 2>&1) && { echo "connect should have failed: $out"; exit 1; }
case "$out" in
  *"[KESTRANE][ODBC Alpha driver]The test data source refused the logon of 'bob'."*) ;;
  *) echo "unexpected isql output: $out"; exit 1 ;;
esac
echo "isql connected and disconnected"
