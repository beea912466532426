#!/usr/bin/env bash
# Builds the whole suite and the fuzz targets with AddressSanitizer,
# UndefinedBehaviorSanitizer and LeakSanitizer (clang) in build/asan, runs
# the suite, then the fuzz smoke run from the same build. Any report fails.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CEF_LAUNCHER_ASAN_BUILD:-$root/build/asan}"
jobs="${CEF_LAUNCHER_JOBS:-2}"
source "$root/scripts/sanitizer-flags.sh"
ensure_clang

echo "sanitizers: configuring $build (clang, address,undefined,leak)"
cmake -S "$root" -B "$build" "${sanitizer_cmake_args[@]}" >/dev/null

echo "sanitizers: building with -j$jobs"
cmake --build "$build" -j "$jobs" >"$build/build.log" 2>&1 || {
  tail -60 "$build/build.log"
  echo "sanitizers: build failed (log: $build/build.log)" >&2
  exit 1
}

# One process for the whole suite: through CTest every test would pay
# libnode's and ASan's start-up again, ten times the run time. LeakSanitizer
# checks at its exit.
echo "sanitizers: running the suite"
"$build/cef_launcher_tests" --gtest_brief=1

CEF_LAUNCHER_FUZZ_BUILD="$build" CEF_LAUNCHER_FUZZ_PREBUILT=1 \
  "$root/scripts/fuzz-smoke.sh"
