#!/usr/bin/env bash
# The main job: sets up a fresh Debian 12 machine, builds the libraries,
# installs them under stage/ in the checkout, registers the dBASE driver
# with unixODBC in a private configuration under stage/ (the machine's and
# the user's own odbcinst.ini and odbc.ini are not touched), makes a data
# source over a copy of the sample tables in samples/dbase, and runs a few
# statements against it with isql.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
stage="$root/stage"

"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j"$jobs"
cmake --install "$root/build" --prefix "$stage"

echo
echo "Installed under $stage/lib:"
for lib in "$stage"/lib/libkv*.so; do
  printf '  %-20s %s exported symbols\n' "$(basename "$lib")" \
    "$(nm -D --defined-only "$lib" | wc -l)"
done

# A private unixODBC configuration: odbcinst writes the driver and the data
# source there, and isql reads them from there.
config="$stage/odbc"
data="$stage/data/dbase"
mkdir -p "$config" "$data"
cp "$root"/samples/dbase/*.dbf "$data/"
export ODBCSYSINI="$config" ODBCINI="$config/odbc.ini"
touch "$config/odbcinst.ini" "$config/odbc.ini"
printf '[Kestrane dBASE]\nDescription=Kestrane ODBC driver for dBASE, FoxPro and Clipper tables\nDriver=%s\nSetup=%s\n' \
  "$stage/lib/libkvdbase.so" "$stage/lib/libkvdbase.so" > "$config/driver.tmpl"
odbcinst -i -d -r -f "$config/driver.tmpl" > /dev/null
printf '[DbaseSample]\nDescription=Sample dBASE tables\nDriver=Kestrane dBASE\nDatabase=%s\nCreateType=DBASE3\n' \
  "$data" > "$config/dsn.tmpl"
odbcinst -i -s -l -r -f "$config/dsn.tmpl" > /dev/null

echo
echo "Registered with unixODBC in $config:"
odbcinst -q -d | sed 's/^/  driver /'
odbcinst -q -s | sed 's/^/  data source /'

echo
echo "isql DbaseSample (tables in $data):"
statements=(
  "SELECT * FROM customers"
  "SELECT NAME, CITY FROM customers WHERE ACTIVE = 1 ORDER BY NAME"
  "SELECT CUSTNO, COUNT(*), SUM(AMOUNT) FROM orders GROUP BY CUSTNO"
  "SELECT c.NAME, o.ORDERNO, o.ORDERED, o.AMOUNT FROM customers c, orders o WHERE c.CUSTNO = o.CUSTNO ORDER BY o.ORDERNO"
)
failed=0
for sql in "${statements[@]}"; do
  echo "SQL> $sql"
  out=$(printf '%s\n' "$sql" | isql -b -v DbaseSample 2>&1) || failed=1
  printf '%s\n\n' "$out"
  case "$out" in *"[ISQL]ERROR"*) failed=1 ;; esac
done
if [ "$failed" -ne 0 ]; then
  echo "Some statements failed: see the messages above."
fi
echo "To use the data source yourself:"
echo "  ODBCSYSINI=$config ODBCINI=$config/odbc.ini isql -v DbaseSample"
exit "$failed"
