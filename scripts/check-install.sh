#!/usr/bin/env bash
# The install as a new user meets it, run by scripts/run-tests.sh: a fresh
# clone of this checkout, its main job (scripts/run-main.sh) with a
# temporary prefix and a temporary HOME, then a new shell with nothing of
# this one's environment (env -i: no ODBCSYSINI, no ODBCINI) that queries the
# sample data source with isql by its name and by DRIVER=, and with pyodbc;
# then scripts/uninstall.sh, after which the machine's odbcinst.ini and
# odbc.ini and the user's odbc.ini must be byte for byte what they were,
# and nothing may be left under the prefix or in the HOME.
#
# unixODBC keeps the drivers in a fixed file (/etc/odbcinst.ini) and the
# user's data sources in the home directory of the user's passwd entry
# (whatever HOME says), so the check registers for real. It therefore
#   - takes a lock, so that two checks on one machine never meet;
#   - runs only where none of the drivers or sample data sources is
#     registered already (a real installation is left alone: skipped);
#   - on every way out runs the uninstall, then removes any registration
#     still pointing into its temporary directory, then the directory.
#
# Exit status: 0 passed, 77 skipped (no root and no sudo without a password,
# or the drivers registered on this machine already), anything else failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "$(id -u)" -ne 0 ] && ! sudo -n true 2>/dev/null; then
  echo "install check skipped: registering drivers needs root or sudo without a password"
  exit 77
fi

# A clean environment: what a new login shell of this user has, and the
# settings that only make the build faster.
clean_env=(env -i "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin" "LANG=C.UTF-8"
           "USER=$(id -un)" "LOGNAME=$(id -un)")
for name in CMAKE_BUILD_PARALLEL_LEVEL CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER CCACHE_DIR CCACHE_BASEDIR; do
  if [ -n "${!name-}" ]; then clean_env+=("$name=${!name}"); fi
done
odbc_file() { "${clean_env[@]}" odbcinst -j | sed -n "s/^$1\.*: //p"; }
drivers_ini=$(odbc_file DRIVERS)
system_sources_ini=$(odbc_file "SYSTEM DATA SOURCES")
user_sources_ini=$(odbc_file "USER DATA SOURCES")
watched=("$drivers_ini" "$system_sources_ini" "$user_sources_ini")

lock_dir=/run/lock
[ -d "$lock_dir" ] && [ -w "$lock_dir" ] || lock_dir=${TMPDIR:-/tmp}
exec 9> "$lock_dir/kestrane-install-check.lock"
if ! flock -w 3600 9; then
  echo "install check: another install check kept the lock for an hour"
  exit 1
fi

# The names the clone's main job will register.
names() {
  sed -e 's/#.*//' "$root/scripts/drivers.list" |
    awk -F'|' -v kind="$1" '{ for (i = 1; i <= NF; i++) gsub(/^[ \t]+|[ \t]+$/, "", $i) } $1 == kind { print $2 }'
}
has_section() {
  [ -f "$1" ] && awk -v s="[$2]" '/^[ \t]*\[/ { sub(/^[ \t]+/, ""); sub(/[ \t\r]+$/, "");
    if (tolower($0) == tolower(s)) found = 1 } END { exit !found }' "$1"
}
while IFS= read -r name; do
  if has_section "$drivers_ini" "$name"; then
    echo "install check skipped: a driver \"$name\" is registered in $drivers_ini already"
    exit 77
  fi
done < <(names driver)
while IFS= read -r name; do
  if has_section "$user_sources_ini" "$name"; then
    echo "install check skipped: a data source $name is in $user_sources_ini already"
    exit 77
  fi
done < <(names sample)

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kvinstallcheckXXXXXX")
chmod 755 "$tmp"
snapshots="$tmp/snapshots"
mkdir "$snapshots" "$tmp/home"
for i in "${!watched[@]}"; do
  if [ -e "${watched[$i]}" ]; then cp -p "${watched[$i]}" "$snapshots/$i"; fi
done
prefix="$tmp/prefix"
home="$tmp/home"
clean_env+=("HOME=$home")

# Whatever happened, nothing of the check stays: the uninstall, then any
# registration that still points into the temporary directory.
cleanup() {
  local status=$? name
  trap - EXIT INT TERM
  if [ -f "$prefix/share/kestrane/install-manifest" ] || [ -d "$home/.local/share/kestrane" ]; then
    "${clean_env[@]}" "$tmp/clone/scripts/uninstall.sh" --prefix "$prefix" > /dev/null 2>&1 || true
  fi
  while IFS= read -r name; do
    while "${clean_env[@]}" odbcinst -q -d -n "$name" 2>/dev/null | grep -q "=$tmp/"; do
      "${clean_env[@]}" odbcinst -u -d -n "$name" > /dev/null || break
    done
  done < <(names driver)
  while IFS= read -r name; do
    if grep -q "^Database=$tmp/" <(sed -n "/^\[$name\]/,/^\[/p" "$user_sources_ini" 2>/dev/null); then
      "${clean_env[@]}" odbcinst -u -s -h -n "$name" > /dev/null || true
    fi
  done < <(names sample)
  rm -rf "$tmp"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

failed=0
problem() { echo "install check: $*"; failed=1; }

echo "-- a fresh clone and its main job (prefix $prefix, HOME $home)"
git clone --quiet --no-hardlinks "$root" "$tmp/clone"
if ! (cd "$tmp/clone" && "${clean_env[@]}" ./scripts/run-main.sh --prefix "$prefix") > "$tmp/main.log" 2>&1; then
  cat "$tmp/main.log"
  problem "the main job failed"
else
  tail -n 6 "$tmp/main.log"
fi

echo "-- a new shell, with nothing exported"
cat > "$tmp/new-shell.sh" <<'EOF'
set -u
status=0
# A statement through isql, with its rows as "a|b" lines.
expect() {
  local what=$1 sql=$2 wanted=$3 got
  shift 3
  got=$(printf '%s\n' "$sql" | isql -b -d'|' -x0x7c "$@" 2>&1 | sed 's/ *|/|/g; s/ *$//')
  if [ "$got" = "$wanted" ]; then
    echo "$what: right rows"
  else
    printf '%s: unexpected output of %s:\n%s\nwanted:\n%s\n' "$what" "$sql" "$got" "$wanted"
    status=1
  fi
}
active="Harbour Supplies|Bergen
Northwind Timber|Trondheim
Polar Optics|Tromso"
sql="SELECT NAME, CITY FROM customers WHERE ACTIVE = 1 ORDER BY NAME"
expect "isql DbaseSample" "$sql" "$active" DbaseSample
data=$(odbcinst -q -s -n DbaseSample | sed -n 's/^Database=//p')
expect "isql -k DRIVER={Kestrane dBASE}" "$sql" "$active" -k "DRIVER={Kestrane dBASE};Database=$data"
/usr/bin/python3 - "$sql" <<'PY' || status=1
import sys, pyodbc
assert "Kestrane dBASE" in pyodbc.drivers(), pyodbc.drivers()
rows = pyodbc.connect("DSN=DbaseSample").execute(sys.argv[1]).fetchall()
assert [tuple(v.rstrip() for v in r) for r in rows] == [("Harbour Supplies", "Bergen"), ("Northwind Timber", "Trondheim"),
                                    ("Polar Optics", "Tromso")], rows
print("pyodbc DSN=DbaseSample: right rows")
PY
exit $status
EOF
if ! "${clean_env[@]}" bash "$tmp/new-shell.sh"; then
  problem "the new shell did not find the drivers or the sample data source"
fi

echo "-- the uninstall"
if ! "${clean_env[@]}" "$tmp/clone/scripts/uninstall.sh" --prefix "$prefix"; then
  problem "the uninstall failed"
fi
for i in "${!watched[@]}"; do
  file=${watched[$i]}
  if [ -e "$snapshots/$i" ]; then
    if ! cmp -s "$snapshots/$i" "$file"; then
      problem "$file is not what it was before the install:"
      diff "$snapshots/$i" "$file" || true
    fi
  elif [ -e "$file" ]; then
    problem "$file was made by the install and is still there"
  fi
done
[ ! -e "$prefix" ] || problem "the uninstall left $(find "$prefix" | head -n 5 | tr '\n' ' ')under the prefix"
rm -f "$home/.isql_history"  # isql's own
[ -z "$(ls -A "$home")" ] || problem "the uninstall left $(find "$home" -mindepth 1 | head -n 5 | tr '\n' ' ')in HOME"

if [ "$failed" -eq 0 ]; then
  echo "the main job of a fresh clone installs drivers that a new shell finds, and the uninstall restores the files"
fi
exit "$failed"
