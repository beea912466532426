#!/usr/bin/env bash
# Sets up the machine, builds, and runs the whole test suite. Each step is
# one line of STEPS ("name|command"); add a line to add a step. Every step
# prints its wall time and the CPU time of what it ran (user+sys), so a slow
# step shows where it happens even on a loaded machine.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="${CEF_LAUNCHER_BUILD:-$root/build/main}"
jobs="${CEF_LAUNCHER_JOBS:-2}"

STEPS=(
  "setup|scripts/setup.sh"
  "tools, in the background|background scripts/setup-tools.sh"
  "build|scripts/build.sh"
  "unit tests|ctest --test-dir '$build' --output-on-failure -j $jobs --timeout 600"
  "page types|scripts/check-types.sh"
  "tools|wait_background"
  "real windows executable|scripts/test-windows.sh"
  "sanitizers and fuzz smoke|scripts/test-sanitizers.sh"
)

# One step may run in the background (slow package installs, mostly waiting
# on the network and the disk) while the build uses the cores; a later step
# waits for it and shows its output.
background_pid=
background_log="$root/build/background.log"
background() {
  mkdir -p "$root/build"
  (
    TIMEFORMAT="background step took %0Rs (cpu %0Us user, %0Ss sys)"
    time eval "$*"
  ) >"$background_log" 2>&1 &
  background_pid=$!
}
wait_background() {
  [ -n "$background_pid" ] || return 0
  local status=0
  wait "$background_pid" || status=$?
  background_pid=
  sed 's/^/  /' "$background_log"
  return "$status"
}

# "1m2s" for a number of seconds.
duration() {
  local seconds=$1
  if [ "$seconds" -ge 60 ]; then
    echo "$((seconds / 60))m$((seconds % 60))s"
  else
    echo "${seconds}s"
  fi
}

# Sets cpu to the user+sys seconds of every finished child so far: bash's
# `times`, which must run in this shell (in a pipe or $(...) it would ask a
# fresh subshell).
times_file=$(mktemp)
# An install must not be cut off half-way when a step fails.
trap 'rm -f "$times_file"
  if [ -n "$background_pid" ]; then
    echo "test: waiting for the background step"
    wait "$background_pid" || true
  fi' EXIT
read_cpu() {
  times >"$times_file"
  cpu=$(awk 'NR == 2 {
    total = 0
    for (i = 1; i <= 2; i++) {
      split($i, part, "m"); sub("s", "", part[2])
      total += part[1] * 60 + part[2]
    }
    printf "%d\n", total
  }' "$times_file")
}

started=$SECONDS
read_cpu
cpu_started=$cpu
for step in "${STEPS[@]}"; do
  name="${step%%|*}"
  command="${step#*|}"
  echo "test: $name"
  step_started=$SECONDS
  read_cpu
  step_cpu=$cpu
  status=0
  eval "$command" || status=$?
  read_cpu
  echo "test: step \"$name\" took $(duration $((SECONDS - step_started)))" \
    "(cpu $(duration $((cpu - step_cpu))))"
  if [ "$status" -ne 0 ]; then
    echo "test: FAILED: $name" >&2
    exit 1
  fi
done
read_cpu
echo "test: all steps passed in $(duration $((SECONDS - started)))" \
  "(cpu $(duration $((cpu - cpu_started))))"
