#!/usr/bin/env bash
# Configures and builds the libFuzzer targets in build/fuzz (clang, with
# AddressSanitizer and UndefinedBehaviorSanitizer). Prints nothing else.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${CEF_LAUNCHER_FUZZ_BUILD:-$root/build/fuzz}"
jobs="${CEF_LAUNCHER_JOBS:-2}"

# UBSan is "undefined" without vptr: libnode is built without RTTI, and its
# own static initialisers call our instrumented copies of inline library
# functions (shared_ptr release), which then see objects with no type
# information. Every finding stops the run.
undefined="alignment,bool,builtin,bounds,enum,float-cast-overflow,function,integer-divide-by-zero,nonnull-attribute,null,object-size,pointer-overflow,return,returns-nonnull-attribute,shift,signed-integer-overflow,unreachable,vla-bound"

echo "fuzz: configuring $build (clang, address,undefined,fuzzer-no-link)"
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCEF_LAUNCHER_TESTS=OFF \
  -DCEF_LAUNCHER_FUZZ=ON \
  -DCEF_LAUNCHER_SANITIZE="address,$undefined,fuzzer-no-link" \
  -DCMAKE_CXX_FLAGS="-fno-sanitize-recover=all" >/dev/null

echo "fuzz: building with -j$jobs"
cmake --build "$build" -j "$jobs" "$@" >"$build/build.log" 2>&1 || {
  tail -40 "$build/build.log"
  echo "fuzz: build failed (log: $build/build.log)" >&2
  exit 1
}
