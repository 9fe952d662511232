#!/usr/bin/env bash
# Installs, with apt-get, the Debian 12 packages the project needs. Without
# arguments: what the main job needs, the build tools and what the drivers
# need at run time (unixODBC, its installer and isql). With --tests: those
# and what only the tests need (GoogleTest, clang and its runtime for the
# fuzz targets, pyodbc and Perl DBD::ODBC, the programs that write tables for the tests to
# read, git for the check of the install from a fresh clone). Packages
# already present are not asked for again.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  unixodbc unixodbc-dev odbcinst
)
test_packages=(
  libgtest-dev
  python3 python3-pyodbc
  python3-dbf python3-dbfread libdbd-xbase-perl libdbd-odbc-perl
  gnumeric python3-xlrd python3-olefile
  clang libclang-rt-14-dev
  git
)

case ${1-} in
  "") ;;
  --tests) packages+=("${test_packages[@]}") ;;
  *) echo "usage: install-deps.sh [--tests]" >&2; exit 2 ;;
esac

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
