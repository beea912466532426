#!/usr/bin/env bash
# Runs cef-launcher.exe under wine against a stand-in libcef.dll made from
# CEF_ROOT/libcef.def (tests/wine_smoke/stub_libcef.c plus a function
# returning 0 for every other export), and checks that it loads and reaches
# CefExecuteProcess with its instance handle, its application object (which
# answers through the wrapper's C translation) and no sandbox information,
# on a stack of at least the 1.5 MiB CEF's main thread needs, and exits with
# the code CEF returned, having called CefExecuteProcess once (even when CEF
# returns -1).
#
# The real executable is 32-bit. Where this machine's kernel cannot run
# 32-bit programs (wine's 32-bit loader is one), a 64-bit build of the same sources is run under wine64 instead
# (it has no fiber step: 64-bit executables reserve 8 MiB).
#
# Usage: scripts/wine-smoke.sh [EXE] [CEF_ROOT]
#   (defaults build/windows-mingw/Release/cef-launcher.exe and
#    ../shared/cef/cef_binary_130 beside the repository)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
exe=${1:-$repo/build/windows-mingw/Release/cef-launcher.exe}
cef_root=${2:-$repo/../shared/cef/cef_binary_130}
work=$repo/build/windows-wine
step() { echo "wine smoke: $*"; }

if [ ! -f "$cef_root/libcef.def" ]; then
  step "skipped, no CEF distribution with libcef.def at $cef_root"
  exit 0
fi
cef_root=$(cd "$cef_root" && pwd)

source "$repo/scripts/packages.sh"
add_i386_where_it_runs "wine smoke"
# wine from bookworm itself: its 64- and 32-bit halves must be one version.
# shellcheck disable=SC2046  # the package list is words
install_missing "wine smoke" -t bookworm -- $(wine_packages) || exit 1

arch=i686 loader=/usr/lib/wine/wine winearch=win32
if ! runs_32bit_programs; then
  arch=x86_64 loader=/usr/lib/wine/wine64 winearch=win64
  step "this machine cannot run 32-bit programs; using a 64-bit build under wine64"
  exe=$repo/build/windows-mingw64/Release/cef-launcher.exe
  "$repo/scripts/build-windows.sh" --x86_64 "$cef_root"
elif ! "$loader" --version >/dev/null 2>&1; then
  step "FAILED: wine's 32-bit loader does not start on a machine that runs 32-bit programs" >&2
  exit 1
fi
[ -f "$exe" ] || { step "FAILED: no $exe (run scripts/build-windows.sh first)" >&2; exit 1; }

step "stand-in libcef.dll ($arch) from $cef_root/libcef.def"
rm -rf "$work"
mkdir -p "$work/stub" "$work/run" "$work/no-libcef"
hash_of() { sed -n "s/^#define $1 \"\\([0-9a-f]*\\)\"$/\\1/p" "$2" | head -n 1; }
# The Windows hash is the one right after "#if defined(OS_WIN)".
platform=$(sed -n '/defined(OS_WIN)/{n;s/^#define CEF_API_HASH_PLATFORM "\([0-9a-f]*\)"$/\1/p;}' \
  "$cef_root/include/cef_api_hash.h")
universal=$(hash_of CEF_API_HASH_UNIVERSAL "$cef_root/include/cef_api_hash.h")
commit=$(hash_of CEF_COMMIT_HASH "$cef_root/include/cef_version.h")
if [ -z "$platform" ] || [ -z "$universal" ] || [ -z "$commit" ]; then
  step "FAILED: cannot read the API hashes from $cef_root/include" >&2
  exit 1
fi
cat >"$work/stub/stub_hashes.h" <<EOF
#define STUB_API_HASH_PLATFORM "$platform"
#define STUB_API_HASH_UNIVERSAL "$universal"
#define STUB_COMMIT_HASH "$commit"
EOF
special='^(cef_api_hash|cef_execute_process|cef_run_(win)?main_with_preferred_stack_size)$'
awk '/^EXPORTS/ {e = 1; next} e && NF && $1 !~ /^;/ {print $1}' "$cef_root/libcef.def" |
  grep -Ev "$special" | sed 's/.*/int &(void) { return 0; }/' >"$work/stub/other_exports.c"
"$arch-w64-mingw32-gcc-posix" -shared -O2 -Wall -Werror -std=c11 -DBUILDING_CEF_SHARED \
  -D__MINGW_USE_VC2005_COMPAT -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0A00 \
  -I "$cef_root" -I "$work/stub" \
  "$repo/tests/wine_smoke/stub_libcef.c" "$work/stub/other_exports.c" \
  "$cef_root/libcef.def" -static-libgcc -o "$work/run/libcef.dll"
cp "$exe" "$work/run/"
cp "$exe" "$work/no-libcef/"

export WINEPREFIX=$work/prefix-$winearch WINEARCH=$winearch WINELOADER=$loader
export WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d
step "creating a $winearch prefix in $WINEPREFIX"
"$loader" wineboot -i >/dev/null 2>&1 || { step "FAILED: wineboot -i" >&2; exit 1; }
trap 'wineserver -k 2>/dev/null || true' EXIT

passed=0
failed=0
# Runs the executable in folder $2 with the environment assignments $3 and
# expects exit status $4.
expect_exit() {
  local name=$1 dir=$2 env=$3 expected=$4 status=0
  # shellcheck disable=SC2086  # $env is a list of assignments or empty
  (cd "$dir" && env $env "$loader" "$dir/cef-launcher.exe" --type=renderer) \
    >/dev/null 2>&1 || status=$?
  if [ "$status" -eq "$expected" ]; then
    passed=$((passed + 1))
    echo "  ok    $name (exit $status)"
  else
    failed=$((failed + 1))
    echo "  FAIL  $name: exit $status, expected $expected"
  fi
}

step "running $arch cef-launcher.exe under $("$loader" --version)"
# 42: the stand-in's cef_execute_process found everything it checks (60-64
# name the first thing missing, see stub_libcef.c).
expect_exit "reaches CefExecuteProcess with the application and a big stack" "$work/run" "" 42
if [ "$arch" = i686 ]; then
  expect_exit "without a fiber it runs on the thread's own small stack" "$work/run" STUB_NO_FIBER=1 63
fi
# CEF's -1 (no process type) is the exit code, from one call: a second call
# of the stand-in would exit 65. Exit code -1 is status 255.
expect_exit "CEF's -1 is returned from a single CefExecuteProcess" "$work/run" STUB_EXECUTE_RESULT=-1 255
expect_exit "does not start without libcef.dll" "$work/no-libcef" "" 53
echo "wine smoke: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
