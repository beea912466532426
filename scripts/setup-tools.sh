#!/usr/bin/env bash
# Installs the tools of the steps after the unit tests (scripts/packages.sh,
# tools_packages) in one apt-get call, only what is missing. scripts/test.sh
# runs it in the background while the program builds; the scripts that use
# the tools install them themselves when run alone.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/packages.sh"
say() { echo "setup-tools: $*"; }

add_i386_where_it_runs setup-tools
runs_32bit_programs ||
  say "this machine cannot run 32-bit programs: wine64 and a 64-bit MinGW-w64 for the wine checks"

# wine from bookworm itself: its 64- and 32-bit halves must be one version.
install_missing setup-tools -t bookworm -- "${tools_packages[@]}"
say "${#tools_packages[@]} packages present"
