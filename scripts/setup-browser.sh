#!/usr/bin/env bash
# Installs what the in-browser checks of the page stand-in need: Debian's
# chromium, and puppeteer-core from npm into .deps/node-browser (never
# globally, never fetching a browser of its own). Safe to run again; prints
# one line per step.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
node_dir="$root/.deps/node-browser"
puppeteer_version=25.16.0

say() { echo "setup-browser: $*"; }
fail() {
  echo "setup-browser: FAILED: $*" >&2
  exit 1
}

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 ||
    fail "not root and no sudo: run this script as root"
  sudo_cmd=(sudo)
fi

apt_install() {
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq \
    --no-install-recommends -o=Dpkg::Use-Pty=0 "$@" >/dev/null
}

apt_update() {
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get update -qq \
    -o=Dpkg::Use-Pty=0 >/dev/null
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

need_apt() {
  local package="$1"
  if installed "$package"; then
    say "$package present"
    return
  fi
  say "installing $package"
  apt_install "$package" || {
    apt_update || fail "apt-get update failed"
    apt_install "$package" || fail "apt-get install $package failed"
  }
}

need_apt chromium
command -v npm >/dev/null 2>&1 || need_apt npm

package_json="$node_dir/node_modules/puppeteer-core/package.json"
if [ -f "$package_json" ] &&
  grep -q "\"version\": \"$puppeteer_version\"" "$package_json"; then
  say "puppeteer-core $puppeteer_version in .deps/node-browser"
else
  say "installing puppeteer-core $puppeteer_version into .deps/node-browser"
  mkdir -p "$node_dir"
  PUPPETEER_SKIP_DOWNLOAD=1 npm install --prefix "$node_dir" --no-save \
    --no-package-lock --no-audit --no-fund --loglevel=error \
    "puppeteer-core@$puppeteer_version" >/dev/null ||
    fail "npm install puppeteer-core@$puppeteer_version failed"
fi
