#!/usr/bin/env bash
# Compiles every program source and header (launcher, bridge, convert,
# common) against CEF 130's real headers with the host compiler, as for a
# Linux x64 distribution, so that a call that exists only in cefsim fails
# here rather than in a user's build. The MinGW build of
# scripts/build-windows.sh does the same for Windows.
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
cef_root=$(cd "$cef_root" && pwd)
cxx=${CXX:-g++}

# CEF's own GCC settings for C++ (no exceptions, no RTTI), the project's
# warnings, and the defines of a Linux x64 distribution's cef_config.h.
flags=(-std=c++20 -fsyntax-only -fno-exceptions -fno-rtti -Wall -Wextra -Werror
  -DNDEBUG -DCEF_X11=1 -DCEF_V8_ENABLE_SANDBOX=1
  -isystem "$cef_root" -I "$repo")

cd "$repo" || exit 1
shopt -s nullglob
sources=() headers=()
# Windows-only files build in the MinGW build instead.
for file in {launcher,bridge,convert,common}/*.cc; do
  [[ $file == *_win.cc ]] || sources+=("$file")
done
for file in {launcher,bridge,convert,common}/*.h; do
  [[ $file == *_win.h ]] || headers+=("$file")
done
echo "== real-header check: ${#sources[@]} sources and ${#headers[@]} headers with $cxx against $cef_root"

log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT

# Compiles $1 (a source, or a header through a one-line unit) into $log.
compile_one() {
  local file=$1 out
  out="$log/$(echo "$file" | tr / _).txt"
  if [[ $file == *.h ]]; then
    printf '#include "%s"\n' "$file" | "$cxx" "${flags[@]}" -x c++ - >"$out" 2>&1
  else
    "$cxx" "${flags[@]}" "$file" >"$out" 2>&1
  fi || { echo "$file" >>"$log/failed"; }
}
# Two cores are shared by everyone: at most two compilers at once.
jobs_running=0
for file in "${sources[@]}" "${headers[@]}"; do
  compile_one "$file" &
  jobs_running=$((jobs_running + 1))
  if [ "$jobs_running" -ge 2 ]; then
    wait -n
    jobs_running=$((jobs_running - 1))
  fi
done
wait

if [ -s "$log/failed" ]; then
  sort "$log/failed" | while read -r file; do
    echo "FAIL  $file"
    sed 's/^/      /' "$log/$(echo "$file" | tr / _).txt" | head -n 40
  done
  echo "real-header check: $(wc -l <"$log/failed") of $((${#sources[@]} + ${#headers[@]})) files do not compile against the real headers"
  exit 1
fi
echo "real-header check: every program file compiles against the real headers"
