#!/usr/bin/env bash
# isql and Perl DBI (DBD::ODBC with its defaults, no Encode) on the dBASE
# driver: under a UTF-8 locale what is typed is stored as the same
# characters (dbfread reads them from the Windows-1252 table) and echoed
# back; a character Windows-1252 lacks is refused with nothing stored; under
# the C locale the text is the table's Windows-1252 bytes.
set -euo pipefail
driver=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/isql_env.sh"
private_odbc cs
mkdir "$dir/data"
odbc_driver KvDbase "$driver"
data_source Tables KvDbase "Database=$dir/data"

# run LOCALE SQL: the rows of SQL from isql under LOCALE, fields joined by
# "|" without padding.
run() {
  local locale=$1 out
  out=$(printf '%s\n' "$2" | env -u LC_ALL -u LC_CTYPE LANG="$locale" isql -b -v -d'|' -x0x7c Tables 2>&1) || true
  printf '%s\n' "$out" | sed 's/ *|/|/g; s/ *$//'
}
fail() { printf '%s\n' "$1"; exit 1; }
stored() {
  /usr/bin/python3 -c 'import dbfread, sys
print("|".join(r["WORD"].rstrip() for r in dbfread.DBF(sys.argv[1], encoding="cp1252")))' "$dir/data/words.dbf"
}

/usr/bin/python3 -c 'import dbf, sys
dbf.Table(sys.argv[1], "N N(3,0); WORD C(12)", codepage="cp1252", dbf_type="db3").close()' "$dir/data/words.dbf"
out=$(run C.UTF-8 "INSERT INTO words VALUES (1, 'Ève')
INSERT INTO words VALUES (2, '€')
INSERT INTO words VALUES (3, 'Œuvre')")
case "$out" in *ERROR* | *KESTRANE*) fail "typed text refused: $out" ;; esac
got=$(run C.UTF-8 "SELECT WORD FROM words ORDER BY N")
[ "$got" = $'Ève\n€\nŒuvre' ] || fail "isql under C.UTF-8 echoed: $got"
[ "$(stored)" = "Ève|€|Œuvre" ] || fail "the table holds: $(stored)"

out=$(run C.UTF-8 "INSERT INTO words VALUES (4, 'x₽')")
case "$out" in *22005*U+20BD*) ;; *) fail "the ruble sign was not refused: $out" ;; esac
[ "$(stored)" = "Ève|€|Œuvre" ] || fail "a refused row changed the table: $(stored)"

# The C locale: Windows-1252 bytes, as the table has them.
got=$(run C "SELECT WORD FROM words ORDER BY N")
[ "$got" = $'\xc8ve\n\x80\n\x8cuvre' ] || fail "isql under C got: $(printf '%s' "$got" | od -c)"

# Perl DBI with DBD::ODBC's defaults: the script's UTF-8 text in, the same
# text out.
perl_out=$(env -u LC_ALL -u LC_CTYPE LANG=C.UTF-8 perl -e '
  use strict; use warnings; use DBI;
  my $dbh = DBI->connect("dbi:ODBC:DSN=Tables", "", "", {RaiseError => 1, PrintError => 0});
  $dbh->do("INSERT INTO words VALUES (5, ?)", undef, "Œil");
  $dbh->do("INSERT INTO words VALUES (6, '\''Été'\'')");
  my $rows = $dbh->selectcol_arrayref("SELECT WORD FROM words WHERE N >= 5 ORDER BY N");
  my @words = map { my $w = $_; $w =~ s/ +$//; utf8::encode($w) if utf8::is_utf8($w); $w } @$rows;
  print join("|", @words), "\n";
  $dbh->disconnect;' 2>&1) || fail "perl failed: $perl_out"
[ "$perl_out" = "Œil|Été" ] || fail "perl read: $perl_out"
[ "$(stored)" = "Ève|€|Œuvre|Œil|Été" ] || fail "perl stored: $(stored)"
echo "isql and Perl DBI read and write text in the locale's character set"
