#!/usr/bin/env bash
# Installs the drivers as Linux ODBC drivers are installed, or removes them
# again (scripts/uninstall.sh):
#   - the libraries of a build go under a prefix (default /usr/local), in
#     lib/kestrane, where each driver finds the libraries it links through
#     its run path;
#   - each driver of scripts/drivers.list is registered by name with
#     unixODBC from a template (odbcinst -i -d -f), in the machine's
#     odbcinst.ini;
#   - each sample data source of that list is added to the user's data
#     sources (odbcinst -i -s -h), over copies of its sample tables in the
#     user's data directory (${XDG_DATA_HOME:-~/.local/share}/kestrane).
# Everything added is written down as it is added, in a manifest of the
# machine's part (<prefix>/share/kestrane/install-manifest) and one of the
# user's part (<data directory>/kestrane/install-manifest); removing undoes
# exactly what they list and leaves everything else as it is. Installing
# again first removes what the earlier installation added. A driver, data
# source or file that is there already and was not added by this script is
# never replaced: the script stops before changing anything.
#
# Usage: install.sh [--prefix DIR] [--build DIR]
#        install.sh --uninstall [--prefix DIR]
#   --prefix DIR  where the libraries go (default /usr/local)
#   --build DIR   a built CMake tree of this project (default: build-main)
#   --part system|user  only the machine's or only the user's part
#   --staged DIR  the build's files as installed under an empty prefix (the
#                 script passes it to its own machine's part run by sudo)
#
# The machine's part needs root: the script runs it through sudo when the
# prefix or the odbcinst.ini is not writable. The user's part runs as the
# caller. unixODBC's variables are honoured: ODBCSYSINI moves the
# odbcinst.ini (ODBCINSTINI renames it) and ODBCINI names the user's data
# sources (the tests use them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
self="$root/scripts/install.sh"

action=install prefix=/usr/local build="$root/build-main" part=all staged=
while [ $# -gt 0 ]; do
  case $1 in
    --uninstall) action=uninstall ;;
    --prefix) prefix=$2; shift ;;
    --build) build=$2; shift ;;
    --part) part=$2; shift ;;
    --staged) staged=$2; shift ;;
    *) echo "install.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
case $prefix in /*) ;; *) prefix="$(pwd)/$prefix" ;; esac
prefix=${prefix%/}
system_manifest="$prefix/share/kestrane/install-manifest"
user_data="${XDG_DATA_HOME:-$HOME/.local/share}/kestrane"
user_manifest="$user_data/install-manifest"

say() { printf '%s\n' "$*"; }
fail() { printf 'install.sh: %s\n' "$*" >&2; exit 1; }

# The files unixODBC reads, as odbcinst reports them for this environment.
odbc_file() { odbcinst -j | sed -n "s/^$1\.*: //p"; }

# The entries of scripts/drivers.list of one kind, fields separated by
# tabs, blanks around them removed.
list_entries() {
  sed -e 's/#.*//' "$root/scripts/drivers.list" |
    awk -F'|' -v kind="$1" '{
      for (i = 1; i <= NF; i++) { gsub(/^[ \t]+|[ \t]+$/, "", $i) }
      if ($1 != kind) next
      line = $2; for (i = 3; i <= NF; i++) line = line "\t" $i
      print line
    }'
}

# Manifest lines: a kind, a path and for registrations a name, tab between.
record() { printf '%s\n' "$(IFS=$'\t'; printf '%s' "$*")" >> "$manifest"; }
recorded() { [ -f "$2" ] && awk -F'\t' -v k="$1" -v p="$3" -v n="${4-}" \
  '$1 == k && $2 == p && (n == "" || tolower($3) == tolower(n)) { found = 1 } END { exit !found }' "$2"; }

# Makes a directory and its missing parents, writing down each one it made
# (once it is made: the manifest may be inside it).
make_dir() {
  local dir=$1 missing=()
  while [ ! -d "$dir" ]; do missing=("$dir" "${missing[@]}"); dir=$(dirname "$dir"); done
  for dir in "${missing[@]}"; do mkdir "$dir"; done
  for dir in "${missing[@]}"; do record dir "$dir"; done
}

# Puts a file in place atomically (a process may have the old one loaded)
# and writes it down.
put_file() {
  local from=$1 to=$2
  make_dir "$(dirname "$to")"
  cp "$from" "$to.kvnew"
  mv -f "$to.kvnew" "$to"
  record file "$to"
}

# Whether an INI file has a section of that name (unixODBC matches section
# names without regard to case).
has_section() {
  [ -f "$1" ] && awk -v s="[$2]" '/^[ \t]*\[/ { sub(/^[ \t]+/, ""); sub(/[ \t\r]+$/, "");
    if (tolower($0) == tolower(s)) found = 1 } END { exit !found }' "$1"
}

# Whether an INI file holds nothing but blanks.
is_blank() { ! grep -q '[^[:space:]]' "$1"; }

# Undoes what a manifest lists, newest first: the registrations and files,
# then the manifest itself, then the directories it made, deepest first,
# each once it is empty. A directory that holds something else stays, and
# is kept in kept_dirs: installing again writes it down again as its own.
kept_dirs=()
remove_manifest() {
  local manifest=$1 lines kind path name
  [ -f "$manifest" ] || return 0
  lines=$(tac "$manifest")
  while IFS=$'\t' read -r kind path name; do
    case $kind in
      driver)
        # odbcinst keeps a usage count per driver: one removal undoes one
        # registration, and the entry goes when no other is left.
        if has_section "$path" "$name"; then
          ODBCSYSINI=$(dirname "$path") ODBCINSTINI=$(basename "$path") odbcinst -u -d -n "$name" > /dev/null
          say "  driver \"$name\" unregistered from $path"
        fi ;;
      dsn)
        if has_section "$path" "$name"; then
          ODBCINI=$path odbcinst -u -s -h -n "$name" > /dev/null
          say "  data source $name removed from $path"
        fi ;;
      file) rm -f "$path" ;;
      # odbcinst made the file for this installation: it goes when nothing
      # else was written into it.
      inifile) if [ -f "$path" ] && is_blank "$path"; then rm -f "$path"; fi ;;
    esac
  done <<< "$lines"
  rm -f "$manifest"
  kept_dirs=()
  while IFS= read -r path; do
    [ -n "$path" ] || continue
    rmdir "$path" 2>/dev/null || kept_dirs=("$path" "${kept_dirs[@]}")
  done < <(awk -F'\t' '$1 == "dir" { print gsub("/", "/", $2) "\t" $2 }' <<< "$lines" | sort -rn | cut -f2-)
}

# Starts a manifest in a directory that may have to be made, writing down
# first the directories an earlier installation made and left behind.
start_manifest() {
  local dir
  make_dir "$(dirname "$manifest")"
  touch "$manifest"
  for dir in "${kept_dirs[@]}"; do
    if [ -d "$dir" ] && ! recorded dir "$manifest" "$dir"; then record dir "$dir"; fi
  done
}

# --------------------------------------------------------------- machine's part

# The build's installation in the scratch directory: what goes under the
# prefix. Made by the caller, so that sudo writes nothing into the build.
stage() {
  [ -f "$build/CMakeCache.txt" ] || fail "no build in $build (configure and build the project first)"
  cmake --install "$build" --prefix "$scratch/stage" > /dev/null
  printf '%s\n' "$scratch/stage"
}

system_install() {
  local drivers_ini manifest="$system_manifest" rel name library description files
  drivers_ini=$(odbc_file DRIVERS)
  [ -n "$staged" ] || staged=$(stage)
  files=$(cd "$staged" && find . -type f | sed 's|^\./||' | sort)

  # Check first, change afterwards: what is there already must have been
  # added by this script.
  while IFS= read -r rel; do
    [ -n "$rel" ] || continue
    if [ -e "$prefix/$rel" ] && ! recorded file "$manifest" "$prefix/$rel"; then
      fail "$prefix/$rel exists and was not installed by this script; nothing was changed"
    fi
  done <<< "$files"
  while IFS=$'\t' read -r name library description; do
    grep -q "\(^\|/\)$library\$" <<< "$files" ||
      fail "the build in $build installs no $library for the driver \"$name\""
    if has_section "$drivers_ini" "$name" && ! recorded driver "$manifest" "$drivers_ini" "$name"; then
      local other
      other=$(odbcinst -q -d -n "$name" 2>/dev/null | sed -n 's/^Driver=//p') || true
      fail "a driver \"$name\" is registered in $drivers_ini already (Driver=$other), not by this installation;" \
        "nothing was changed (an installation under another prefix is removed with scripts/uninstall.sh --prefix DIR)"
    fi
  done < <(list_entries driver)

  if [ -f "$manifest" ]; then
    say "Removing the earlier installation under $prefix:"
    remove_manifest "$manifest"
  fi
  start_manifest
  say "Installing under $prefix:"
  while IFS= read -r rel; do
    [ -n "$rel" ] || continue
    put_file "$staged/$rel" "$prefix/$rel"
    say "  $prefix/$rel"
  done <<< "$files"

  [ -e "$drivers_ini" ] || record inifile "$drivers_ini"
  local template="$scratch/driver.ini"
  while IFS=$'\t' read -r name library description; do
    rel=$(grep -m1 "\(^\|/\)$library\$" <<< "$files")
    printf '[%s]\nDescription=%s\nDriver=%s\nSetup=%s\n' \
      "$name" "$description" "$prefix/$rel" "$prefix/$rel" > "$template"
    odbcinst -i -d -f "$template" > /dev/null
    record driver "$drivers_ini" "$name"
    say "  driver \"$name\" registered in $drivers_ini"
  done < <(list_entries driver)
}

system_uninstall() {
  if [ ! -f "$system_manifest" ]; then
    say "Nothing of the drivers is installed under $prefix."
    return 0
  fi
  say "Removing the installation under $prefix:"
  remove_manifest "$system_manifest"
}

# ------------------------------------------------------------------ user's part

# What is there already must have been added by this script. Checked before
# anything is changed, the machine's part included.
user_check() {
  local sources_ini manifest="$user_manifest" dsn driver folder description keys file to
  sources_ini=$(odbc_file "USER DATA SOURCES")
  while IFS=$'\t' read -r dsn driver folder description keys; do
    [ -d "$root/samples/$folder" ] || fail "no folder samples/$folder for the data source $dsn"
    if has_section "$sources_ini" "$dsn" && ! recorded dsn "$manifest" "$sources_ini" "$dsn"; then
      fail "a data source $dsn is in $sources_ini already, not added by this script; nothing was changed"
    fi
    for file in "$root/samples/$folder"/*; do
      case $(basename "$file") in README.md) continue ;; esac
      to="$user_data/samples/$folder/$(basename "$file")"
      if [ -e "$to" ] && ! recorded file "$manifest" "$to"; then
        fail "$to exists and was not copied by this script; nothing was changed"
      fi
    done
  done < <(list_entries sample)
}

user_install() {
  local sources_ini manifest="$user_manifest" dsn driver folder description keys file
  sources_ini=$(odbc_file "USER DATA SOURCES")
  user_check

  if [ -f "$manifest" ]; then
    say "Removing the earlier sample data sources:"
    remove_manifest "$manifest"
  fi
  start_manifest
  say "Sample data sources for $(id -un):"
  [ -e "$sources_ini" ] || record inifile "$sources_ini"
  local template="$scratch/dsn.ini"
  while IFS=$'\t' read -r dsn driver folder description keys; do
    local data="$user_data/samples/$folder"
    for file in "$root/samples/$folder"/*; do
      case $(basename "$file") in README.md) continue ;; esac
      put_file "$file" "$data/$(basename "$file")"
    done
    # The keys may name the database themselves (a workbook among the
    # copies): %DATA% stands for the copies' folder.
    keys=${keys//%DATA%/$data}
    {
      printf '[%s]\nDescription=%s\nDriver=%s\n' "$dsn" "$description" "$driver"
      case ";$keys" in *";Database="*) ;; *) printf 'Database=%s\n' "$data" ;; esac
      [ -z "$keys" ] || printf '%s\n' "$keys" | tr ';' '\n' | sed 's/^ *//; s/ *$//; /^$/d'
    } > "$template"
    odbcinst -i -s -h -f "$template" > /dev/null
    record dsn "$sources_ini" "$dsn"
    say "  $dsn (driver \"$driver\", tables in $data) added to $sources_ini"
  done < <(list_entries sample)
}

user_uninstall() {
  if [ ! -f "$user_manifest" ]; then
    say "No sample data source of the drivers is installed for $(id -un)."
    return 0
  fi
  say "Removing the sample data sources:"
  remove_manifest "$user_manifest"
}

# ------------------------------------------------------------------------ main

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kvinstallXXXXXX")
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Whether the machine's part can be done without root: the prefix (or the
# nearest directory above it that exists) and the odbcinst.ini (or its
# directory) writable.
writable_here() {
  local dir=$prefix ini
  while [ ! -d "$dir" ]; do dir=$(dirname "$dir"); done
  [ -w "$dir" ] || return 1
  ini=$(odbc_file DRIVERS)
  if [ -e "$ini" ]; then [ -w "$ini" ]; else [ -w "$(dirname "$ini")" ]; fi
}

run_system_part() {
  if [ "$action" = uninstall ] && [ ! -f "$system_manifest" ]; then
    system_uninstall
  elif [ "$(id -u)" -eq 0 ] || writable_here; then
    "system_$action"
  else
    local args=(--prefix "$prefix" --part system) keep=()
    if [ "$action" = install ]; then
      staged=$(stage)
      chmod 755 "$scratch"
      args+=(--staged "$staged")
    else
      args=(--uninstall "${args[@]}")
    fi
    [ -z "${ODBCSYSINI-}" ] || keep+=("ODBCSYSINI=$ODBCSYSINI")
    [ -z "${ODBCINSTINI-}" ] || keep+=("ODBCINSTINI=$ODBCINSTINI")
    sudo env "${keep[@]}" "$self" "${args[@]}"
  fi
}

case $part in
  system) "system_$action" ;;
  user) "user_$action" ;;
  all)
    if [ "$action" = install ]; then
      user_check
      run_system_part
      user_install
    else
      user_uninstall
      run_system_part
    fi ;;
  *) fail "unknown part $part" ;;
esac
