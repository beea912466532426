#!/usr/bin/env bash
# Sets up, builds, and shows cef-launcher at work on cefsim: a renderer runs
# the example HUD page (examples/hud/) against a scripted game, with every
# bridge message traced, and the audio service takes its volume from a file.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CEF_LAUNCHER_BUILD:-$root/build/main}"

"$root/scripts/setup.sh"
"$root/scripts/build.sh" cef-launcher

launcher="$build/cef-launcher"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/profile"
cd "$root"
failed=()

# Runs the launcher as CEF would for one role, shows its output, and checks
# the exit code and one line the output must hold.
run_role() {
  local title="$1" expected="$2"
  shift 2
  echo
  echo "demo: $title"
  echo "demo: cef-launcher $*"
  local code=0
  "$launcher" "$@" >"$work/output" 2>&1 || code=$?
  sed 's/^/  /' "$work/output"
  echo "demo: exit code $code"
  if [ "$code" -ne 0 ] || ! grep -qF -- "$expected" "$work/output"; then
    failed+=("$title")
  fi
}

run_role "a renderer with the HUD page, the game played by a peer script" \
  "demo: passed" \
  --type=renderer --cefsim-page=examples/hud/hud.js \
  --cefsim-peer=examples/hud/peer.js

echo
echo 0.25 >"$work/AudioService.vol"
echo "demo: the browser side wrote 0.25 into $work/AudioService.vol"
run_role "the audio service, with a volume file beside its profile" \
  "volume 0.25" \
  --type=utility --utility-sub-type=audio.mojom.AudioService \
  --user-data-dir="$work/profile"

echo
if [ ${#failed[@]} -ne 0 ]; then
  echo "demo: FAILED: ${failed[*]}" >&2
  exit 1
fi
echo "demo: success: the page and the game agreed, and the audio service" \
  "set its sessions to the level from the file"
