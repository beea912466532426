#!/usr/bin/env bash
# Configures and builds the libFuzzer targets in build/fuzz (clang, with
# AddressSanitizer and UndefinedBehaviorSanitizer, no test suite). Extra
# arguments go to the build, e.g. --target volume_level_fuzzer.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CEF_LAUNCHER_FUZZ_BUILD:-$root/build/fuzz}"
jobs="${CEF_LAUNCHER_JOBS:-2}"
source "$root/scripts/sanitizer-flags.sh"
ensure_clang

echo "fuzz: configuring $build (clang, address,undefined,fuzzer-no-link)"
cmake -S "$root" -B "$build" "${sanitizer_cmake_args[@]}" \
  -DCEF_LAUNCHER_TESTS=OFF >/dev/null

echo "fuzz: building with -j$jobs"
cmake --build "$build" -j "$jobs" "$@" >"$build/build.log" 2>&1 || {
  tail -40 "$build/build.log"
  echo "fuzz: build failed (log: $build/build.log)" >&2
  exit 1
}
