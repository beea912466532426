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

# What runs here: the suite and the fuzz targets (the benchmarks and the
# conformance program run in the release build).
echo "sanitizers: building the suite and the fuzz targets with -j$jobs"
cmake --build "$build" -j "$jobs" --target cef_launcher_tests fuzz/all \
  >"$build/build.log" 2>&1 || {
  tail -60 "$build/build.log"
  echo "sanitizers: build failed (log: $build/build.log)" >&2
  exit 1
}

# The suite in one process a core (gtest's shards), not through CTest, where
# every test would pay libnode's and ASan's start-up again, ten times the run
# time. LeakSanitizer checks at each process's exit.
#
# release_only: tests that run in the release suite only. They convert page
# values of millions of elements past what one message carries (1-2 GB and
# minutes each under ASan). CutAfterOneBuffer/* cuts the same values the same
# ways after one large buffer, among 40,000 entries, and runs here.
release_only="PastOneMessage/*"
echo "sanitizers: running the suite in $jobs shards; $release_only run in the release suite only (CutAfterOneBuffer/* makes the same cuts here)"
pids=()
for ((index = 0; index < jobs; index++)); do
  GTEST_TOTAL_SHARDS=$jobs GTEST_SHARD_INDEX=$index \
    "$build/cef_launcher_tests" --gtest_brief=1 \
    --gtest_filter="-$release_only" >"$build/suite-$index.log" 2>&1 &
  pids+=($!)
done
failed=0
for ((index = 0; index < jobs; index++)); do
  status=0
  wait "${pids[$index]}" || status=$?
  if [ "$status" -ne 0 ]; then
    failed=1
    tail -n 80 "$build/suite-$index.log"
    echo "sanitizers: shard $index of the suite FAILED (exit $status, log: $build/suite-$index.log)" >&2
  else
    grep -E '^\[  PASSED  \]|tests? ran' "$build/suite-$index.log" | tail -n 1 |
      sed "s/^/sanitizers: shard $index: /"
  fi
done
[ "$failed" -eq 0 ] || exit 1

CEF_LAUNCHER_FUZZ_BUILD="$build" CEF_LAUNCHER_FUZZ_PREBUILT=1 \
  "$root/scripts/fuzz-smoke.sh"
