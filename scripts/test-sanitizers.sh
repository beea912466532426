#!/usr/bin/env bash
# Builds the whole suite and the fuzz targets with AddressSanitizer,
# UndefinedBehaviorSanitizer and LeakSanitizer (clang) in build/asan, runs
# the suite, then the fuzz smoke run from the same build. Any report fails.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CEF_LAUNCHER_ASAN_BUILD:-$root/build/asan}"
jobs="${CEF_LAUNCHER_JOBS:-2}"
source "$root/scripts/sanitizer-flags.sh"

echo "sanitizers: configuring $build (clang, address,undefined,leak)"
cmake -S "$root" -B "$build" "${sanitizer_cmake_args[@]}" >/dev/null

echo "sanitizers: building with -j$jobs"
cmake --build "$build" -j "$jobs" >"$build/build.log" 2>&1 || {
  tail -60 "$build/build.log"
  echo "sanitizers: build failed (log: $build/build.log)" >&2
  exit 1
}

echo "sanitizers: running the suite"
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 900

CEF_LAUNCHER_FUZZ_BUILD="$build" CEF_LAUNCHER_FUZZ_PREBUILT=1 \
  "$root/scripts/fuzz-smoke.sh"
