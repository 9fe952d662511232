#!/usr/bin/env bash
# Removes what scripts/install.sh added, and nothing else: the user's sample
# data sources and their copies of the sample tables, then the drivers'
# registrations with unixODBC (odbcinst -u -d -n NAME) and the files under
# the prefix, as the installation's manifests list them.
#
# Usage: uninstall.sh [--prefix DIR]   (default /usr/local, as installed)
exec "$(cd "$(dirname "$0")" && pwd)/install.sh" --uninstall "$@"
