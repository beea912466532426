#!/usr/bin/env bash
# CI's fuzz smoke run: every target replays its corpus from fuzz/corpus/ and
# then runs a fixed number of new inputs. Any finding fails the run. The
# corpus in the repo is only read.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CEF_LAUNCHER_FUZZ_BUILD:-$root/build/fuzz}"
runs="${CEF_LAUNCHER_FUZZ_RUNS:-50000}"

# CEF_LAUNCHER_FUZZ_PREBUILT: the targets are already built there (the
# sanitizer run builds them with the suite).
if [[ -z "${CEF_LAUNCHER_FUZZ_PREBUILT:-}" ]]; then
  "$root/scripts/fuzz-build.sh"
fi
source "$root/scripts/sanitizer-flags.sh"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

for fuzzer in "$build"/fuzz/*_fuzzer; do
  name="$(basename "$fuzzer")"
  target="${name%_fuzzer}"
  corpus="$root/fuzz/corpus/$target"
  mkdir -p "$scratch/$target"
  # The targets that run page script are about a hundred times slower, and
  # V8's heap grows inside an input, which would make LeakSanitizer scan the
  # whole heap after nearly every one; their leaks are checked at exit. Their
  # time-out only catches a hang: page script the conversion must run (a
  # Map's own keys(), a getter) can take a while under the sanitizers, and
  # which inputs the run tries depends on the order the corpus is read in.
  case "$target" in
    volume_level | path_segments) count="$runs" leaks=1 timeout=60 ;;
    *) count="$((runs / 10))" leaks=0 timeout=300 ;;
  esac
  echo "fuzz: $target, corpus $(ls "$corpus" 2>/dev/null | wc -l) inputs + $count runs"
  if ! "$fuzzer" -runs="$count" -seed=1 -timeout="$timeout" -rss_limit_mb=4096 \
      -detect_leaks="$leaks" \
      -artifact_prefix="$scratch/" \
      "$scratch/$target" $([[ -d "$corpus" ]] && echo "$corpus") \
      >"$scratch/$target.log" 2>&1; then
    tail -60 "$scratch/$target.log"
    for artifact in "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* "$scratch"/oom-*; do
      [[ -f "$artifact" ]] && { echo "fuzz: $target finding $(basename "$artifact"):"; xxd "$artifact" | head -20; }
    done
    echo "fuzz: $target FAILED" >&2
    exit 1
  fi
  grep -E '^(Done|#[0-9]+.*DONE)' "$scratch/$target.log" | tail -1 || true
done
echo "fuzz: smoke run clean"
