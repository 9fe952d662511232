#!/usr/bin/env bash
# Installs, with apt-get, the Debian 12 packages that the build and the tests
# need. Packages already present are not asked for again.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libgtest-dev
  unixodbc unixodbc-dev odbcinst
  python3 python3-pyodbc
  python3-dbf python3-dbfread libdbd-xbase-perl
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
