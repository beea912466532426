#!/usr/bin/env bash
# Opens the example HUD (examples/hud/index.html) in headless Chromium with
# the squirrel stand-in and its scripted game, checks that the game's checks
# pass with no page error, and writes a screenshot (default
# docs/hud-standin.png). Needs scripts/setup-browser.sh.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
exec node "$root/tests/standin/hud-screenshot.mjs" \
  "${1:-$root/docs/hud-standin.png}"
