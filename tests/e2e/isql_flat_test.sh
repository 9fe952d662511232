#!/usr/bin/env bash
# isql connects to a data source of the test file driver and leaves cleanly;
# a data source whose database directory is a file (ValidateDB) shows the
# engine's message.
set -euo pipefail
driver=$1
dir=$(mktemp -d /tmp/kvisqlflatXXXXXX)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/data"
printf '[KvFlatTest]\nDriver=%s\n' "$driver" > "$dir/odbcinst.ini"
printf '[Files]\nDriver=KvFlatTest\nDatabase=%s\nValidateDB=1\n' "$dir/data" > "$dir/odbc.ini"
printf '[NotADirectory]\nDriver=KvFlatTest\nDatabase=%s\nValidateDB=1\n' "$dir/odbc.ini" >> "$dir/odbc.ini"
: > "$dir/user.ini"
export ODBCSYSINI=$dir ODBCINI=$dir/user.ini
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
