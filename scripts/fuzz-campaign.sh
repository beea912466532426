#!/usr/bin/env bash
# A long fuzzing run of one target, niced, growing fuzz/corpus-work/<target>
# (not in git) from the repo corpus; afterwards `-merge=1` it back into
# fuzz/corpus/<target> to keep what is new.
#   scripts/fuzz-campaign.sh <target> [seconds]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CEF_LAUNCHER_FUZZ_BUILD:-$root/build/fuzz}"
target="${1:?usage: fuzz-campaign.sh <target> [seconds]}"
seconds="${2:-600}"
fuzzer="$build/fuzz/${target}_fuzzer"
[[ -x "$fuzzer" ]] || { echo "fuzz: $fuzzer not built (scripts/fuzz-build.sh)" >&2; exit 1; }

work="$root/fuzz/corpus-work/$target"
mkdir -p "$work" "$root/fuzz/corpus/$target"
source "$root/scripts/sanitizer-flags.sh"
# See fuzz-smoke.sh: the page-script targets check leaks only at exit. The
# time-out is wall-clock time, which a niced run on a busy machine stretches.
leaks=0
case "$target" in
  volume_level | path_segments) leaks=1 ;;
esac
echo "fuzz: $target for ${seconds}s, niced, findings in $work/.."
nice -n 19 "$fuzzer" -max_total_time="$seconds" -timeout=300 -rss_limit_mb=4096 \
  -detect_leaks="$leaks" -print_final_stats=1 -artifact_prefix="$root/fuzz/corpus-work/$target-" \
  "$work" "$root/fuzz/corpus/$target"
