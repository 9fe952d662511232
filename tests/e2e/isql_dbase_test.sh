#!/usr/bin/env bash
# isql connects to a data source of the dBASE driver and leaves cleanly; a
# data source with an unknown CreateType shows the driver's message.
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/isql_env.sh"
private_odbc dbf
mkdir "$dir/data"
odbc_driver KvDbase "$driver"
data_source Tables KvDbase "Database=$dir/data" CreateType=FOXPRO25
data_source Dbase6 KvDbase "Database=$dir/data" CreateType=DBASE6
out=$(echo "quit" | isql -b Tables 2>&1) || { echo "isql failed: $out"; exit 1; }
case "$out" in
  *"[ISQL]ERROR"*) echo "isql reported an error: $out"; exit 1 ;;
esac
out=$(echo "quit" | isql -v Dbase6 2>&1) && { echo "connect should have failed: $out"; exit 1; }
case "$out" in
  *"[S1009]"*"[KESTRANE][ODBC dBASE driver]Invalid argument value."*) ;;
  *) echo "unexpected isql output: $out"; exit 1 ;;
esac
echo "isql connected to the dBASE driver"
