#!/usr/bin/env bash
# isql connects to a data source of the dBASE driver and leaves cleanly; a
# data source with an unknown CreateType shows the driver's message; a
# table created, filled, read and dropped from isql.
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

# CREATE TABLE, INSERT, SELECT and DROP TABLE in one isql session (FoxPro
# 2.5: a .FPT memo file beside the table).
out=$(printf '%s\n' "CREATE TABLE made (NAME CHAR(8), QTY NUMERIC(5,1), NOTE MEMO)" \
        "INSERT INTO made (NAME, QTY, NOTE) VALUES ('pen', 2.5, 'blue ink')" \
        "SELECT NAME, QTY, NOTE FROM made" | isql -b -d'|' Tables 2>&1) || { echo "isql failed: $out"; exit 1; }
case "$out" in
  *"[ISQL]ERROR"*) echo "isql reported an error: $out"; exit 1 ;;
  *"pen     |2.5|blue ink"*) ;;
  *) echo "unexpected isql output: $out"; exit 1 ;;
esac
[ -f "$dir/data/made.DBF" ] && [ -f "$dir/data/made.FPT" ] || { echo "table files missing: $(ls "$dir/data")"; exit 1; }
out=$(echo "DROP TABLE made" | isql -b Tables 2>&1) || { echo "isql failed: $out"; exit 1; }
[ ! -e "$dir/data/made.DBF" ] && [ ! -e "$dir/data/made.FPT" ] || { echo "DROP TABLE left: $(ls "$dir/data")"; exit 1; }
echo "isql connected to the dBASE driver, created and dropped a table"
