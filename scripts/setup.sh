#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the
# project: the toolchain and test libraries from apt, and V8 (Debian's
# libnode108) for cefsim. Safe to run again; prints one line per step.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
libnode_dir="$root/.deps/libnode"
debs_dir="$root/.deps/debs"

say() { echo "setup: $*"; }
fail() {
  echo "setup: FAILED: $*" >&2
  exit 1
}

source "$root/scripts/packages.sh"

# Toolchain, test libraries, {fmt}, and libnode108's runtime dependencies,
# in one apt-get call: a package the build or the unit tests need goes here
# (the later steps' tools are in scripts/packages.sh).
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev
  libfmt-dev pkg-config locales ccache
  libuv1 libicu72 libc-ares2 libnghttp2-14 libbrotli1 libssl3 zlib1g)
# npm, only to install the TypeScript compiler below.
typescript_version=5.9.3
node_dir="$root/.deps/node"
tsc_package="$node_dir/node_modules/typescript/package.json"
tsc_present() {
  [ -f "$tsc_package" ] &&
    grep -q "\"version\": \"$typescript_version\"" "$tsc_package"
}
if ! tsc_present && ! command -v npm >/dev/null 2>&1; then
  packages+=(npm)
fi
if install_missing setup "${packages[@]}"; then
  say "${#packages[@]} apt packages present"
else
  fail "apt-get install failed"
fi

# A comma-decimal locale, for the test showing that the volume level is read
# the same whatever the process locale (it skips without one).
if locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  say "locale de_DE.UTF-8 present"
else
  say "generating locale de_DE.UTF-8"
  "${package_sudo[@]}" localedef -i de_DE -c -f UTF-8 de_DE.UTF-8 ||
    fail "localedef de_DE.UTF-8 failed"
fi

# V8 comes from Debian's libnode. Another Node.js package (for instance
# nodesource's nodejs) blocks installing it, so it is unpacked into .deps/
# instead, where CMake looks first.
if [ -f "$libnode_dir/usr/include/node/v8.h" ] &&
  ls "$libnode_dir"/usr/lib/*/libnode.so.108 >/dev/null 2>&1; then
  say "libnode 108 unpacked in .deps/libnode"
elif package_installed libnode-dev && [ -f /usr/include/node/v8.h ]; then
  say "libnode-dev installed on the system"
else
  mkdir -p "$debs_dir"
  if ! ls "$debs_dir"/libnode108_*.deb "$debs_dir"/libnode-dev_*.deb \
    >/dev/null 2>&1; then
    say "downloading libnode108 and libnode-dev"
    (cd "$debs_dir" && apt-get download -qq libnode108 libnode-dev \
      >/dev/null 2>&1) || {
      apt_get_quiet update || fail "apt-get update failed"
      (cd "$debs_dir" && apt-get download -qq libnode108 libnode-dev \
        >/dev/null) || fail "apt-get download libnode108 libnode-dev failed"
    }
  fi
  say "unpacking libnode into .deps/libnode"
  rm -rf "$libnode_dir"
  for deb in "$debs_dir"/libnode108_*.deb "$debs_dir"/libnode-dev_*.deb; do
    dpkg -x "$deb" "$libnode_dir" || fail "dpkg -x $deb failed"
  done
  [ -f "$libnode_dir/usr/include/node/v8.h" ] ||
    fail "the libnode packages hold no include/node/v8.h"
fi

# The TypeScript compiler that checks types/squirrel.d.ts
# (scripts/check-types.sh), from npm into .deps/node, never globally.
if tsc_present; then
  say "typescript $typescript_version in .deps/node"
else
  say "installing typescript $typescript_version into .deps/node"
  mkdir -p "$node_dir"
  npm install --prefix "$node_dir" --no-save --no-package-lock --no-audit \
    --no-fund --loglevel=error "typescript@$typescript_version" >/dev/null ||
    fail "npm install typescript@$typescript_version failed"
fi

"$root/scripts/setup-browser.sh"
