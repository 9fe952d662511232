#!/usr/bin/env bash
# isql changes the test driver's table ITEMS with plain SQL text: an
# INSERT with a quoted text holding a quote, then UPDATE and DELETE by key,
# each reporting its row count.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/isql_env.sh"
test_data_source "$1" Items
out=$(isql -v Items 2>&1 <<'SQL'
INSERT INTO ITEMS (ID, NAME) VALUES (1, 'it''s')
INSERT INTO ITEMS (ID, NAME) VALUES (2, 'two')
UPDATE ITEMS SET PRICE = 2.5 WHERE ID = 1 AND NAME = 'it''s'
DELETE FROM ITEMS WHERE ID = 2
DELETE FROM ITEMS WHERE ID = 2
DELETE FROM ITEMS
quit
SQL
) || { echo "isql failed: $out"; exit 1; }
case "$out" in
  *"[ISQL]ERROR"*) echo "isql reported an error: $out"; exit 1 ;;
esac
counts=$(printf '%s\n' "$out" | grep -o 'SQLRowCount returns [0-9-]*' | awk '{print $3}' | tr '\n' ' ')
[ "$counts" = "1 1 1 1 0 1 " ] || { echo "unexpected row counts '$counts': $out"; exit 1; }
echo "isql changed ITEMS"
