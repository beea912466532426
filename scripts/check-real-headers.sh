#!/usr/bin/env bash
# Compiles every program source and header (launcher, bridge, convert,
# common, and peer/ when it exists) against CEF 130's real headers with the
# host compiler, as for a Linux x64 distribution, so that a call that exists
# only in cefsim fails here rather than in a user's build. The warnings of
# cmake/program-warnings.txt stand for MSVC's /W4 /WX: a warning here is a
# failed MSVC build. The MinGW build of scripts/build-windows.sh does the
# same for Windows.
#
# Usage: scripts/check-real-headers.sh [CEF_ROOT]
#   (default ../shared/cef/cef_binary_130 beside the repository)
set -uo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
cef_root=${1:-$repo/../shared/cef/cef_binary_130}

if [ ! -f "$cef_root/include/cef_version.h" ]; then
  echo "real-header check: skipped, no CEF distribution at $cef_root (a clone without ../shared has none)"
  exit 0
fi
# The real path, so that the compiler cache sees the same one from any clone.
cef_root=$(cd "$cef_root" && pwd -P)
cxx=${CXX:-g++}
source "$repo/scripts/compiler-cache.sh"

# The program's warnings, one flag a line.
mapfile -t warnings < <(grep -E '^-' "$repo/cmake/program-warnings.txt")
# clang's -Wshadow leaves out constructor parameters named like members.
if "$cxx" --version 2>/dev/null | grep -q clang; then
  warnings+=(-Wshadow-all)
fi
# CEF's own GCC settings for C++ (no exceptions, no RTTI), the program's
# warnings, and the defines of a Linux x64 distribution's cef_config.h. A
# real compile (-c, optimised), not -fsyntax-only: GCC reports fall-through
# and maybe-uninitialised values only from its optimiser.
flags=(-O2 -c -fno-exceptions -fno-rtti "${warnings[@]}"
  -DNDEBUG -DCEF_X11=1 -DCEF_V8_ENABLE_SANDBOX=1
  -isystem "$cef_root" -I "$repo")

cd "$repo" || exit 1
shopt -s nullglob
sources=() headers=()
# Windows-only files build in the MinGW build instead. Each entry is
# "standard file": the program is C++20; the peer library promises C++17
# and C++20 both.
for file in {launcher,bridge,convert,common}/*.cc; do
  [[ $file == *_win.cc ]] || sources+=("c++20 $file")
done
for file in {launcher,bridge,convert,common}/*.h; do
  [[ $file == *_win.h ]] || headers+=("c++20 $file")
done
for standard in c++17 c++20; do
  for file in peer/*.cc; do sources+=("$standard $file"); done
  for file in peer/*.h; do headers+=("$standard $file"); done
done
echo "== real-header check: ${#sources[@]} sources and ${#headers[@]} headers with $cxx against $cef_root"
echo "   warnings: ${warnings[*]}"

log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT
# The one-line units of the headers live in the clone: the compiler cache
# keys them by their path relative to it.
units=$repo/build/real-headers
mkdir -p "$units"

# Compiles $2 (a source, or a header through a one-line unit) as standard
# $1, its output into $log.
compile_one() {
  local standard=$1 file=$2 name out source
  name=$(echo "$standard $file" | tr '/ ' '__')
  out="$log/$name.txt"
  source=$file
  if [[ $file == *.h ]]; then
    source=$units/$name.cc
    printf '#include "%s"\n' "$file" >"$source"
  fi
  "${compiler_launcher[@]}" "$cxx" -std="$standard" "${flags[@]}" \
    -o "$log/$name.o" "$source" >"$out" 2>&1 ||
    echo "$standard $file" >>"$log/failed"
}
# Two cores are shared by everyone: at most two compilers at once.
jobs_running=0
for entry in "${sources[@]}" "${headers[@]}"; do
  # shellcheck disable=SC2086  # "standard file"
  compile_one $entry &
  jobs_running=$((jobs_running + 1))
  if [ "$jobs_running" -ge 2 ]; then
    wait -n
    jobs_running=$((jobs_running - 1))
  fi
done
wait

if [ -s "$log/failed" ]; then
  sort "$log/failed" | while read -r standard file; do
    echo "FAIL  $file ($standard)"
    sed 's/^/      /' "$log/$(echo "$standard $file" | tr '/ ' '__').txt" |
      head -n 40
  done
  echo "real-header check: $(wc -l <"$log/failed") of $((${#sources[@]} + ${#headers[@]})) files do not compile against the real headers"
  exit 1
fi
echo "real-header check: every program file compiles against the real headers"
