#!/usr/bin/env bash
# The main job: sets up a fresh Debian 12 machine, builds the libraries,
# installs them under stage/ in the checkout and reports what is there.
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
