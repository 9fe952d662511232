#!/usr/bin/env bash
# isql connects to a data source of the dBASE driver and leaves cleanly; a
# data source with an unknown CreateType shows the driver's message.
set -euo pipefail
driver=$1
dir=$(mktemp -d /tmp/kvisqldbfXXXXXX)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/data"
printf '[KvDbase]\nDriver=%s\n' "$driver" > "$dir/odbcinst.ini"
printf '[Tables]\nDriver=KvDbase\nDatabase=%s\nCreateType=FOXPRO25\n' "$dir/data" > "$dir/odbc.ini"
printf '[Dbase6]\nDriver=KvDbase\nDatabase=%s\nCreateType=DBASE6\n' "$dir/data" >> "$dir/odbc.ini"
: > "$dir/user.ini"
export ODBCSYSINI=$dir ODBCINI=$dir/user.ini
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
