#!/usr/bin/env bash
# Sets up the machine, builds, and runs the whole test suite. Each step is
# one line of STEPS ("name|command"); add a line to add a step.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="${CEF_LAUNCHER_BUILD:-$root/build/main}"
jobs="${CEF_LAUNCHER_JOBS:-2}"

STEPS=(
  "setup|scripts/setup.sh"
  "build|scripts/build.sh"
  "unit tests|ctest --test-dir '$build' --output-on-failure -j $jobs --timeout 600"
  "page types|scripts/check-types.sh"
  "real windows executable|scripts/test-windows.sh"
  "sanitizers and fuzz smoke|scripts/test-sanitizers.sh"
)

for step in "${STEPS[@]}"; do
  name="${step%%|*}"
  command="${step#*|}"
  echo "test: $name"
  if ! eval "$command"; then
    echo "test: FAILED: $name" >&2
    exit 1
  fi
done
echo "test: all steps passed"
