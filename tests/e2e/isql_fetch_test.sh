#!/usr/bin/env bash
# isql prints the test driver's ALLTYPES table: every column as text through
# SQLGetData with SQL_C_CHAR, NULLs as empty fields, text in the UTF-8 of
# isql's locale, long values cut at isql's own display width.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/isql_env.sh"
test_data_source "$1" Plain DriverName=Plain
out=$(echo "SELECT * FROM ALLTYPES" | LC_ALL=C.UTF-8 isql -b -c -d'|' Plain 2>&1) || { echo "isql failed: $out"; exit 1; }
mapfile -t lines <<< "$out"
fail() { echo "$1"; printf '%s\n' "$out" | cut -c1-300; exit 1; }
[ "${#lines[@]}" -eq 4 ] || fail "expected a heading and 3 rows"
[ "${lines[0]}" = "ID|FLAG|TINY|UTINY|SMALL|USMALL|ULONG|BIG|UBIG|PACKED|AMOUNT|REALV|DBL|DAY|TIMEV|STAMP|CODE|NAME|NOTES|DATA|BLOB" ] ||
  fail "unexpected heading"
first=$'1|1|-5|200|-1234|60000|4000000000|-9000000000000|10000000000|1234567.89|123456.789|1.5|3.25|2024-02-29|13:45:30|2024-02-29 13:45:30.123|ABC       |caf\xc3\xa9|line 0 of the notes; line 1 of the notes; '
case "${lines[1]}" in
  "$first"*"|0001FEFF|000102030405"*) ;;
  *) fail "unexpected row 1" ;;
esac
[ "${lines[2]}" = "2||||||||||||||||||||" ] || fail "row 2 should be NULL but for its ID"
[ "${lines[3]}" = "3|0|127|0|32767|0|0|9223372036854775807|0|-.01|-.500|-2.5|-1E100|1900-01-01|00:00:00|1999-12-31 23:59:59.000|          ||short||7F" ] ||
  fail "unexpected row 3"
echo "isql printed ALLTYPES"
