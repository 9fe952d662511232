# The shared set-up of the isql tests, sourced by each script after it has
# set $here to this folder: a private unixODBC configuration (isql reads
# odbcinst.ini and odbc.ini from ODBCSYSINI, and the user's file from
# ODBCINI, left empty here), and the helpers that run statements and
# compare their rows.

# private_odbc NAME: a temporary directory $dir, removed when the script
# exits, with an empty odbc.ini and user.ini, and ODBCSYSINI and ODBCINI
# pointing there.
private_odbc() {
  dir=$(mktemp -d "/tmp/kvisql${1}XXXXXX")
  trap 'rm -rf "$dir"' EXIT
  : > "$dir/odbc.ini"
  : > "$dir/user.ini"
  export ODBCSYSINI=$dir ODBCINI=$dir/user.ini
}

# odbc_driver SECTION LIBRARY: odbcinst.ini names the driver library.
odbc_driver() { printf '[%s]\nDriver=%s\n' "$1" "$2" > "$dir/odbcinst.ini"; }

# data_source SECTION DRIVER [LINE...]: a data source of odbc.ini with
# further lines (KEY=VALUE).
data_source() {
  local section=$1 driver=$2 line
  shift 2
  {
    printf '[%s]\nDriver=%s\n' "$section" "$driver"
    for line in "$@"; do printf '%s\n' "$line"; done
  } >> "$dir/odbc.ini"
}

# test_data_source LIBRARY SECTION [LINE...]: the test driver's data
# source SECTION (further lines KEY=VALUE).
test_data_source() {
  private_odbc test
  odbc_driver KvTest "$1"
  shift
  data_source "$1" KvTest "${@:2}"
}

# flat_data_source NAME LIBRARY [tables]: the test file driver's data
# source Files over $dir/data, with the standard tables of
# flattest_tables.py when asked for.
flat_data_source() {
  private_odbc "$1"
  mkdir "$dir/data"
  if [ "${3:-}" = tables ]; then /usr/bin/python3 "$here/flattest_tables.py" "$dir/data"; fi
  odbc_driver KvFlatTest "$2"
  data_source Files KvFlatTest "Database=$dir/data"
}

# isql_rows SQL: the rows of SQL on Files, fields joined by "|" without
# padding; an error ends the script.
isql_rows() {
  local out
  out=$(printf '%s\n' "$1" | isql -b -d'|' -x0x7c Files 2>&1) || { echo "isql failed on $1: $out"; exit 1; }
  case "$out" in
    *"[ISQL]ERROR"* | *"[KESTRANE]"*) echo "isql reported an error on $1: $out"; exit 1 ;;
  esac
  printf '%s\n' "$out" | sed 's/ *|/|/g; s/ *$//'
}

# expect_rows SQL ROWS: the rows of SQL must be ROWS, or the script ends.
expect_rows() {
  local got
  got=$(isql_rows "$1")
  if [ "$got" != "$2" ]; then
    printf 'unexpected output of %s:\n%s\nwanted:\n%s\n' "$1" "$got" "$2"
    exit 1
  fi
}
