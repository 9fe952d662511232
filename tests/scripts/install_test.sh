#!/usr/bin/env bash
# scripts/install.sh and scripts/uninstall.sh on the libraries of this build,
# with a private prefix, HOME and unixODBC configuration (ODBCSYSINI for the
# drivers, ODBCINI for the user's data sources) that already hold another
# driver and another data source: the drivers are installed, registered and
# found by isql and pyodbc, by data source and by DRIVER=; installing again
# replaces the installation; the uninstall gives back both INI files byte for
# byte and leaves nothing but what others added; and a driver, data source
# or file that the script did not add is never replaced.
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(mktemp -d /tmp/kvinstalltestXXXXXX)
trap 'rm -rf "$dir"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
mkdir "$dir/etc" "$dir/home"
prefix="$dir/usr"
export ODBCSYSINI="$dir/etc" ODBCINI="$dir/etc/user.ini" HOME="$dir/home"
unset XDG_DATA_HOME ODBCINSTINI

# A sanitizer build's drivers need their runtime preloaded into the programs
# that load them (isql, python3); the scripts and odbcinst run without it.
preload=${LD_PRELOAD-}
unset LD_PRELOAD
isql() { LD_PRELOAD=$preload command isql "$@"; }
python3() { LD_PRELOAD=$preload /usr/bin/python3 "$@"; }

fail() { printf 'FAILED: %s\n' "$*"; exit 1; }
# Another driver and another data source, as odbcinst writes them.
printf '[Other Driver]\nDescription=Another driver\nDriver=/opt/other/libother.so\nUsageCount=1\n\n' \
  > "$ODBCSYSINI/odbcinst.ini"
printf '[Other]\nDriver=Other Driver\nDatabase=/srv/other\n\n' > "$ODBCINI"
cp "$ODBCSYSINI/odbcinst.ini" "$dir/odbcinst.before"
cp "$ODBCINI" "$dir/user.before"

install() { "$root/scripts/install.sh" --prefix "$prefix" --build "$build" "$@"; }
uninstall() { "$root/scripts/uninstall.sh" --prefix "$prefix" "$@"; }
data="$HOME/.local/share/kestrane/samples/dbase"
driver="$prefix/lib/kestrane/libkvdbase.so"
active="Harbour Supplies|Bergen
Northwind Timber|Trondheim
Polar Optics|Tromso"
sql="SELECT NAME, CITY FROM customers WHERE ACTIVE = 1 ORDER BY NAME"
expect() {
  local what=$1 wanted=$2 got
  shift 2
  got=$(printf '%s\n' "$sql" | isql -b -d'|' -x0x7c "$@" 2>&1 | sed 's/ *|/|/g; s/ *$//')
  [ "$got" = "$wanted" ] || fail "$what: unexpected rows:
$got"
}

echo "-- install"
install > "$dir/log" || { cat "$dir/log"; fail "install failed"; }
grep -qx "\[Kestrane dBASE\]" "$ODBCSYSINI/odbcinst.ini" || fail "the driver is not registered"
odbcinst -q -d -n "Kestrane dBASE" > "$dir/entry"
for line in "Driver=$driver" "Setup=$driver" "Description=Kestrane ODBC driver for dBASE, FoxPro and Clipper tables" \
            "UsageCount=1"; do
  grep -qxF "$line" "$dir/entry" || fail "the registration lacks $line: $(cat "$dir/entry")"
done
odbcinst -q -s -n DbaseSample > "$dir/entry"
for line in "Driver=Kestrane dBASE" "Database=$data" "CreateType=DBASE3"; do
  grep -qxF "$line" "$dir/entry" || fail "the data source lacks $line: $(cat "$dir/entry")"
done
# The driver finds the libraries it links beside itself, with no help.
grep -q 'RUNPATH.*\[\$ORIGIN\]' <<< "$(readelf -d "$driver")" || fail "the driver has no run path \$ORIGIN"
linked=$(env -u LD_LIBRARY_PATH ldd "$driver")
for lib in libkvutil.so libkvbase.so libkvflat.so; do
  grep -qF "$lib => $prefix/lib/kestrane/$lib" <<< "$linked" || fail "the driver does not find $lib under the prefix: $linked"
done
cmp -s "$root/samples/dbase/orders.dbf" "$data/orders.dbf" || fail "the sample tables were not copied"

expect "isql DbaseSample" "$active" DbaseSample
expect "isql DRIVER={Kestrane dBASE}" "$active" -k "DRIVER={Kestrane dBASE};Database=$data"
python3 - "$sql" <<'PY' || fail "pyodbc"
import sys, pyodbc
assert "Kestrane dBASE" in pyodbc.drivers(), pyodbc.drivers()
rows = pyodbc.connect("DSN=DbaseSample").execute(sys.argv[1]).fetchall()
assert [tuple(v.rstrip() for v in r) for r in rows] == [("Harbour Supplies", "Bergen"), ("Northwind Timber", "Trondheim"),
                                    ("Polar Optics", "Tromso")], rows
PY

echo "-- install again: the earlier installation is replaced"
# A table of the user's own in the sample folder, and a data source added
# since: neither belongs to the installation.
cp "$data/orders.dbf" "$data/mine.dbf"
printf '[Mine]\nDriver=Kestrane dBASE\nDatabase=%s\n' "$data" > "$dir/mine.tmpl"
odbcinst -i -s -h -f "$dir/mine.tmpl" > /dev/null
echo "DELETE FROM orders" | isql -b DbaseSample > /dev/null
install > "$dir/log" || { cat "$dir/log"; fail "installing again failed"; }
grep -qx "UsageCount=1" <(odbcinst -q -d -n "Kestrane dBASE") || fail "installing again counted the driver twice"
[ "$(grep -ci '^\[DbaseSample\]' "$ODBCINI")" -eq 1 ] || fail "installing again added the data source twice"
cmp -s "$root/samples/dbase/orders.dbf" "$data/orders.dbf" || fail "installing again kept a changed sample table"

echo "-- uninstall"
# The folder the first installation made goes too, once the user's table
# is gone from it.
rm "$data/mine.dbf"
uninstall > "$dir/log" || { cat "$dir/log"; fail "uninstall failed"; }
cmp -s "$dir/odbcinst.before" "$ODBCSYSINI/odbcinst.ini" || fail "odbcinst.ini is not what it was:
$(diff "$dir/odbcinst.before" "$ODBCSYSINI/odbcinst.ini")"
# The data source the user added stays, and only it.
odbcinst -u -s -h -n Mine > /dev/null
cmp -s "$dir/user.before" "$ODBCINI" || fail "the user's odbc.ini is not what it was:
$(diff "$dir/user.before" "$ODBCINI")"
[ ! -e "$prefix" ] || fail "the uninstall left $(find "$prefix")"
rm -f "$HOME/.isql_history"  # isql's own
[ -z "$(ls -A "$HOME")" ] || fail "the uninstall left $(find "$HOME" -mindepth 1)"
uninstall > "$dir/log" || { cat "$dir/log"; fail "a second uninstall failed"; }

echo "-- a table of the user's own in the sample folder stays, with its folders"
install > "$dir/log" || { cat "$dir/log"; fail "install failed"; }
cp "$data/orders.dbf" "$data/mine.dbf"
uninstall > "$dir/log" || { cat "$dir/log"; fail "uninstall failed"; }
rm -f "$HOME/.isql_history"
[ "$(cd "$HOME" && find . -mindepth 1 | sort | tr '\n' ' ')" = \
  "./.local ./.local/share ./.local/share/kestrane ./.local/share/kestrane/samples ./.local/share/kestrane/samples/dbase ./.local/share/kestrane/samples/dbase/mine.dbf " ] ||
  fail "the uninstall took the user's table or left something of its own: $(cd "$HOME" && find . -mindepth 1)"
rm -rf "${HOME:?}/.local"

echo "-- what the script did not add is never replaced, and nothing is changed"
refused() {
  local what=$1
  cp "$ODBCSYSINI/odbcinst.ini" "$dir/odbcinst.before"
  cp "$ODBCINI" "$dir/user.before"
  if install > "$dir/log" 2>&1; then fail "$what: the install went on"; fi
  grep -q "nothing was changed" "$dir/log" || fail "$what: $(cat "$dir/log")"
  cmp -s "$dir/odbcinst.before" "$ODBCSYSINI/odbcinst.ini" || fail "$what: odbcinst.ini changed"
  cmp -s "$dir/user.before" "$ODBCINI" || fail "$what: the user's odbc.ini changed"
  [ ! -e "$prefix/share" ] || fail "$what: the install began"
  [ -z "$(ls -A "$HOME")" ] || fail "$what: the install began in HOME"
}
printf '[kestrane dbase]\nDriver=/opt/elsewhere/libkvdbase.so\n' > "$dir/driver.tmpl"
odbcinst -i -d -f "$dir/driver.tmpl" > /dev/null
refused "a driver of the same name"
odbcinst -u -d -n "kestrane dbase" > /dev/null
printf '[dbasesample]\nDriver=Other Driver\n' > "$dir/dsn.tmpl"
odbcinst -i -s -h -f "$dir/dsn.tmpl" > /dev/null
refused "a data source of the same name"
odbcinst -u -s -h -n dbasesample > /dev/null
mkdir -p "$prefix/lib/kestrane"
: > "$prefix/lib/kestrane/libkvutil.so"
refused "a library file of the same name"
[ ! -s "$prefix/lib/kestrane/libkvutil.so" ] || fail "the file not installed by the script was replaced"
echo "the install registers drivers that isql and pyodbc find, and the uninstall takes back exactly that"
