#!/usr/bin/env bash
# Runs cef-launcher-conformance.exe under wine against the stand-in
# libcef.dll that scripts/wine-smoke.sh builds (its CefInitialize cannot
# start anything), and checks that the program gives up cleanly: a non-zero
# exit within the time limit, no crash, and exactly one line saying
# "CEF could not be started: ...". Also checks the line for a folder without
# cef-launcher.exe, for a stand-in with another API hash (which CEF's
# wrapper would otherwise let pass as exit 0), and that a run from a folder
# with a non-ASCII name leaves its report.txt there.
#
# Usage: scripts/wine-conformance.sh [CEF_ROOT]
#   Runs scripts/wine-smoke.sh first when its stand-in and wine prefix are
#   not there yet.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
cef_root=${1:-$repo/../shared/cef/cef_binary_130}
step() { echo "wine conformance: $*"; }

if [ ! -f "$cef_root/libcef.def" ]; then
  step "skipped, no CEF distribution with libcef.def at $cef_root"
  exit 0
fi

stub=$repo/build/windows-wine/run/libcef.dll
if [ ! -f "$stub" ] || ! command -v wineserver >/dev/null; then
  step "building the stand-in libcef.dll through scripts/wine-smoke.sh"
  "$repo/scripts/wine-smoke.sh" "$repo/build/windows-mingw/Release/cef-launcher.exe" "$cef_root" >/dev/null
fi

source "$repo/scripts/packages.sh"
arch=i686 loader=/usr/lib/wine/wine winearch=win32 build=$repo/build/windows-mingw
if ! runs_32bit_programs; then
  arch=x86_64 loader=/usr/lib/wine/wine64 winearch=win64 build=$repo/build/windows-mingw64
  step "this machine cannot run 32-bit programs; using the 64-bit build under wine64"
fi
for file in "$stub" "$build/Release/cef-launcher.exe" "$build/Release/cef-launcher-conformance.exe"; do
  [ -f "$file" ] || { step "FAILED: no $file" >&2; exit 1; }
done

work=$repo/build/windows-wine-conformance
wide=$work/Spiele/Übersicht
rm -rf "$work"
mkdir -p "$work/run" "$work/no-launcher" "$work/other-hash" "$wide"
cp "$stub" "$build/Release/cef-launcher.exe" "$build/Release/cef-launcher-conformance.exe" "$work/run/"
cp "$stub" "$build/Release/cef-launcher-conformance.exe" "$work/no-launcher/"
cp "$stub" "$build/Release/cef-launcher.exe" "$build/Release/cef-launcher-conformance.exe" "$wide/"

# The same stand-in, reporting another API hash.
stub_src=$repo/build/windows-wine/stub
[ -f "$stub_src/stub_hashes.h" ] && [ -f "$stub_src/other_exports.c" ] ||
  { step "FAILED: no stand-in sources in $stub_src (scripts/wine-smoke.sh makes them)" >&2; exit 1; }
mkdir -p "$work/other-hash-stub"
sed 's/^#define STUB_API_HASH_PLATFORM .*/#define STUB_API_HASH_PLATFORM "0123456789abcdef0123456789abcdef01234567"/' \
  "$stub_src/stub_hashes.h" >"$work/other-hash-stub/stub_hashes.h"
"$arch-w64-mingw32-gcc-posix" -shared -O2 -Wall -Werror -std=c11 -DBUILDING_CEF_SHARED \
  -D__MINGW_USE_VC2005_COMPAT -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0A00 \
  -I "$cef_root" -I "$work/other-hash-stub" \
  "$repo/tests/wine_smoke/stub_libcef.c" "$stub_src/other_exports.c" \
  "$cef_root/libcef.def" -static-libgcc -o "$work/other-hash/libcef.dll"
cp "$build/Release/cef-launcher.exe" "$build/Release/cef-launcher-conformance.exe" "$work/other-hash/"

export WINEPREFIX=$repo/build/windows-wine/prefix-$winearch WINEARCH=$winearch WINELOADER=$loader
export WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d
trap 'wineserver -k 2>/dev/null || true' EXIT

passed=0
failed=0
# Runs the program in folder $2; expects exit status $3 and one line
# starting "CEF could not be started: " that contains $4.
expect_refusal() {
  local name=$1 dir=$2 expected=$3 reason=$4 status=0
  (cd "$dir" && timeout 120 "$loader" "$dir/cef-launcher-conformance.exe") \
    >"$dir/out.txt" 2>/dev/null || status=$?
  tr -d '\r' <"$dir/out.txt" >"$dir/out.lf"
  local lines
  lines=$(grep -c '^CEF could not be started: ' "$dir/out.lf" || true)
  if [ "$status" -eq "$expected" ] && [ "$lines" -eq 1 ] &&
    grep -q "^CEF could not be started: .*$reason" "$dir/out.lf"; then
    passed=$((passed + 1))
    echo "  ok    $name (exit $status): $(grep '^CEF could not be started' "$dir/out.lf")"
  else
    failed=$((failed + 1))
    echo "  FAIL  $name: exit $status (expected $expected), output:"
    sed 's/^/          /' "$dir/out.lf"
  fi
}

step "running $arch cef-launcher-conformance.exe under $("$loader" --version)"
expect_refusal "the stand-in libcef.dll starts nothing" "$work/run" 2 "CefExecuteProcess returned"
expect_refusal "no cef-launcher.exe beside it" "$work/no-launcher" 2 "no cef-launcher.exe in"
expect_refusal "a libcef.dll with another API hash" "$work/other-hash" 2 \
  "libcef.dll has API hash 0123456789abcdef"
expect_refusal "a folder named Spiele/Übersicht" "$wide" 2 "CefExecuteProcess returned"
# The report of that run: in its run folder, holding the line printed.
report=$(find "$wide" -path '*conformance-run-*/report.txt' | head -n 1)
if [ -n "$report" ] && tr -d '\r' <"$report" | grep -q '^CEF could not be started: '; then
  passed=$((passed + 1))
  echo "  ok    the report of a failed start is written under Spiele/Übersicht"
else
  failed=$((failed + 1))
  echo "  FAIL  no report.txt with the refusal under $wide: ${report:-none found}"
fi
echo "wine conformance: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
