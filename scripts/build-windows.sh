#!/usr/bin/env bash
# Builds the real 32-bit cef-launcher.exe with MinGW-w64 against a CEF 130
# distribution (libcef_dll_wrapper from its sources, libcef from its import
# library or from libcef.def) and prints the checker's verdict.
#
# Usage: scripts/build-windows.sh [--x86_64] [CEF_ROOT]
#        scripts/build-windows.sh --install-only   (just the cross toolchain)
#   CEF_ROOT defaults to $CEF_ROOT, then ../shared/cef/cef_binary_130 beside
#   the repository. Output: build/windows-mingw/Release/cef-launcher.exe.
#   --x86_64 builds the same sources as a 64-bit program instead, into
#   build/windows-mingw64, for wine without 32-bit support; it is not the
#   real executable and is not checked.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
triple=i686-w64-mingw32 build=$repo/build/windows-mingw
if [ "${1:-}" = --x86_64 ]; then
  triple=x86_64-w64-mingw32 build=$repo/build/windows-mingw64
  shift
fi

source "$repo/scripts/packages.sh"
install_toolchain() {
  # shellcheck disable=SC2046  # the package list is words
  install_missing "windows build" $(mingw_packages "${triple%%-*}") \
    cmake ninja-build libfmt-dev python3 || exit 1
}

if [ "${1:-}" = --install-only ]; then
  install_toolchain
  exit 0
fi

cef_root=${1:-${CEF_ROOT:-$repo/../shared/cef/cef_binary_130}}
if [ ! -f "$cef_root/cmake/FindCEF.cmake" ]; then
  echo "windows build: skipped, no CEF distribution at $cef_root (a clone without ../shared has none)"
  exit 0
fi
# The real path, so that the compiler cache sees the same one from any clone.
cef_root=$(cd "$cef_root" && pwd -P)
exe=$build/Release/cef-launcher.exe

install_toolchain
mkdir -p "$build"

echo "== configure $build against $cef_root"
cmake -S "$repo" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-${triple%%-*}.cmake" \
  -DCEF_ROOT="$cef_root" -DCMAKE_BUILD_TYPE=Release >"$build.configure.log" 2>&1 ||
  { tail -n 40 "$build.configure.log"; echo "windows build: configure failed" >&2; exit 1; }

echo "== build libcef_dll_wrapper and cef-launcher.exe (-j2, log in $build.log)"
cmake --build "$build" -j2 >"$build.log" 2>&1 ||
  { grep -E -A12 'FAILED|error' "$build.log" | head -n 80; echo "windows build: build failed" >&2; exit 1; }

if [ "$triple" = i686-w64-mingw32 ]; then
  echo "== check $exe"
  python3 "$repo/scripts/check-pe.py" "$exe"
else
  echo "== built $exe (64-bit, not checked)"
fi

# The conformance client, built by the same configuration: a console
# program with CEF's executable settings.
conformance_exe=$build/Release/cef-launcher-conformance.exe
if [ "$triple" = i686-w64-mingw32 ]; then
  echo "== check $conformance_exe"
  python3 "$repo/scripts/check-pe.py" --console "$conformance_exe"
else
  echo "== built $conformance_exe (64-bit, not checked)"
fi
