#!/usr/bin/env bash
# A driver library exports exactly the ODBC 2 functions it carries and
# ConfigDSN, nothing else (no C++ symbols, no SQLAllocHandle, which would make
# the Driver Manager treat it as an ODBC 3 driver).
set -euo pipefail
library=$1
shift
expected=$(printf '%s\n' "$@" | sort)
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
if [ "$expected" != "$actual" ]; then
  echo "exports of $library differ:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "$(basename "$library"): $(echo "$actual" | wc -l) exports as expected"
