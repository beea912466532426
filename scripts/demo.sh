#!/usr/bin/env bash
# Sets up, builds, and runs cef-launcher once in each process role CEF would
# start it in, with cefsim tracing every hook CEF calls and what it did.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CEF_LAUNCHER_BUILD:-$root/build/main}"

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

launcher="$build/cef-launcher"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/profile"

# Runs the launcher as CEF would for one role and shows its exit code.
run_role() {
  local title="$1"
  shift
  echo
  echo "demo: $title: cef-launcher $*"
  local code=0
  CEFSIM_TRACE=1 "$launcher" "$@" >"$work/output" 2>&1 || code=$?
  sed 's/^/  /' "$work/output"
  # A process exit code is one byte: CEF's -1 shows as 255.
  echo "demo: exit code $code"
}

run_role "browser process (no role)"
run_role "renderer" --type=renderer
run_role "GPU process" --type=gpu-process
echo 0.25 >"$work/AudioService.vol"
run_role "audio service" --type=utility \
  --utility-sub-type=audio.mojom.AudioService \
  --user-data-dir="$work/profile"
echo "demo: beside the profile: $(cd "$work" && ls -x --ignore=profile)" \
  "(AudioService.pid holds $(cat "$work/AudioService.pid" 2>/dev/null || echo nothing))"
run_role "crash handler" --type=crashpad-handler
