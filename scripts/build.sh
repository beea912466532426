#!/usr/bin/env bash
# Configures (once) and builds everything in build/main, incrementally;
# arguments name the only targets to build (scripts/build.sh cef-launcher).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CEF_LAUNCHER_BUILD:-$root/build/main}"
jobs="${CEF_LAUNCHER_JOBS:-2}"

if [ ! -f "$build/build.ninja" ]; then
  echo "build: configuring $build"
  mkdir -p "$root/build"
  cmake -S "$root" -B "$build" -G Ninja >"$root/build/configure.log" 2>&1 || {
    cat "$root/build/configure.log" >&2
    echo "build: FAILED: cmake configure" >&2
    exit 1
  }
fi

targets=()
for target in "$@"; do
  targets+=(--target "$target")
done

echo "build: building ${*:-everything} in $build with -j$jobs"
mkdir -p "$build"
if ! cmake --build "$build" -j "$jobs" "${targets[@]}" >"$build/build.log" 2>&1; then
  grep -E "error|FAILED" -A5 "$build/build.log" | head -60 >&2
  echo "build: FAILED (full log: $build/build.log)" >&2
  exit 1
fi
